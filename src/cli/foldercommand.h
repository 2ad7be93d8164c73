#pragma once

namespace sorvane
{

struct CommandLine;
class Terminal;

// sorvane --folder DIR: the window's folder run without the window. 0 when every file was renamed
// or had its name already; 1 when some were not renamed or not reached, or a folder of the tree
// was not entered; 2 when the folder cannot be opened.
int RunFolderCommand(const CommandLine& command, Terminal& terminal);

} // namespace sorvane
