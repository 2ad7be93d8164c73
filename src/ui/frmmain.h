#pragma once

#include "run/fieldmodel.h"
#include "tag/tagtext.h"
#include "ui/dialogs.h"
#include "ui/openfiledialog.h"
#include "ui/runprogress.h"
#include "ui/twiplayout.h"

#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;

namespace sorvane
{

class Dialogs;
class JournalWriter;
class OpenFolder;
class UndoFlow;
struct FolderReport;

// The program's one window. Its controls are the FieldModel the commands work on, so whatever
// the user typed or ticked counts when a command runs.
class frmMain : public QWidget, public FieldModel
{
    Q_OBJECT

public:
    explicit frmMain(Dialogs& dialogs, QWidget* parent = nullptr);
    ~frmMain() override;

    // The three commands, one per button.
    void ChooseFile();
    void RenameChosen();
    void FolderRun();
    // The folder run on a folder already chosen (dropped on the window), without asking for one.
    void FolderRun(const QString& folder);

    // A file given on the command line or dropped on the window: loaded as if chosen with "Файл".
    void OpenFile(const QString& path);

    // Ctrl+Z: names the newest run or single rename that can still be undone, asks, and takes
    // it back.
    void UndoLastRun();
    // At start-up: a run that was killed midway (its journal neither complete nor held) is
    // offered to be taken back, once its journals have been read on a thread of their own.
    void CheckInterruptedRuns();

    // Whether folder runs read tags ahead on a second thread (they do); off to measure the
    // sequential run against it.
    void setReadAhead(bool readAhead) { m_readAhead = readAhead; }

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QString fileText() const override;
    void storeFileText(const QString& text) override;
    QString fieldText(int index) const override;
    void storeFieldText(int index, const QString& text) override;
    bool isChecked(int index) const override;
    void storeChecked(int index, bool checked) override;

private:
    void createControls();

    // What a drag carries: one MP3 file, one folder, files that are neither, or no files at all.
    enum class Dropped { File, Folder, Refused, NotFiles };
    static Dropped dropped(const QMimeData& data);
    // Accepts or refuses a drag or drop on the window or a field; false for a text drop, which the
    // field itself takes.
    bool handleDrag(QEvent* event);
    void loadChosenFile();

    // Every control with its place in twips; laid out again when the font changes.
    TwipLayout m_layout;
    void showFailure(const QString& text);
    // The window's title names the tag the fields hold, where it is not ID3v1.
    void showTagKind(TagKind kind);
    // What the user chose to do after the run.
    SummaryChoice showSummary(std::shared_ptr<const FolderReport> report);
    // A journal for a run in root; where none can be written, the user is told and the run
    // goes on without.
    std::unique_ptr<JournalWriter> openRunJournal(const OpenFolder& root);
    // The files the run refused for a character, renamed with such characters replaced; null
    // when that run could not be made.
    std::shared_ptr<const FolderReport> replaceAndRename(const OpenFolder& root,
                                                         const FolderReport& first);
    // The folder run once the folder is open and walked.
    void runTree(const OpenFolder& root, FolderTree tree);

    // The path whose tag could not be read: renaming it would take the earlier file's fields.
    QString m_unreadPath;
    // Whether a run or undo is under way; the user closing the window meanwhile stops it, then
    // the window closes.
    WindowWork m_work;
    bool m_readAhead = true;

    Dialogs& m_dialogs;
    std::unique_ptr<UndoFlow> m_undo;
    OpenFileDialog CD1;
    QPushButton* cmdRead = nullptr;
    QPushButton* ReName = nullptr;
    QPushButton* cmdFolder = nullptr;
    QLineEdit* txtFile = nullptr;
    std::array<QLineEdit*, TextCount> Text1{};
    std::array<QCheckBox*, CheckCount> Check1{};
};

} // namespace sorvane
