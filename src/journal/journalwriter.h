#pragma once

#include "base/syscalls.h"
#include "journal/journalformat.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <string>

namespace sorvane
{

// A journal being written by its one writer: held with an exclusive flock for as long as its run
// or undo is alive, written ahead of the renames it records, so a run killed at any moment leaves
// what is needed to take every rename back.
class JournalWriter
{
public:
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // A new journal for a run over `folder` (its absolute path, as bytes). It appears in the
    // journal folder only once locked and with its header written, so no other process ever sees
    // it half made. Null, with the reason in `error`, when it cannot be made; nothing is left.
    static std::unique_ptr<JournalWriter> create(JournalKind kind, const QByteArray& folder,
                                                 QString& error);

    // A journal of a run already ended, opened to add the records of its undo, under its lock.
    // Null, with the reason, when it cannot be opened or locked; `held` when another Sorvane
    // holds it. A last line cut short by a kill is cut off first.
    static std::unique_ptr<JournalWriter> reopen(const QString& path, QString& error, bool& held);

    // The entry of the next rename, gathered with others until flush() writes them at once;
    // `folder` is the names' folder below the run's, or empty; `time` the file's modification
    // time, to be put back where a rename changes it. The number the entry gets.
    int add(QByteArrayView folder, QByteArrayView oldName, QByteArrayView newName,
            const FileIdentity& identity, qint64 time);
    // A record of an entry, gathered the same way ("named" after a file turned out named).
    void addRecord(const char* word, int number, QByteArrayView name = QByteArrayView());
    bool flush();
    // A record written at once, before the step it is about (a name aside, a reservation, a
    // link): what is gathered goes first.
    bool record(const char* word, int number, QByteArrayView name = QByteArrayView());
    // Room on the disk for `bytes` more, asked of the drive ahead where it can say: false when the
    // disk is full. Drives that cannot tell count as having room.
    bool reserve(qint64 bytes);
    // Marks the run complete, with the number of files renamed, and syncs it to disk.
    bool close(int renamed);
    // An undo's beginning and its end with every file back, each synced to disk.
    bool markUndoStarted();
    bool markUndone();
    // That the user chose to leave an interrupted run as it is.
    bool markDismissed();
    // That renames on the run's drive set a file's time: written once, at once.
    bool markSetsTime();

    const QString& path() const { return m_path; }
    int written() const { return m_next; }
    // Reopened, its last line had been cut short by a kill, and was cut off.
    bool cutOff() const { return m_cutOff; }
    // The system's code of the first write that failed, else 0.
    int error() const { return m_error; }

private:
    JournalWriter() = default;
    bool write(const char* bytes, std::size_t size);
    bool writeLine(const QByteArray& line);
    bool writeMark(const std::string& line); // written and synced

    QString m_path;
    FileDescriptor m_fd;
    int m_next = 0;
    int m_error = 0;
    bool m_closed = false;
    bool m_setsTimeMarked = false;
    bool m_cutOff = false;
    std::string m_pending; // entries not yet written
    PrintedFolder m_entryFolder;
};

// Appends to a journal no living process holds that the user chose to leave its interrupted run
// as it is. A last line cut short by a kill is cut off first (it was never a whole record), so
// the mark can never fuse with it. False, with the reason, where it cannot be written.
bool MarkJournalDismissed(const QString& path, QString& error);

} // namespace sorvane
