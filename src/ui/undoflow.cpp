#include "ui/undoflow.h"

#include "base/plural.h"
#include "base/stoppolicy.h"
#include "journal/journalfiles.h"
#include "journal/journalwriter.h"
#include "journal/runlist.h"
#include "journal/undo.h"
#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <thread>

namespace sorvane
{

namespace
{

QString filesText(int count)
{
    return Plural(count, "%1 файл", "%1 файла", "%1 файлов");
}

QString folderText(const QByteArray& folder)
{
    return QuotedPath(QFile::decodeName(folder));
}

} // namespace

QString SummaryFileName(const QString& folder)
{
    const QString name = QFileInfo(folder).fileName();
    return QStringLiteral("%1 %2.txt")
        .arg(name.isEmpty() ? QStringLiteral("Sorvane") : name,
             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
}

UndoFlow::UndoFlow(QWidget& window, Dialogs& dialogs, WindowWork& work)
    : m_window(window), m_dialogs(dialogs), m_work(work), m_alive(std::make_shared<bool>(true))
{
}

UndoFlow::~UndoFlow()
{
    *m_alive = false;
}

void UndoFlow::offerNewest()
{
    const std::vector<RunInfo> runs = ListRuns();
    const RunInfo* run = NewestUndoable(runs);
    if (!run) {
        m_dialogs.showMessage(&m_window, MessageIcon::Information,
                              QStringLiteral("Нет переименования, которое можно отменить."),
                              QString());
        return;
    }
    const QString what =
        run->kind == JournalKind::Single
            ? QStringLiteral("Вернуть прежнее имя файлу, переименованному %1 в "
                             "папке %2?")
                  .arg(RunTimeText(*run), folderText(run->folder))
            : QStringLiteral("Вернуть прежние имена переименования от %1 в папке "
                             "%2 (%3)?")
                  .arg(RunTimeText(*run), folderText(run->folder), filesText(run->files));
    if (m_dialogs.askYesNo(&m_window, what) == Answer::Yes)
        undo(run->path);
}

void UndoFlow::undo(const QString& path)
{
    const auto refuse = [this](const QString& why) {
        m_dialogs.showMessage(&m_window, MessageIcon::Warning,
                              QStringLiteral("Прежние имена не возвращены: %1.").arg(why),
                              QString());
    };
    const std::vector<RunInfo> runs = ListRuns();
    for (const RunInfo& run : runs) {
        if (run.path != path)
            continue;
        if (const RunInfo* newer = NewerRunInTheWay(runs, run)) {
            refuse(QStringLiteral("сначала отмените более позднее переименование %1 в папке %2")
                       .arg(RunTimeText(*newer), folderText(newer->folder)));
            return;
        }
    }
    QString error;
    const std::unique_ptr<Undo> undo = Undo::open(path, error);
    if (!undo) {
        refuse(error);
        return;
    }
    if (!undo->canRecord(error)) {
        const Answer answer = m_dialogs.askYesNo(
            &m_window, error + QStringLiteral(" Если отмену прервать, файл может остаться под "
                                              "временным именем, которое следующая отмена не "
                                              "найдёт. Всё равно вернуть прежние имена?"));
        if (answer != Answer::Yes)
            return;
        undo->withoutRecords();
    }
    m_work.running = true;
    UndoReport report;
    {
        RunProgress progress(m_window, m_dialogs, m_work, int(undo->journal().entries.size()),
                             QFile::decodeName(undo->journal().folder));
        report = undo->run(&progress);
    }
    m_work.running = false;
    if (m_work.closeRequested || StopRequested()) {
        m_window.close();
        return;
    }
    Summary summary;
    summary.text = UndoSummaryText(report);
    if (report.refusal.isEmpty())
        summary.countLine =
            Plural(report.restored, "Возвращено прежнее имя %1 файлу.",
                   "Возвращены прежние имена %1 файлам.", "Возвращены прежние имена %1 файлам.");
    summary.secondLine = UndoSecondLine(report);
    summary.folder = report.folder;
    std::vector<DetailsRow> rows = report.notRestored;
    rows.insert(rows.end(), report.notes.begin(), report.notes.end());
    if (!report.journalFailure.isEmpty())
        rows.push_back(
            {QString(), QString(),
             QStringLiteral("Журнал отмены записан не до конца: %1").arg(report.journalFailure)});
    summary.rows = DetailsTable(std::move(rows));
    summary.saveName = SummaryFileName(report.folder);
    m_dialogs.showSummary(&m_window, summary);
}

void UndoFlow::checkInterruptedRuns()
{
    // The scan reads only; it may take long (thousands of journals, a slow stick). Its result
    // comes back through the application's queue, to be asked about while the window lives.
    const std::shared_ptr<bool> alive = m_alive;
    QPointer<QWidget> window(&m_window);
    const auto scan = [this, alive, window] {
        auto result = std::make_shared<StartUpScan>(ScanJournalsAtStart());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive, window, result] {
                if (*alive && window)
                    askAbout(*result);
            },
            Qt::QueuedConnection);
    };
    try {
        std::thread(scan).detach();
    } catch (const std::system_error&) {
        askAbout(ScanJournalsAtStart()); // no thread to be had: read here
    }
}

void UndoFlow::askAbout(const StartUpScan& scan)
{
    QStringList refused;
    for (const auto& [path, reason] : scan.refused) {
        if (!WasReported(path)) {
            refused << reason;
            MarkReported(path);
        }
    }
    if (!refused.isEmpty())
        m_dialogs.showMessage(
            &m_window, MessageIcon::Warning,
            QStringLiteral("Журналы переименований не прошли проверку, и по ним ничего не будет "
                           "сделано. Они остаются в папке %1.")
                .arg(QuotedPath(JournalFolder())),
            refused.join(QLatin1Char('\n')));
    QString ignored;
    for (const QString& path : scan.nothingToAsk)
        MarkJournalDismissed(path, ignored);
    for (const StartUpScan::Interrupted& run : scan.interrupted) {
        const QString files = Plural(run.underNewNames, "%1 файл под новым именем",
                                     "%1 файла под новыми именами", "%1 файлов под новыми именами");
        const QString when = QDateTime::fromMSecsSinceEpoch(run.started)
                                 .toLocalTime()
                                 .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
        const QString text =
            run.undoUnfinished
                ? QStringLiteral("Отмена прошлого переименования (%1, папка %2) была прервана: "
                                 "%3. Вернуть прежние имена?")
                      .arg(when, folderText(run.folder), files)
                : QStringLiteral("Прошлое переименование было прервано (%1, папка %2): %3. "
                                 "Вернуть прежние имена?")
                      .arg(when, folderText(run.folder), files);
        const Answer answer = m_dialogs.askYesNo(&m_window, text);
        if (answer == Answer::Yes)
            undo(run.path);
        else if (answer == Answer::No)
            MarkJournalDismissed(run.path, ignored);
        // Escape or a closed box: asked again at the next start.
    }
}

} // namespace sorvane
