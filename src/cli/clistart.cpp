#include "cli/clistart.h"

#include "base/stoppolicy.h"
#include "cli/commandline.h"
#include "cli/foldercommand.h"
#include "cli/runscommand.h"
#include "cli/terminal.h"
#include "cli/undocommand.h"
#include "tag/codepage.h"

#include <QCoreApplication>

#include <csignal>

namespace sorvane
{

int RunCommandLine(int argc, char* argv[], const CommandLine& command)
{
    InstallStopPolicy();
    // A reader that went away (`| head`) ends the run as a signal would, journal closed, rather
    // than killing the program in the middle of it.
    std::signal(SIGPIPE, SIG_IGN);
    if (command.codePage != 0)
        ChooseAnsiCodePage(command.codePage);
    QCoreApplication app(argc, argv);
    Terminal terminal;
    // A termination signal stops a run as Cancel would: the summary is printed, and the exit
    // status (1) says the run did not finish.
    int code = 0;
    switch (command.action) {
    case CommandLine::Undo:
        code = RunUndoCommand(terminal, command.run);
        break;
    case CommandLine::Runs:
        code = RunRunsCommand(terminal);
        break;
    default:
        code = RunFolderCommand(command, terminal);
        break;
    }
    // Lines that could not be written are a run the user was not told of in full.
    return terminal.finish() || code != 0 ? code : 1;
}

} // namespace sorvane
