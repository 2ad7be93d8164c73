#include "base/openfiles.h"
#include "cli/commandline.h"
#include "ui/startup.h"

#include <cstdio>

// The window's program, which the command line starts in its own place: it takes what the
// window takes, a file to open.
int main(int argc, char* argv[])
{
    sorvane::RaiseOpenFileLimit();
    const sorvane::CommandLine command = sorvane::ParseCommandLine(argc, argv);
    if (command.action != sorvane::CommandLine::Window) {
        std::fputs("sorvane-window: only shows the window; run sorvane for the rest.\n", stderr);
        return 2;
    }
    return sorvane::StartUp(argc, argv, command.file);
}
