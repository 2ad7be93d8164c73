#pragma once

#include "rename/fieldmodel.h"
#include "ui/openfiledialog.h"

#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sorvane
{

class Dialogs;

// The program's one window. Its controls are the FieldModel the commands work on, so whatever
// the user typed or ticked counts when a command runs.
class frmMain : public QWidget, public FieldModel
{
    Q_OBJECT

public:
    explicit frmMain(Dialogs& dialogs, QWidget* parent = nullptr);

    // The three commands, one per button.
    void ChooseFile();
    void RenameChosen();
    void FolderRun();

protected:
    QString fileText() const override;
    void storeFileText(const QString& text) override;
    QString fieldText(int index) const override;
    void storeFieldText(int index, const QString& text) override;
    bool isChecked(int index) const override;
    void storeChecked(int index, bool checked) override;

private:
    void createControls();
    void showFailure(const QString& text);

    // While a folder run is under way the window takes no input and paints nothing, so the texts
    // are held as plain strings and shown once at the end: laying out seven line edits for every
    // file would cost more than the file system work. Index TextCount is the path field.
    std::optional<std::array<QString, TextCount + 1>> m_heldTexts;
    void holdTexts();
    void showHeldTexts();

    Dialogs& m_dialogs;
    OpenFileDialog CD1;
    QPushButton* cmdRead = nullptr;
    QPushButton* ReName = nullptr;
    QPushButton* cmdFolder = nullptr;
    QLineEdit* txtFile = nullptr;
    std::array<QLineEdit*, TextCount> Text1{};
    std::array<QCheckBox*, CheckCount> Check1{};
};

} // namespace sorvane
