#include "ui/frmmain.h"

#include "rename/folderrun.h"
#include "rename/renamefile.h"
#include "rename/tagloading.h"
#include "tag/error.h"
#include "ui/browsefolder.h"
#include "ui/dialogs.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>
#include <vector>

namespace sorvane
{

namespace
{

// The layout is given in twips (1/1440 inch) so it scales with the screen's logical DPI:
// 15 twips a pixel at 96 DPI.
struct Twips {
    int left, top, width, height;
};

QRect toPixels(const QWidget& window, const Twips& t)
{
    const auto x = [&](int twips) { return qRound(twips * window.logicalDpiX() / 1440.0); };
    const auto y = [&](int twips) { return qRound(twips * window.logicalDpiY() / 1440.0); };
    return QRect(x(t.left), y(t.top), x(t.width), y(t.height));
}

const Twips ClientArea{0, 0, 6030, 2820};
const Twips ReadButton{4320, 120, 825, 285};
const Twips FolderButton{5160, 120, 825, 285};
const Twips RenameButton{4440, 2340, 1455, 315};
const Twips PathField{825, 75, 3465, 285};
const Twips PathLabel{75, 105, 690, 240};
// The six tag fields stand 375 twips apart; the labels sit 30 twips lower than their fields,
// the check boxes 360 twips apart beside the first four.
constexpr int FieldTop = 450, FieldStep = 375, LabelDrop = 30;
constexpr int CheckTop = 480, CheckStep = 360;

const char* const FieldCaptions[FieldModel::TextCount] = {
    "Title:", "Artist:", "Album:", "Year:", "Comment:", "Genre:"};
const char* const CheckAccessibleNames[FieldModel::CheckCount] = {"Title in name", "Artist in name",
                                                                  "Album in name", "Year in name"};

QString indexed(const char* name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

// The caption column is narrow: where the user's font is too wide for a caption, every label
// gets the same smaller size rather than one caption being cut.
void fitCaptions(const std::vector<QLabel*>& labels)
{
    QFont font = labels.front()->font();
    const auto allFit = [&] {
        return std::all_of(labels.begin(), labels.end(), [&](const QLabel* l) {
            return QFontMetrics(font).horizontalAdvance(l->text()) <= l->width();
        });
    };
    while (!allFit() && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    for (QLabel* l : labels)
        l->setFont(font);
}

} // namespace

frmMain::frmMain(Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), CD1(dialogs)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Sorvane"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/ear-16.xpm"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/ear-32.xpm"), QSize(32, 32));
    setWindowIcon(icon);
    setFixedSize(toPixels(*this, ClientArea).size());
    createControls();
}

void frmMain::createControls()
{
    const auto place = [this](QWidget* control, const QString& name, const Twips& twips) {
        control->setObjectName(name);
        control->setGeometry(toPixels(*this, twips));
    };
    const auto button = [&](const char* name, const QString& caption, const Twips& twips) {
        auto* b = new QPushButton(caption, this);
        // No button answers Enter or Escape by itself.
        b->setAutoDefault(false);
        b->setDefault(false);
        place(b, QLatin1String(name), twips);
        return b;
    };
    const auto lineEdit = [&](const QString& name, const Twips& twips) {
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(std::numeric_limits<int>::max());
        place(edit, name, twips);
        return edit;
    };
    std::vector<QLabel*> labels;
    const auto label = [&](int index, const char* caption, const Twips& twips) {
        auto* l = new QLabel(QLatin1String(caption), this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        place(l, indexed("Label1", index), twips);
        labels.push_back(l);
    };

    // Created in the tab order, which the focus chain then follows.
    cmdRead = button("cmdRead", QStringLiteral("Файл"), ReadButton);
    for (int i = 0; i < TextCount; ++i) {
        const int top = FieldTop + i * FieldStep;
        Text1[i] = lineEdit(indexed("Text1", i), {825, top, 3465, 285});
        label(i, FieldCaptions[i], {75, top + LabelDrop, 690, 240});
        Text1[i]->setAccessibleName(QString::fromLatin1(FieldCaptions[i]).chopped(1));
    }
    txtFile = lineEdit(QStringLiteral("txtFile"), PathField);
    txtFile->setAccessibleName(QStringLiteral("File"));
    label(6, "File:", PathLabel);
    for (int i = 0; i < CheckCount; ++i) {
        Check1[i] = new QCheckBox(this);
        place(Check1[i], indexed("Check1", i), {4380, CheckTop + i * CheckStep, 615, 315});
        Check1[i]->setAccessibleName(QLatin1String(CheckAccessibleNames[i]));
    }
    ReName = button("ReName", QStringLiteral("Переименовать"), RenameButton);
    cmdFolder = button("cmdFolder", QStringLiteral("Папка"), FolderButton);

    fitCaptions(labels);

    QWidget* chain[] = {cmdRead, Text1[0],  Text1[1],  Text1[2],  Text1[3],  Text1[4], Text1[5],
                        txtFile, Check1[0], Check1[1], Check1[2], Check1[3], ReName,   cmdFolder};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    cmdRead->setFocus();

    connect(cmdRead, &QPushButton::clicked, this, &frmMain::ChooseFile);
    connect(ReName, &QPushButton::clicked, this, &frmMain::RenameChosen);
    connect(cmdFolder, &QPushButton::clicked, this, &frmMain::FolderRun);
}

void frmMain::ChooseFile()
{
    setTxtFile(QString());
    CD1.setDialogTitle(QStringLiteral("Открытие файла"));
    CD1.setFilter(QStringLiteral("mp3 - файлы|*.mp3"));
    CD1.showOpen(this);
    if (CD1.FileName().isEmpty()) {
        setTxtFile(QStringLiteral("Не выбран файл!!!"));
        return;
    }
    setTxtFile(CD1.FileName());
    try {
        ReadTag(*this);
    } catch (const Error& error) {
        // The path field keeps the chosen path; the fields keep the earlier file's values.
        showFailure(error.message());
        return;
    }
    setCheck1(FieldModel::Album, 0);
    setCheck1(FieldModel::Year, 0);
}

void frmMain::RenameChosen()
{
    const QString chosen = CD1.FileName();
    if (chosen.isEmpty()) {
        showFailure(QStringLiteral("Файл не переименован: сначала выберите файл кнопкой «Файл»."));
        return;
    }
    // The folder of the file chosen last in the dialog, without the separator before the name.
    setFolderPath(chosen.left(chosen.size() - CD1.FileTitle().size() - 1));
    RenameOutcome outcome;
    try {
        outcome = RenameFile(*this);
    } catch (const Error& error) {
        showFailure(error.message());
        return;
    }
    m_dialogs.showMessage(this, MessageIcon::Information,
                          outcome == RenameOutcome::NothingSelected
                              ? QStringLiteral("Файл не переименован: не выбрана ни одна часть "
                                               "имени.")
                              : QStringLiteral("Готово!"));
}

void frmMain::FolderRun()
{
    const QString folder = BrowseFolder(m_dialogs, this);
    if (folder.isEmpty())
        return;
    setFolderPath(folder);
    holdTexts();
    int failures = 0;
    QString listingFailure;
    try {
        RenameFolder(*this);
        failures = FailCount();
    } catch (const Error& error) {
        listingFailure = error.message();
    }
    showHeldTexts();
    if (!listingFailure.isEmpty()) {
        showFailure(listingFailure);
        return;
    }
    m_dialogs.showMessage(this, MessageIcon::Information,
                          failures > 0 ? QString::number(failures) +
                                             QStringLiteral(" файлов не переименовано!")
                                       : QStringLiteral("Готово!"));
}

void frmMain::showFailure(const QString& text)
{
    m_dialogs.showMessage(this, MessageIcon::Warning, text);
}

void frmMain::holdTexts()
{
    m_heldTexts.emplace();
    for (int i = 0; i < TextCount; ++i)
        (*m_heldTexts)[i] = Text1[i]->text();
    (*m_heldTexts)[TextCount] = txtFile->text();
}

void frmMain::showHeldTexts()
{
    const auto held = std::move(m_heldTexts);
    m_heldTexts.reset();
    for (int i = 0; i < TextCount; ++i)
        Text1[i]->setText(held->at(i));
    txtFile->setText(held->at(TextCount));
}

QString frmMain::fileText() const
{
    return m_heldTexts ? m_heldTexts->at(TextCount) : txtFile->text();
}

void frmMain::storeFileText(const QString& text)
{
    if (m_heldTexts)
        m_heldTexts->at(TextCount) = text;
    else
        txtFile->setText(text);
}

QString frmMain::fieldText(int index) const
{
    return m_heldTexts ? m_heldTexts->at(index) : Text1.at(index)->text();
}

void frmMain::storeFieldText(int index, const QString& text)
{
    if (m_heldTexts)
        m_heldTexts->at(index) = text;
    else
        Text1.at(index)->setText(text);
}

bool frmMain::isChecked(int index) const
{
    return Check1.at(index)->isChecked();
}

void frmMain::storeChecked(int index, bool checked)
{
    Check1.at(index)->setChecked(checked);
}

} // namespace sorvane
