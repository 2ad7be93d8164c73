#pragma once

#include "base/syscalls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace sorvane
{

// How a file is known again after a rename and a new mount: size and modification time always,
// the inode number only where the file system keeps one per file; never the device number,
// which a stick or a FUSE drive changes at every mount.
struct FileIdentity {
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    qint64 inode = -1;   // -1 where not kept
};

// One rename of a run, as the journal keeps it: names relative to the run's folder, as the file
// system's own bytes.
struct JournalEntry {
    QByteArray oldName;
    QByteArray newName;
    QByteArray asideName; // the name aside a case-only move took on its way, if it took one
    FileIdentity identity;
    bool reserved = false; // the move reserved a name with an empty file on its way
};

enum class JournalKind { Run, Single, Undo };

// Where journals live: $XDG_STATE_HOME/sorvane/runs, by default ~/.local/state/sorvane/runs.
QString JournalFolder();

// A journal being written: a text file, a line per record, written ahead of the renames it
// records and held with flock while its run is alive, so a run killed at any moment leaves what
// is needed to take every rename back. Names are stored byte for byte, yet a plain name reads as
// itself in a text editor.
class JournalWriter
{
public:
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // A new journal for a run over `folder` (its absolute path, as bytes); null, with the reason
    // in `error`, when it cannot be made.
    static std::unique_ptr<JournalWriter> create(JournalKind kind, const QByteArray& folder,
                                                 QString& error, const QString& undoes = QString());

    // The entries of the next renames, in one write; their numbers follow on from the last.
    bool writeAhead(const std::vector<JournalEntry>& entries);
    // The same an entry at a time: `folder` is the names' folder below the run's, or empty; the
    // entries gather until flush() writes them at once. The number the entry gets.
    int add(QByteArrayView folder, QByteArrayView oldName, QByteArrayView newName,
            const FileIdentity& identity);
    bool flush();
    // The name aside that entry `number` is about to take; that it is about to reserve a name.
    bool writeAside(int number, const QByteArray& asideName);
    bool writeReserve(int number);
    // Marks the journal complete, with the number of files renamed, and syncs it to disk.
    bool close(int renamed);

    const QString& path() const { return m_path; }
    int written() const { return m_next; }

private:
    JournalWriter() = default;
    bool writeLine(const QByteArray& line);

    QString m_path;
    FileDescriptor m_fd;
    int m_next = 0;
    bool m_closed = false;
    std::string m_pending; // entries not yet written
};

// A journal read back; a torn last line (no line end) is left out.
struct Journal {
    QString path;
    JournalKind kind = JournalKind::Run;
    QByteArray folder;
    QString undoes; // for an undo: the file name of the journal it undid
    std::vector<JournalEntry> entries;
    bool complete = false;
    int renamed = 0; // as the journal says at its end
    bool undone = false;
};

// False, with the reason, when the journal cannot be read or is not one.
bool ReadJournal(const QString& path, Journal& journal, QString& error);

// The journals in the folder, oldest first.
QStringList JournalPaths();

// Whether a living process holds the journal (its run is under way).
bool IsJournalLocked(const QString& path);

// Appends a mark: that the run was undone (by the journal named), or that the user chose to
// leave an interrupted run as it is.
bool MarkJournalUndone(const QString& path, const QString& undoJournal);
bool MarkJournalDismissed(const QString& path);

// Whether a journal on disk records the move of this file (size, modification time, and inode
// where kept) from `from` to `to` in `folder` (an absolute path); with `reserved`, one that
// reserved its new name on the way.
bool JournalsRecordMove(const QByteArray& folder, const char* from, const char* to,
                        const struct stat& file, bool reserved = false);

// Keeps the newest `keep` journals of folder runs (and of undos), removing older ones not
// locked; single-file journals count with them.
void PruneJournals(int keep = 50);

} // namespace sorvane
