#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace sorvane
{

QString QtDialogs::getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& startPath)
{
    return QFileDialog::getOpenFileName(parent, title, startPath, filter);
}

QString QtDialogs::getExistingDirectory(QWidget* parent, const QString& title)
{
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

void QtDialogs::showMessage(QWidget* parent, MessageIcon icon, const QString& text)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Sorvane"), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace sorvane
