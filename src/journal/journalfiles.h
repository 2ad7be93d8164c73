#pragma once

#include "base/syscalls.h"
#include "journal/journalformat.h"

#include <QString>
#include <QStringList>

namespace sorvane
{

// Where journals live: $XDG_STATE_HOME/sorvane/runs, by default ~/.local/state/sorvane/runs.
QString JournalFolder();

// The journals in the folder, oldest first (their names begin with the time they were made).
QStringList JournalPaths();

// A journal's identifier as the user names it: its file name without ".journal", never a path.
QString JournalId(const QString& path);
// The journal of that identifier in the folder, or empty.
QString JournalPathForId(const QString& id);

// Opens a journal to read (or, with `write`, to append to) only if it is what Sorvane writes: a
// regular file, not a link, owned by the user, not writable by group or others, in the user's own
// journal folder (owned by the user, not writable by others). Invalid, with the reason in
// `error`, where it is not.
FileDescriptor OpenJournal(const QString& path, bool write, QString& error);

// Journals this process holds open as their writer or undoer: known from memory, never probed
// (a probe's close drops the holder's lock where flock is emulated with POSIX locks, as on NFS).
void HoldJournal(const QString& path);
void LetGoOfJournal(const QString& path);

// Whether a living process holds the journal: its run or undo is under way. Probed with a shared
// lock, which only a writer's exclusive lock refuses.
bool IsJournalLive(const QString& path);

// Keeps the newest `keep` journals of folder runs and the newest `keep` of single renames,
// removing older ones no living process holds.
void PruneJournals(int keep = 50);

// Journals the window has reported refused, so each is reported once; kept beside the journals.
bool WasReported(const QString& path);
void MarkReported(const QString& path);

} // namespace sorvane
