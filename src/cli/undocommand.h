#pragma once

namespace sorvane
{

class Terminal;

// sorvane --undo: takes the last folder run not yet undone back. 0 when every file went back, 1
// when some did not, 2 when there is nothing to undo or the journal cannot be read.
int RunUndoCommand(Terminal& terminal);

} // namespace sorvane
