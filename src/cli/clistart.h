#pragma once

namespace sorvane
{

struct CommandLine;

// A run from a terminal (--folder, --undo): a QtCore start without widgets or a display, the
// stop policy for termination signals, and a closed standard output taken as one. The program's
// exit code.
int RunCommandLine(int argc, char* argv[], const CommandLine& command);

} // namespace sorvane
