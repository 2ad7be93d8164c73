#pragma once

#include "ui/dialogs.h"

#include <QQueue>
#include <QString>
#include <QStringList>

namespace testing
{

// Plays the user's part in every dialog: answers come from queues the test fills, and every
// dialog and message shown is recorded.
class ScriptedDialogs : public sorvane::Dialogs
{
public:
    struct Message {
        sorvane::MessageIcon icon;
        QString text;
    };

    QQueue<QString> fileAnswers;   // empty string = cancel
    QQueue<QString> folderAnswers; // empty string = cancel
    QStringList openTitles, openFilters, openStartPaths, folderTitles;
    QList<Message> messages;
    QWidget* lastFolderOwner = nullptr;

    QString getOpenFileName(QWidget*, const QString& title, const QString& filter,
                            const QString& startPath) override
    {
        openTitles << title;
        openFilters << filter;
        openStartPaths << startPath;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }

    QString getExistingDirectory(QWidget* owner, const QString& title) override
    {
        folderTitles << title;
        lastFolderOwner = owner;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
    }

    void showMessage(QWidget*, sorvane::MessageIcon icon, const QString& text) override
    {
        messages.append({icon, text});
    }
};

} // namespace testing
