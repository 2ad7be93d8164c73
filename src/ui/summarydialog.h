#pragma once

#include "ui/dialogs.h"

#include <QDialog>

class QPushButton;
class QVBoxLayout;

namespace sorvane
{

// The summary of a folder run: its text, and where there is anything to say, the details in a
// table of file, new name and reason that grows with the dialog, with "Копировать" (every line to
// the clipboard) and "Сохранить…" (a UTF-8 text file with LF line ends).
class SummaryDialog : public QDialog
{
    Q_OBJECT

public:
    // What exec() returns when the user asks for the old names back, or for the names refused
    // for a character to be made with the characters replaced.
    static constexpr int UndoChosen = 2;
    static constexpr int ReplaceChosen = 3;

    SummaryDialog(QWidget* parent, const Summary& summary);

    void copy();
    // Writes the details to the file; false, with a message shown, when it cannot be written.
    bool saveTo(const QString& path);

private:
    void addMessage(QVBoxLayout& layout);
    // The folder's line and, where there are rows, the table.
    void addDetails(QVBoxLayout& layout);
    // The buttons the summary offers; OK, which takes Return, is returned.
    QPushButton* addButtons(QVBoxLayout& layout, bool details);
    void save();

    const Summary& m_summary;
};

} // namespace sorvane
