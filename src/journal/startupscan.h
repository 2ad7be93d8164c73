#pragma once

#include "journal/journalformat.h"

#include <QString>

#include <vector>

namespace sorvane
{

// What the window asks about when it starts, found by reading alone: journals and the names of
// the files they speak of are looked at, nothing is changed, nothing locked.
struct StartUpScan {
    struct Interrupted {
        QString path;
        QByteArray folder;
        qint64 started = 0;
        int underNewNames = 0;       // files a "Да" would give back
        bool undoUnfinished = false; // an undo of it was killed midway
    };
    std::vector<Interrupted> interrupted; // newest first
    // Interrupted runs with nothing under a new name: the question would be idle.
    std::vector<QString> nothingToAsk;
    // Journals that do not pass their checks, each with the reason.
    std::vector<std::pair<QString, QString>> refused;
};

// Complete journals are read only as far as their last few KiB, interrupted ones whole; a
// journal a living process holds is passed over, and so is a folder that does not answer.
StartUpScan ScanJournalsAtStart();

} // namespace sorvane
