#include "cli/undocommand.h"

#include "base/error.h"
#include "cli/terminal.h"
#include "journal/runlist.h"
#include "journal/undo.h"

namespace sorvane
{

namespace
{

struct Progress : UndoObserver {
    Terminal& terminal;
    explicit Progress(Terminal& t) : terminal(t) {}
    bool proceed(int done, int total, const QString&) override
    {
        terminal.progress(done, total);
        return !terminal.outputClosed();
    }
};

// The run to take back, or null with the reason said.
const RunInfo* chosen(const std::vector<RunInfo>& runs, const QString& id, Terminal& terminal)
{
    if (id.isEmpty()) {
        const RunInfo* newest = NewestUndoable(runs);
        if (!newest)
            terminal.error(QStringLiteral("sorvane: нечего отменять: нет переименования, которое "
                                          "не было бы отменено"));
        return newest;
    }
    for (const RunInfo& run : runs) {
        if (run.id != id)
            continue;
        if (run.state == RunInfo::State::Refused)
            terminal.error(QStringLiteral("sorvane: %1").arg(run.reason));
        else if (run.state == RunInfo::State::Undone)
            terminal.error(QStringLiteral("sorvane: %1 уже отменено").arg(id));
        else if (run.state == RunInfo::State::Live)
            terminal.error(QStringLiteral("sorvane: %1 сейчас выполняет другой Sorvane").arg(id));
        else if (!run.undoable())
            terminal.error(QStringLiteral("sorvane: %1 ничего не переименовало").arg(id));
        else
            return &run;
        return nullptr;
    }
    terminal.error(
        QStringLiteral("sorvane: переименования %1 нет; список: sorvane --runs").arg(id));
    return nullptr;
}

void print(const UndoReport& report, Terminal& terminal)
{
    for (const UndoLine& line : report.lines) {
        if (line.reason.isEmpty())
            terminal.line(Terminal::quoted(line.from) + QStringLiteral(" -> ") +
                          Terminal::quoted(line.to));
        else
            terminal.line(Terminal::quoted(line.from) + QStringLiteral(": ") + line.reason);
    }
    for (const DetailsRow& row : report.notRestored) {
        if (row.newName.isEmpty()) // a folder of files, not a file
            terminal.line(QStringLiteral("\"%1\": %2").arg(row.path, row.reason));
    }
    for (const DetailsRow& row : report.notes)
        terminal.line(QStringLiteral("\"%1\": %2").arg(row.path, row.reason));
    if (!report.journalFailure.isEmpty())
        terminal.error(
            QStringLiteral("Журнал отмены записан не до конца: %1").arg(report.journalFailure));
    terminal.line(UndoSummaryText(report));
    if (const QString second = UndoSecondLine(report); !second.isEmpty())
        terminal.line(second);
}

} // namespace

int RunUndoCommand(Terminal& terminal, const QString& id)
{
    const std::vector<RunInfo> runs = ListRuns();
    const RunInfo* run = chosen(runs, id, terminal);
    if (!run)
        return 2;
    if (const RunInfo* newer = NewerRunInTheWay(runs, *run)) {
        terminal.error(QStringLiteral("sorvane: сначала отмените более позднее переименование %1 "
                                      "(%2, %3): оно переименовывало в тех же папках")
                           .arg(newer->id, RunTimeText(*newer), Terminal::quoted(newer->folder)));
        return 2;
    }
    QString error;
    const std::unique_ptr<Undo> undo = Undo::open(run->path, error);
    if (!undo) {
        terminal.error(QStringLiteral("sorvane: %1").arg(error));
        return 2;
    }
    if (!undo->canRecord(error)) {
        terminal.error(QStringLiteral("sorvane: %1 Ничего не возвращено.").arg(error));
        return 2;
    }
    Progress progress(terminal);
    const UndoReport report = undo->run(&progress);
    if (!report.refusal.isEmpty()) {
        terminal.error(QStringLiteral("sorvane: %1").arg(UndoSummaryText(report)));
        return 1;
    }
    print(report, terminal);
    return report.allBack() && report.journalFailure.isEmpty() && !report.cut ? 0 : 1;
}

} // namespace sorvane
