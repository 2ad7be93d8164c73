#pragma once

#include "journal/journal.h"
#include "names/detailsrow.h"

#include <QString>

#include <vector>

namespace sorvane
{

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
    int alreadyBack = 0;         // files found under their old names (journaled, never renamed)
    std::vector<DetailsRow> notRestored; // each file that stays, and why, as the details show it
    bool stopped = false;
    QString journalFailure; // why the undo's own journal could not be written, where it could not
};

// Takes a run back from its journal, last rename first, with the rename that never replaces: a
// file found under its new (or aside) name with the identity on record goes back to its old
// name; one under its old name already is back. One whose old name another file holds now, or
// whose new name holds another file, stays and is listed. The undo is journaled too and marks
// the run undone; run again, an undo killed midway is finished.
UndoReport UndoJournal(const Journal& journal, UndoObserver* observer = nullptr);

// The newest journal of a folder run not yet undone, or empty.
QString LastUndoableJournal();

// Of a journal's renames, those whose file is under its new (or aside) name now. On the way,
// the empty file a killed rename left in reserving a new name is removed, where its old name
// still holds the file.
int FilesUnderNewNames(const Journal& journal);

// The summary of an undo: "Прежние имена возвращены." or "N файлов не возвращено!".
QString UndoSummaryText(const UndoReport& report);

} // namespace sorvane
