#pragma once

#include "fs/movefile.h"

#include <QByteArray>

#include <functional>

namespace sorvane
{

class JournalWriter;

// What the moves of the file of entry `number` tell the journal, each leftover on record before
// its step; `folder` is the entry's folder below the journal's, or empty. `failed` is told when
// a record could not be written (the step still goes on: the user is told the run cannot be taken
// back in full). `recorded` answers whether a journal shows a leftover of this very move.
MoveRecords RecordMovesOf(JournalWriter* writer, int number, const QByteArray& folder,
                          std::function<void()> failed,
                          std::function<bool(Leftover, const char*)> recorded);

} // namespace sorvane
