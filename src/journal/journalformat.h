#pragma once

#include "fs/fileidentity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <string>
#include <vector>

namespace sorvane
{

// A journal is a text file, a line per record, fields split by tabs, names as printable text
// (PrintableName, quoted) so that any bytes survive and a plain name reads as itself:
//
//   sorvane journal 2
//   kind     run | single
//   folder   the absolute path of the run's folder
//   started  milliseconds since the epoch
//   entry    N  old  new  inode|-  size  mtime|-  digest  offset  length  time
//   aside    N  name        the file may be under this name on its way (a change of letter case)
//   reserve  N  name        an empty file may reserve this name for it (drives without links)
//   link     N              it may be under both its names, between link and unlink
//   nolink   N              the link of the record before was refused: no second name
//   named    N              it had its name already: nothing was moved
//   settime                 renames here set a file's time: each entry's time is to be put back
//   end      complete  R    the run ended, R files renamed (or: end dismissed)
//   undo     started  ms    an undo began; its steps add aside, reserve and link records
//   undone   ms             the undo ended with every file back
//
// The identity's time is on record only where the drive keeps it; the entry's last field is the
// time the file had, to be put back where a rename changes it.
// Entry numbers run 0, 1, 2, ...; names are relative to the folder and an entry's names lie in
// one folder below it. Version 1 journals (an identity of inode, size and time, "reserve N"
// without a name, "undone NAME") are read too.

enum class JournalKind { Run, Single, Undo };

// One rename of a run, as the journal keeps it: names relative to the run's folder, as the file
// system's own bytes.
struct JournalEntry {
    QByteArray oldName;
    QByteArray newName;
    FileIdentity identity;
    qint64 time = -1; // the file's modification time before the run, ns; -1 where not on record
    // Where the moves of this file may have left it or something of Sorvane's: names aside that
    // may hold it, names an empty file may reserve, whether it may be under both names.
    std::vector<QByteArray> asides;
    std::vector<QByteArray> reserved;
    bool linked = false;
    bool named = false;      // it had its name: never moved, never moved back
    bool reservedV1 = false; // version 1: "reserve N" named no name (its new one, or one aside)
};

// A journal as read back and checked.
struct Journal {
    QString path;
    int version = 2;
    JournalKind kind = JournalKind::Run;
    QByteArray folder;
    qint64 started = 0; // ms since the epoch; 0 where not on record
    std::vector<JournalEntry> entries;
    bool complete = false; // "end complete": the run ended of itself
    // The user chose to leave an interrupted run, or an unfinished undo, as it is.
    bool dismissed = false;
    int renamed = 0;          // as the end line says
    bool undoStarted = false; // an undo began and has not ended
    bool setsTime = false;    // renames on the run's drive were seen to set a file's time
    bool undone = false;
    bool cutLine = false; // its last line had no line end (the writer was killed): left out
};

// The first line of a journal of this version.
QByteArray JournalFirstLine(int version = 2);
const char* JournalKindName(JournalKind kind);

// The lines a journal writer writes, each with its line end.
QByteArray JournalHeader(JournalKind kind, const QByteArray& folder, qint64 started);
// A folder below the run's root as entry lines name it, escaped once for a run of its files.
class PrintedFolder
{
public:
    void set(QByteArrayView folder);
    // Empty for the root itself, else the escaped folder and "/".
    const std::string& prefix() const { return m_prefix; }

private:
    QByteArray m_folder;
    std::string m_prefix;
};
void AppendEntryLine(std::string& out, int number, const PrintedFolder& folder,
                     QByteArrayView oldName, QByteArrayView newName, const FileIdentity& identity,
                     qint64 time);
QByteArray RecordLine(const char* word, int number, QByteArrayView name = QByteArrayView());

// Reads a journal's lines one by one, checks each, and builds the Journal. The first error ends
// the trust in the whole journal: it is refused with a reason that names the line.
class JournalParser
{
public:
    explicit JournalParser(Journal& journal) : m_journal(journal) {}

    // The first line; false where it is not one of a journal.
    bool firstLine(QByteArrayView line);
    // Every later line, in order; false with error() set where it breaks the grammar.
    bool line(QByteArrayView line);
    // At the end: false where what came is no whole journal.
    bool finish();

    const QString& error() const { return m_error; }
    int lineNumber() const { return m_line; }

private:
    bool fail(const QString& why);
    bool entry(const QList<QByteArray>& fields);
    bool record(const QList<QByteArray>& fields);
    JournalEntry* numbered(const QByteArray& field);
    bool checkedName(const QByteArray& field, QByteArray& name, const QByteArray* sameFolderAs);

    Journal& m_journal;
    QString m_error;
    int m_line = 0;
    bool m_sawFolder = false;
    bool m_sawKind = false;
};

// Whether a name read from a journal may be acted on: relative, every component non-empty and
// neither "." nor "..", no NUL.
bool IsSafeRelativeName(QByteArrayView name);

} // namespace sorvane
