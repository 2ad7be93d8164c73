#pragma once

#include <QString>

class QWidget;

namespace sorvane
{

enum class MessageIcon { Information, Warning };

// Every modal dialog the window shows goes through here, so tests can script the user's answers.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // The full path of the chosen file, or an empty string when the user cancels. filter is in
    // Qt's form, "description (*.pattern)"; startPath is where the dialog opens.
    virtual QString getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& startPath) = 0;

    // Blocks until closed; offers only real folders. The full path, or empty on cancel.
    virtual QString getExistingDirectory(QWidget* parent, const QString& title) = 0;

    // A message with one OK button and the title "Sorvane"; returns when the user closes it.
    virtual void showMessage(QWidget* parent, MessageIcon icon, const QString& text) = 0;
};

class QtDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                            const QString& startPath) override;
    QString getExistingDirectory(QWidget* parent, const QString& title) override;
    void showMessage(QWidget* parent, MessageIcon icon, const QString& text) override;
};

} // namespace sorvane
