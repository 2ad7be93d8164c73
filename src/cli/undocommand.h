#pragma once

#include <QString>

namespace sorvane
{

class Terminal;

// sorvane --undo [RUN]: takes a run or single rename back, the one named or the newest not yet
// undone. 0 when every file went back, 1 when some did not, 2 when nothing could be undone
// (nothing to undo, a journal refused or busy, its own records not writable, a newer run over
// the same folders in the way).
int RunUndoCommand(Terminal& terminal, const QString& run);

} // namespace sorvane
