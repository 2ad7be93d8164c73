#include "cli/runscommand.h"

#include "base/plural.h"
#include "cli/terminal.h"
#include "journal/runlist.h"

namespace sorvane
{

namespace
{

// However many folders sit on dead network mounts, the list answers within this.
constexpr int FolderCheckMs = 400;

} // namespace

int RunRunsCommand(Terminal& terminal)
{
    const std::vector<RunInfo> runs = ListRuns();
    if (runs.empty()) {
        terminal.line(QStringLiteral("Сохранённых переименований нет."));
        return 0;
    }
    std::vector<QByteArray> folders;
    for (const RunInfo& run : runs)
        folders.push_back(run.folder.isEmpty() ? QByteArray("/") : run.folder);
    const std::vector<FolderCheck> checks = CheckFolders(folders, FolderCheckMs);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunInfo& run = runs[i];
        QString state = RunStateText(run);
        if (run.state != RunInfo::State::Refused && checks[i] == FolderCheck::Missing)
            state += QStringLiteral(", папка не найдена");
        else if (run.state != RunInfo::State::Refused && checks[i] == FolderCheck::NoAnswer)
            state += QStringLiteral(", папка не отвечает");
        const QString files = run.state == RunInfo::State::Refused
                                  ? QStringLiteral("?")
                                  : Plural(run.files, "%1 файл", "%1 файла", "%1 файлов");
        terminal.line(
            QStringLiteral("%1  %2  %3  %4  %5")
                .arg(run.id, RunTimeText(run), Terminal::quoted(run.folder), files, state));
    }
    return 0;
}

} // namespace sorvane
