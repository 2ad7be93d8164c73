#include "base/openfiles.h"
#include "cli/clistart.h"
#include "cli/commandline.h"
#include "cli/windowlaunch.h"

#include <QString>

#include <cstdio>

namespace
{

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

} // namespace

// A run from a terminal, or the window's program in this one's place; help and version need
// neither a display nor Qt's start.
int main(int argc, char* argv[])
{
    sorvane::RaiseOpenFileLimit();
    const sorvane::CommandLine command = sorvane::ParseCommandLine(argc, argv);
    switch (command.action) {
    case sorvane::CommandLine::Help:
        print(stdout, sorvane::HelpText());
        return 0;
    case sorvane::CommandLine::Version:
        print(stdout, QStringLiteral("sorvane %1\n").arg(QStringLiteral(SORVANE_VERSION)));
        return 0;
    case sorvane::CommandLine::Mistake:
        print(stderr, QStringLiteral("sorvane: %1\nTry 'sorvane --help'.\n").arg(command.error));
        return 2;
    case sorvane::CommandLine::Undo:
    case sorvane::CommandLine::Runs:
    case sorvane::CommandLine::Folder:
        return sorvane::RunCommandLine(argc, argv, command);
    case sorvane::CommandLine::Window:
        break;
    }
    return sorvane::LaunchWindow(argv);
}
