#pragma once

#include <QString>

class QWidget;

namespace sorvane
{

class Dialogs;

// The window's open-file dialog: keeps its title, its filter and the last chosen path between
// uses, and answers with the full path and the file's own name.
class OpenFileDialog
{
public:
    explicit OpenFileDialog(Dialogs& dialogs) : m_dialogs(dialogs) {}

    void setDialogTitle(const QString& title) { m_title = title; }
    // "description|pattern", e.g. "mp3 - файлы|*.mp3".
    void setFilter(const QString& filter) { m_filter = filter; }

    // Modal; afterwards FileName() is the chosen path, or empty when the user cancelled.
    void showOpen(QWidget* parent);

    QString FileName() const { return m_fileName; }
    // The chosen file was renamed: the choice follows it, and so does the next dialog.
    void setFileName(const QString& path) { m_fileName = m_lastChosen = path; }
    QString FileTitle() const;

private:
    Dialogs& m_dialogs;
    QString m_title;
    QString m_filter;
    QString m_fileName;
    QString m_lastChosen; // where the next dialog opens, kept across a cancel
};

} // namespace sorvane
