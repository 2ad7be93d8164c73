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
        QString details;
    };
    struct ProgressUpdate {
        int done;
        QString fileName;
    };

    QQueue<QString> fileAnswers;   // empty string = cancel
    QQueue<QString> folderAnswers; // empty string = cancel
    QStringList openTitles, openFilters, openStartPaths, folderTitles, folderStartPaths;
    QList<Message> messages;
    QWidget* lastFolderOwner = nullptr;
    // The progress dialog: how often it was shown, what it showed, and after how many updates
    // the user presses Cancel (never when negative).
    int progressShown = 0;
    QList<ProgressUpdate> progressUpdates;
    int cancelAfterUpdates = -1;
    QList<int> progressTotals; // 0 for a walk
    // The questions asked, and the answers to give (Cancel when none is left).
    QStringList questions;
    QQueue<sorvane::Answer> answers;
    QList<sorvane::Summary> summaries;
    QQueue<bool> undoAnswers;    // for summaries that offer "Вернуть прежние имена"
    QQueue<bool> replaceAnswers; // for those that offer "Заменить символы и переименовать"

    QString getOpenFileName(QWidget*, const QString& title, const QString& filter,
                            const QString& startPath) override
    {
        openTitles << title;
        openFilters << filter;
        openStartPaths << startPath;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }

    QString getExistingDirectory(QWidget* owner, const QString& title,
                                 const QString& startPath) override
    {
        folderTitles << title;
        folderStartPaths << startPath;
        lastFolderOwner = owner;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
    }

    void showMessage(QWidget*, sorvane::MessageIcon icon, const QString& text,
                     const QString& details) override
    {
        messages.append({icon, text, details});
    }

    std::unique_ptr<sorvane::Progress> showProgress(QWidget*, int total, const QString&) override
    {
        ++progressShown;
        progressTotals << total;
        return std::make_unique<ScriptedProgress>(*this);
    }

    sorvane::Answer ask(QWidget*, const QString& text) override
    {
        questions << text;
        return answers.isEmpty() ? sorvane::Answer::Cancel : answers.dequeue();
    }

    sorvane::Answer askYesNo(QWidget*, const QString& text) override
    {
        questions << text;
        return answers.isEmpty() ? sorvane::Answer::Cancel : answers.dequeue();
    }

    // A summary is recorded as a message too: its text (and second line) and its details' text.
    // The user asks for the old names back when undoAnswers says so.
    sorvane::SummaryChoice showSummary(QWidget*, const sorvane::Summary& summary) override
    {
        summaries.append(summary);
        messages.append({sorvane::MessageIcon::Information, summary.text,
                         summary.rows.empty() && !summary.emptyFolder
                             ? QString()
                             : sorvane::SummaryDetailsText(summary)});
        if (summary.offerReplace && !replaceAnswers.isEmpty() && replaceAnswers.dequeue())
            return sorvane::SummaryChoice::Replace;
        if (summary.offerUndo && !undoAnswers.isEmpty() && undoAnswers.dequeue())
            return sorvane::SummaryChoice::Undo;
        return sorvane::SummaryChoice::Close;
    }

private:
    class ScriptedProgress : public sorvane::Progress
    {
    public:
        explicit ScriptedProgress(ScriptedDialogs& owner) : m_owner(owner) {}
        void setProgress(int done, const QString& name) override
        {
            m_owner.progressUpdates.append({done, name});
        }
        bool wasCanceled() const override
        {
            return m_owner.cancelAfterUpdates >= 0 &&
                   m_owner.progressUpdates.size() >= m_owner.cancelAfterUpdates;
        }

    private:
        ScriptedDialogs& m_owner;
    };
};

} // namespace testing
