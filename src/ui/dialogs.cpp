#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

namespace sorvane
{

namespace
{

class ProgressDialog : public Progress
{
public:
    ProgressDialog(QWidget* parent, int total) : m_dialog(parent), m_total(total)
    {
        m_dialog.setWindowTitle(QStringLiteral("Sorvane"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setCancelButtonText(QStringLiteral("Отмена"));
        m_dialog.setRange(0, total);
        // Shown at once: the window decides when a run is long enough to need it.
        m_dialog.setMinimumDuration(0);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        setProgress(0, QString());
        m_dialog.show();
    }

    void setProgress(int done, const QString& fileName) override
    {
        m_dialog.setLabelText(
            QStringLiteral("Обработано файлов: %1 из %2\n%3")
                .arg(done)
                .arg(m_total)
                .arg(fileName.isEmpty() ? QString() : QStringLiteral("«%1»").arg(fileName)));
        m_dialog.setValue(done);
    }

    bool wasCanceled() const override { return m_dialog.wasCanceled(); }

private:
    QProgressDialog m_dialog;
    int m_total;
};

} // namespace

QString QtDialogs::getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& startPath)
{
    return QFileDialog::getOpenFileName(parent, title, startPath, filter);
}

QString QtDialogs::getExistingDirectory(QWidget* parent, const QString& title)
{
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

void QtDialogs::showMessage(QWidget* parent, MessageIcon icon, const QString& text,
                            const QString& details)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Sorvane"), text, QMessageBox::Ok, parent);
    box.setDetailedText(details);
    box.exec();
}

std::unique_ptr<Progress> QtDialogs::showProgress(QWidget* parent, int total)
{
    return std::make_unique<ProgressDialog>(parent, total);
}

} // namespace sorvane
