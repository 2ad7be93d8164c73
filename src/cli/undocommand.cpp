#include "cli/undocommand.h"

#include "cli/terminal.h"
#include "journal/journal.h"
#include "journal/undo.h"

namespace sorvane
{

int RunUndoCommand(Terminal& terminal)
{
    const QString path = LastUndoableJournal();
    if (path.isEmpty()) {
        terminal.error(QStringLiteral("sorvane: нечего отменять: нет переименования, которое не "
                                      "было бы отменено"));
        return 2;
    }
    Journal journal;
    QString error;
    if (!ReadJournal(path, journal, error)) {
        terminal.error(QStringLiteral("sorvane: %1").arg(error));
        return 2;
    }
    struct Progress : UndoObserver {
        Terminal& terminal;
        explicit Progress(Terminal& t) : terminal(t) {}
        bool proceed(int done, int total, const QString&) override
        {
            terminal.progress(done, total);
            return !terminal.outputClosed();
        }
    } progress(terminal);
    const UndoReport report = UndoJournal(journal, &progress);
    for (const UndoLine& line : report.lines) {
        if (line.reason.isEmpty())
            terminal.line(Terminal::quoted(line.from) + QStringLiteral(" -> ") +
                          Terminal::quoted(line.to));
        else
            terminal.line(Terminal::quoted(line.from) + QStringLiteral(": ") + line.reason);
    }
    terminal.line(UndoSummaryText(report));
    return report.notRestored.empty() && !report.stopped ? 0 : 1;
}

} // namespace sorvane
