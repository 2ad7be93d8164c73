#include "ui/dialogs.h"

#include "base/error.h"
#include "ui/summarydialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>

namespace sorvane
{

namespace
{

class ProgressDialog : public Progress
{
public:
    // A total of 0 is a walk through folders: how many is not known ahead.
    ProgressDialog(QWidget* parent, int total, const QString& folder)
        : m_dialog(parent), m_total(total)
    {
        m_dialog.setWindowTitle(QStringLiteral("Sorvane"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setCancelButtonText(QStringLiteral("Отмена"));
        m_dialog.setRange(0, total);
        // Shown at once: the window decides when a run is long enough to need it.
        m_dialog.setMinimumDuration(0);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        // A screen reader hears which folder, and the count in coarse steps; the label changes
        // with every file and is seen, not read out.
        if (auto* bar = m_dialog.findChild<QProgressBar*>())
            bar->setAccessibleName(QDir::toNativeSeparators(folder));
        if (auto* label = m_dialog.findChild<QLabel*>())
            label->setAccessibleName(total == 0 ? QStringLiteral("Просмотр папок")
                                                : QStringLiteral("Ход переименования"));
        m_clock.start();
        setProgress(0, QString());
        m_dialog.show();
    }

    void setProgress(int done, const QString& name) override
    {
        const QString quoted = name.isEmpty() ? QString() : QStringLiteral("«%1»").arg(name);
        if (m_total == 0) {
            m_dialog.setLabelText(
                QStringLiteral("Просмотрено папок: %1\n%2").arg(done).arg(quoted));
            return;
        }
        m_dialog.setLabelText(
            QStringLiteral("Обработано файлов: %1 из %2\n%3").arg(done).arg(m_total).arg(quoted));
        // The bar moves (and announces itself) by tenths, or every few seconds on a slow drive.
        const int tenth = m_total > 0 ? int(qint64(done) * 10 / m_total) : 0;
        if (tenth != m_shownTenth || m_clock.elapsed() - m_shownAt >= 3000 || done == m_total) {
            m_shownTenth = tenth;
            m_shownAt = m_clock.elapsed();
            m_dialog.setValue(done);
        }
    }

    bool wasCanceled() const override { return m_dialog.wasCanceled(); }

private:
    QProgressDialog m_dialog;
    int m_total;
    QElapsedTimer m_clock;
    int m_shownTenth = -1;
    qint64 m_shownAt = 0;
};

} // namespace

QString SummaryDetailsText(const Summary& summary)
{
    return DetailsText(summary.folder, summary.emptyFolder, summary.rows);
}

QString StartFolder()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return !music.isEmpty() && QFileInfo(music).isDir() ? music : QDir::homePath();
}

QString AnyCaseFilter(const QString& filter)
{
    static const QRegularExpression patterns(QStringLiteral("\\(([^)]*)\\)"));
    const QRegularExpressionMatch match = patterns.match(filter);
    if (!match.hasMatch())
        return filter;
    QString anyCase;
    for (const QChar c : match.capturedView(1)) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            anyCase += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            anyCase += c;
    }
    return filter.left(match.capturedStart(1)) + anyCase + filter.mid(match.capturedEnd(1));
}

namespace
{

QString chosenPath(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

} // namespace

void KeepQtSettingsOffDisk()
{
    // Nothing can be made under /dev/null: QSettings fails to take its lock file and gives up at
    // once, before writing or syncing anything. Reading finds nothing, so no history either.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

// Each dialog is made for one use: one kept hidden goes on watching its folder, which a folder run
// is renaming, and GTK's stays on screen.
QString QtDialogs::getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& startPath)
{
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog shows the description alone, as the other dialogs do.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(AnyCaseFilter(filter));
    const QFileInfo start(startPath);
    if (start.isDir()) {
        dialog.setDirectory(startPath);
    } else {
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    return chosenPath(dialog);
}

QString QtDialogs::getExistingDirectory(QWidget* parent, const QString& title,
                                        const QString& startPath)
{
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Qt's dialog watches the folders it lists with inotify, and closing that descriptor waits for
    // the kernel's grace period, 5 to 16 ms, which came after the Return, before the run could
    // start. The watch ends once the dialog is up, while the user reads it: a dialog made for one
    // use can do without folders made while it is open.
    if (auto* model = dialog.findChild<QFileSystemModel*>()) {
        QTimer::singleShot(0, model,
                           [model] { model->setOption(QFileSystemModel::DontWatchForChanges); });
    }
    dialog.setDirectory(startPath);
    return chosenPath(dialog);
}

void QtDialogs::prepareMessages(QWidget* parent)
{
    // The icons of a message box and its button are looked up in the icon theme, thousands of
    // failed lookups the first time; a box built and dropped while the window idles leaves them
    // in Qt's icon cache.
    for (const QMessageBox::Icon icon : {QMessageBox::Information, QMessageBox::Warning}) {
        QMessageBox box(icon, QStringLiteral("Sorvane"), QString(), QMessageBox::Ok, parent);
        box.ensurePolished();
        box.adjustSize();
        box.button(QMessageBox::Ok)->icon().pixmap(QSize(16, 16));
    }
}

void QtDialogs::showMessage(QWidget* parent, MessageIcon icon, const QString& text,
                            const QString& details)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Sorvane"), text, QMessageBox::Ok, parent);
    box.setDetailedText(details);
    // Room for a list of files and reasons: the box sizes itself to its short text otherwise.
    if (auto* list = box.findChild<QTextEdit*>()) {
        const QFontMetrics metrics(list->font());
        list->setMinimumWidth(metrics.averageCharWidth() * 72);
    }
    box.exec();
}

std::unique_ptr<Progress> QtDialogs::showProgress(QWidget* parent, int total, const QString& folder)
{
    return std::make_unique<ProgressDialog>(parent, total, folder);
}

Answer QtDialogs::ask(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Sorvane"), text, QMessageBox::NoButton,
                    parent);
    // Texts set here, not left to Qt's translations or the platform's theme.
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (box.clickedButton() == no)
        return Answer::No;
    return Answer::Cancel;
}

Answer QtDialogs::askYesNo(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Sorvane"), text, QMessageBox::NoButton,
                    parent);
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    // Return takes the answer that changes nothing; "Да" takes a click, or Tab and Space.
    yes->setAutoDefault(false);
    box.setDefaultButton(no);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    return box.clickedButton() == no ? Answer::No : Answer::Cancel;
}

SummaryChoice QtDialogs::showSummary(QWidget* parent, const Summary& summary)
{
    SummaryDialog dialog(parent, summary);
    switch (dialog.exec()) {
    case SummaryDialog::UndoChosen:
        return SummaryChoice::Undo;
    case SummaryDialog::ReplaceChosen:
        return SummaryChoice::Replace;
    default:
        return SummaryChoice::Close;
    }
}

} // namespace sorvane
