#include "cli/foldercommand.h"

#include "cli/commandline.h"
#include "cli/terminal.h"

namespace sorvane
{

int RunFolderCommand(const CommandLine&, Terminal& terminal)
{
    terminal.error(QStringLiteral("sorvane: --folder is not there yet"));
    return 2;
}

} // namespace sorvane
