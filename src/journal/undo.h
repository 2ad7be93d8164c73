#pragma once

#include "journal/journalformat.h"
#include "names/detailsrow.h"

#include <QString>

#include <memory>
#include <vector>

namespace sorvane
{

class JournalWriter;

// Told before each file of an undo how far it has come; answering false stops it.
class UndoObserver
{
public:
    virtual ~UndoObserver() = default;
    virtual bool proceed(int done, int total, const QString& name) = 0;
};

// One file an undo took back, or left where it is with the reason; names below the run's folder,
// as the file system's bytes.
struct UndoLine {
    QByteArray from;
    QByteArray to;
    QString reason; // empty when taken back
};

struct UndoReport {
    QString folder;
    std::vector<UndoLine> lines; // in the order of the undo
    int restored = 0;            // files this undo gave their old names back
    int alreadyBack = 0;         // files found under their old names already
    // Each file, or folder of files, that stays, and why, as the details show it.
    std::vector<DetailsRow> notRestored;
    int notGivenBack = 0; // files not back: those listed, and those not reached after a stop
    bool stopped = false;
    // The run did not end: renames it made after its last whole entry, if any, cannot be found.
    bool interrupted = false;
    // Its journal ends in the middle of a line: an entry was being written, so a file may have
    // been renamed that the journal cannot name.
    bool cut = false;
    QString journalFailure; // the undo's own records stopped being written, and why
    // Set when nothing at all was done: the run's folder cannot be reached. One line.
    QString refusal;
    // What else it did or could not do: leftovers of a killed move removed, times not put back.
    std::vector<DetailsRow> notes;

    // Every file the run renamed is back under its old name, each one checked.
    bool allBack() const { return refusal.isEmpty() && notGivenBack == 0 && !stopped; }
};

// An undo of one run, from its journal: opened under the journal's exclusive lock, so no two
// undos of one run go at once, and read and checked whole before anything moves.
class Undo
{
public:
    ~Undo();
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;

    // Null, with the reason in one line, when the run cannot be undone now: its journal is
    // refused, held by another Sorvane, of an undo, or undone already.
    static std::unique_ptr<Undo> open(const QString& path, QString& error);

    const Journal& journal() const { return m_journal; }

    // Whether the undo can keep its own records (the disk has room for them): without them, an
    // undo killed midway may leave a file under a name aside that the next undo does not know.
    // False, with why, when they cannot be kept.
    bool canRecord(QString& why);
    // Goes on without records, once the user knows.
    void withoutRecords() { m_record = false; }

    // Takes the run back, last rename first, with the rename that never replaces. A file found
    // under its new name (or one aside), with the identity on record, goes back to its old name;
    // one under its old name already is back. One whose old name another file holds now, or
    // whose new name holds another file, stays and is listed. Each folder is locked while its
    // files go back. The run is marked undone only when every file is back; a stopped undo leaves
    // the rest to be undone again.
    UndoReport run(UndoObserver* observer = nullptr);

private:
    Undo() = default;

    std::unique_ptr<JournalWriter> m_writer;
    Journal m_journal;
    bool m_record = true;
};

// Of a journal's renames, those whose file is under its new name (or one aside) now, by looking
// alone: nothing is changed, nothing locked.
int FilesUnderNewNames(const Journal& journal);

// The summary of an undo: "Прежние имена возвращены." only when every file is back; otherwise
// how many are not, "1 файл не возвращён!", "2 файла не возвращено!", "5 файлов не возвращено!".
QString UndoSummaryText(const UndoReport& report);
// The line below it: that the undo was stopped, or that the run had been interrupted; else empty.
QString UndoSecondLine(const UndoReport& report);

} // namespace sorvane
