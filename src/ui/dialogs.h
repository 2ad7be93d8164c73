#pragma once

#include "run/folderreport.h"

#include <QString>

#include <memory>
#include <vector>

class QWidget;

namespace sorvane
{

enum class MessageIcon { Information, Warning };

// A progress dialog on screen for as long as the object lives.
class Progress
{
public:
    virtual ~Progress() = default;
    // A run: `done` files of the total, and the file at hand (its path below the chosen folder).
    // A walk: `done` folders seen, and the folder at hand.
    virtual void setProgress(int done, const QString& name) = 0;
    virtual bool wasCanceled() const = 0;
};

// What the summary of a folder run shows.
struct Summary {
    QString text;       // "Готово!" or "N файлов не переименовано!"
    QString countLine;  // how many files were renamed, or given back; else empty
    QString secondLine; // after a stop: "Остановлено: ..."; else empty
    QString folder;     // the chosen folder
    bool emptyFolder = false;
    DetailsTable rows;
    bool offerUndo = false; // a second button, "Вернуть прежние имена"
    // A third, "Заменить символы и переименовать", for the names refused for a character.
    bool offerReplace = false;
    QString saveName; // the file name "Сохранить…" proposes
};

// What the user did with a summary.
enum class SummaryChoice { Close, Undo, Replace };

// The details as text, as Копировать and Сохранить… give them: UTF-8, a line per row.
QString SummaryDetailsText(const Summary& summary);

enum class Answer { Yes, No, Cancel };

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
    virtual QString getExistingDirectory(QWidget* parent, const QString& title,
                                         const QString& startPath) = 0;

    // A message with one OK button and the title "Sorvane"; returns when the user closes it.
    // Details, where there are any, are shown on request below the text.
    virtual void showMessage(QWidget* parent, MessageIcon icon, const QString& text,
                             const QString& details) = 0;

    // A progress dialog modal to parent, with a Cancel button, for a run over `total` files, or
    // with a total of 0, for a walk through a tree of folders, in `folder`.
    virtual std::unique_ptr<Progress> showProgress(QWidget* parent, int total,
                                                   const QString& folder) = 0;

    // A question with the buttons "Да" (the default), "Нет" and "Отмена" (also Escape) and the
    // title "Sorvane"; returns when the user answers.
    virtual Answer ask(QWidget* parent, const QString& text) = 0;

    // A question with the buttons "Да" and "Нет", "Нет" the default: what it asks changes files,
    // and Return must not. Escape or closing the box is Answer::Cancel.
    virtual Answer askYesNo(QWidget* parent, const QString& text) = 0;

    // The summary of a folder run, with its details in a view the user can resize, copy and save.
    // OK is the default: Return, Enter and Escape close it. Undo when the user pressed "Вернуть
    // прежние имена" (offered with Summary::offerUndo), Replace for "Заменить символы и
    // переименовать" (Summary::offerReplace); each takes a click, or Tab and Space.
    virtual SummaryChoice showSummary(QWidget* parent, const Summary& summary) = 0;
};

// Where the first dialog of a run opens: the user's Music folder, else the home folder.
QString StartFolder();

// A filter "description (*.mp3)" whose patterns match in any letter case ("*.[mM][pP]3") in every
// file dialog: Qt's own, GTK's and the desktop portal's all take such a pattern, while GTK's and
// the portal's compare plain patterns case-sensitively.
QString AnyCaseFilter(const QString& filter);

class QtDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                            const QString& startPath) override;
    QString getExistingDirectory(QWidget* parent, const QString& title,
                                 const QString& startPath) override;
    void showMessage(QWidget* parent, MessageIcon icon, const QString& text,
                     const QString& details) override;
    std::unique_ptr<Progress> showProgress(QWidget* parent, int total,
                                           const QString& folder) override;
    Answer ask(QWidget* parent, const QString& text) override;
    Answer askYesNo(QWidget* parent, const QString& text) override;
    SummaryChoice showSummary(QWidget* parent, const Summary& summary) override;

    // Looks up ahead what message boxes need, so no summary waits for the icon theme.
    static void prepareMessages(QWidget* parent);
};

// Qt's file dialog keeps its history in the user's settings file and syncs it to disk each time
// one is closed, making the folder run wait for the journal to commit. The program keeps nothing
// between runs, so the user's Qt settings are neither read nor written by it.
void KeepQtSettingsOffDisk();

} // namespace sorvane
