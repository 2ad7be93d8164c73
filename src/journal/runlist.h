#pragma once

#include "journal/journalformat.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace sorvane
{

// A kept run (a folder run or a single rename) as the list of runs shows it.
struct RunInfo {
    enum class State {
        Live,           // its run or undo is under way in another Sorvane
        Done,           // ended, not undone
        Interrupted,    // killed before its end (or left so by the user's "Нет")
        UndoUnfinished, // an undo began and did not end: undoing again finishes it
        Undone,
        Refused, // the journal did not pass its checks: nothing is done with it
    };
    QString path;
    QString id;
    JournalKind kind = JournalKind::Run;
    QByteArray folder;
    qint64 started = 0; // ms since the epoch; 0 where unknown
    int files = 0;      // renamed as the journal says, or its entries where it did not end
    State state = State::Done;
    QString reason; // Refused: why

    bool undoable() const;
};

// The kept runs, newest first. Journals of undos written by older versions are left out.
std::vector<RunInfo> ListRuns();

// Of the runs, the newest one that can still be undone, or null.
const RunInfo* NewestUndoable(const std::vector<RunInfo>& runs);

// A newer run, not undone, that renamed in one of the folders this run renamed in: undoing this
// one first would take names from under it. Null when there is none. Reads the journals of both.
const RunInfo* NewerRunInTheWay(const std::vector<RunInfo>& runs, const RunInfo& run);

// The state as the list shows it ("готово", "отменено", ...).
QString RunStateText(const RunInfo& run);

// When, as the list and the questions show it: "09.12.2026 04:36".
QString RunTimeText(const RunInfo& run);

// Whether folders can be reached, each asked on a thread of its own and waited for at most
// `waitMs` in all: a dead network mount answers nothing, and the program does not wait for it.
enum class FolderCheck { Present, Missing, NoAnswer };
std::vector<FolderCheck> CheckFolders(const std::vector<QByteArray>& folders, int waitMs,
                                      std::vector<int>* errors = nullptr);

} // namespace sorvane
