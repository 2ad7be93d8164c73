#pragma once

namespace sorvane
{

class Terminal;

// sorvane --runs: the kept runs and single renames, newest first, a line each: the identifier
// --undo takes, when, the folder, the files renamed, the state. Always 0.
int RunRunsCommand(Terminal& terminal);

} // namespace sorvane
