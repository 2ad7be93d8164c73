#include "ui/frmmain.h"

#include "base/error.h"
#include "base/plural.h"
#include "base/stoppolicy.h"
#include "fs/openfolder.h"
#include "journal/journalfiles.h"
#include "journal/journalwriter.h"
#include "run/folderrun.h"
#include "run/renamefile.h"
#include "run/tagloading.h"
#include "tag/tagrecord.h"
#include "ui/browsefolder.h"
#include "ui/dialogs.h"
#include "ui/twiplayout.h"
#include "ui/undoflow.h"
#include "walk/foldertree.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <vector>

namespace sorvane
{

namespace
{

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
const char* const CheckDescriptions[FieldModel::CheckCount] = {
    "Название в новом имени файла", "Исполнитель в новом имени файла", "Альбом в новом имени файла",
    "Год в новом имени файла"};

QString indexed(const char* name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

// A button that Enter or Return presses while it has the focus, as buttons do on the platform
// the layout comes from. It is never a default button: Enter elsewhere presses nothing.
class CommandButton : public QPushButton
{
public:
    CommandButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
    {
        setAutoDefault(false);
        setDefault(false);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

bool isMp3File(const QUrl& url)
{
    return url.isLocalFile() &&
           url.toLocalFile().endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive);
}

} // namespace

frmMain::frmMain(Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs),
      m_undo(std::make_unique<UndoFlow>(*this, dialogs, m_work)), CD1(dialogs)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Sorvane"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/ear-16.xpm"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/ear-32.xpm"), QSize(32, 32));
    for (const int size : {48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/ear-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    setAcceptDrops(true);
    createControls();
    m_layout.apply(*this, ClientArea);
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    const auto place = [this](QWidget* control, const QString& name, const Twips& twips) {
        control->setObjectName(name);
        m_layout.add(control, twips);
    };
    const auto describe = [](QWidget* control, const QString& description) {
        control->setToolTip(description);
        control->setAccessibleDescription(description);
    };
    const auto button = [&](const char* name, const QString& caption, const Twips& twips,
                            const QString& description) {
        auto* b = new CommandButton(caption, this);
        place(b, QLatin1String(name), twips);
        describe(b, description);
        return b;
    };
    const auto lineEdit = [&](const QString& name, const Twips& twips) {
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(std::numeric_limits<int>::max());
        // A file dropped on a field opens, as on the window; only text drops edit the field.
        // Ctrl+Z, when the field has nothing to take back, reaches the window.
        edit->installEventFilter(this);
        place(edit, name, twips);
        return edit;
    };
    // A caption is its field's label for screen readers; having no "&", it takes no access key.
    const auto label = [&](int index, const char* caption, const Twips& twips, QWidget* field) {
        auto* l = new QLabel(QLatin1String(caption), this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setBuddy(field);
        place(l, indexed("Label1", index), twips);
    };

    // Created in the tab order, which the focus chain then follows.
    cmdRead = button("cmdRead", QStringLiteral("Файл"), ReadButton,
                     QStringLiteral("Выбрать файл MP3 и показать его тег"));
    for (int i = 0; i < TextCount; ++i) {
        const int top = FieldTop + i * FieldStep;
        Text1[i] = lineEdit(indexed("Text1", i), {825, top, 3465, 285});
        label(i, FieldCaptions[i], {75, top + LabelDrop, 690, 240}, Text1[i]);
        Text1[i]->setAccessibleName(QString::fromLatin1(FieldCaptions[i]).chopped(1));
    }
    txtFile = lineEdit(QStringLiteral("txtFile"), PathField);
    txtFile->setAccessibleName(QStringLiteral("File"));
    label(6, "File:", PathLabel, txtFile);
    for (int i = 0; i < CheckCount; ++i) {
        Check1[i] = new QCheckBox(this);
        place(Check1[i], indexed("Check1", i), {4380, CheckTop + i * CheckStep, 615, 315});
        Check1[i]->setAccessibleName(QLatin1String(CheckAccessibleNames[i]));
        describe(Check1[i], QString::fromUtf8(CheckDescriptions[i]));
    }
    ReName = button("ReName", QStringLiteral("Переименовать"), RenameButton,
                    QStringLiteral("Переименовать файл по отмеченным частям тега"));
    cmdFolder = button("cmdFolder", QStringLiteral("Папка"), FolderButton,
                       QStringLiteral("Переименовать все файлы MP3 папки по их тегам"));

    QWidget* chain[] = {cmdRead, Text1[0],  Text1[1],  Text1[2],  Text1[3],  Text1[4], Text1[5],
                        txtFile, Check1[0], Check1[1], Check1[2], Check1[3], ReName,   cmdFolder};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    cmdRead->setFocus();

    connect(cmdRead, &QPushButton::clicked, this, &frmMain::ChooseFile);
    connect(ReName, &QPushButton::clicked, this, &frmMain::RenameChosen);
    connect(cmdFolder, &QPushButton::clicked, this, [this] { FolderRun(); });
    // Undo is not lost once the summary is closed.
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    undo->setContext(Qt::WindowShortcut);
    connect(undo, &QShortcut::activated, this, &frmMain::UndoLastRun);
}

void frmMain::showEvent(QShowEvent* event)
{
    // Focus shows from the start, not only once the keyboard has moved it. Set here because
    // showing the window clears it.
    setAttribute(Qt::WA_KeyboardFocusChange);
    QWidget::showEvent(event);
}

void frmMain::changeEvent(QEvent* event)
{
    // The desktop's font or style changed while the window is open.
    if ((event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) &&
        !m_layout.isEmpty())
        m_layout.apply(*this, ClientArea);
    QWidget::changeEvent(event);
}

frmMain::Dropped frmMain::dropped(const QMimeData& data)
{
    if (!data.hasUrls())
        return Dropped::NotFiles;
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return Dropped::Refused;
    const QFileInfo info(urls.first().toLocalFile());
    if (info.isDir())
        return Dropped::Folder;
    if (isMp3File(urls.first()) && !info.isDir())
        return Dropped::File;
    return Dropped::Refused;
}

bool frmMain::handleDrag(QEvent* event)
{
    auto* drag = static_cast<QDropEvent*>(event);
    const Dropped what = dropped(*drag->mimeData());
    if (what == Dropped::NotFiles)
        return false; // text: the field takes it as it always did
    if (what == Dropped::Refused) {
        // Files a field must not take as text either: the no-drop cursor.
        drag->setDropAction(Qt::IgnoreAction);
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        const QString path = drag->mimeData()->urls().first().toLocalFile();
        // Acted on once the drop has ended: a dialog inside it would keep the file manager
        // waiting.
        QTimer::singleShot(0, this, [this, path, what] {
            if (what == Dropped::File)
                OpenFile(path);
            else
                FolderRun(path);
        });
    }
    return true;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)
        return handleDrag(event);
    // A field takes Ctrl+Z for its own typing, always; with no typing to take back, the key
    // goes on to the window's undo of the last run.
    if (type == QEvent::ShortcutOverride) {
        const auto* edit = qobject_cast<const QLineEdit*>(watched);
        if (edit && !edit->isUndoAvailable() &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event)
{
    handleDrag(event);
}

void frmMain::dragMoveEvent(QDragMoveEvent* event)
{
    handleDrag(event);
}

void frmMain::dropEvent(QDropEvent* event)
{
    handleDrag(event);
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
    loadChosenFile();
}

void frmMain::OpenFile(const QString& path)
{
    CD1.setFileName(QFileInfo(path).absoluteFilePath());
    loadChosenFile();
}

void frmMain::loadChosenFile()
{
    setTxtFile(CD1.FileName());
    TagText tag;
    try {
        tag = ReadTag(*this);
    } catch (const Error& error) {
        // The path field keeps the chosen path; the fields keep the earlier file's values, which
        // must not become this file's name.
        m_unreadPath = CD1.FileName();
        showTagKind(TagKind::None);
        showFailure(error.message());
        return;
    }
    m_unreadPath.clear();
    setCheck1(FieldModel::Album, 0);
    setCheck1(FieldModel::Year, 0);
    showTagKind(tag.kind);
    if (tag.kind == TagKind::None) {
        showFailure(QStringLiteral("В файле %1 нет тега (ни ID3v1, ни ID3v2, ни APEv2): поля "
                                   "показывают его последние 128 байт, а не тег. Проверьте их, "
                                   "прежде чем переименовывать.")
                        .arg(QuotedPath(CD1.FileName())));
    }
}

void frmMain::RenameChosen()
{
    const QString path = FieldModel::txtFile();
    if (path.isEmpty() || QDir::isRelativePath(path)) {
        showFailure(QStringLiteral("Файл не переименован: сначала выберите файл кнопкой «Файл»."));
        return;
    }
    if (!m_unreadPath.isEmpty() && QDir::cleanPath(path) == QDir::cleanPath(m_unreadPath)) {
        showFailure(QStringLiteral("Файл %1 не переименован: его тег не удалось прочитать, и поля "
                                   "показывают тег другого файла. Выберите другой файл кнопкой "
                                   "«Файл».")
                        .arg(QuotedPath(path)));
        return;
    }
    // The file's own folder: a path typed by hand is renamed where it is, never moved.
    setFolderPath(QFileInfo(path).path());
    RenamedFile renamed;
    try {
        try {
            renamed = RenameFile(*this, true);
        } catch (const CharacterRefused& refused) {
            // The same table a folder run offers, for this one file, once the user agrees.
            if (refused.replaced().isEmpty())
                throw;
            const QString question =
                refused.message() +
                QStringLiteral(" Заменить символ «%1» (и другие такие) и переименовать в «%2»?")
                    .arg(refused.character(), refused.replaced());
            if (m_dialogs.askYesNo(this, question) != Answer::Yes)
                return;
            renamed = RenameFile(*this, true, true);
        }
    } catch (const Error& error) {
        showFailure(error.message());
        return;
    }
    QStringList details;
    const RenameOutcome outcome = renamed.outcome;
    if (outcome == RenameOutcome::Renamed) {
        // The field and the dialog follow the file, so a second press finds it named.
        const QString now = JoinPath(FolderPath(), renamed.name);
        setTxtFile(now);
        CD1.setFileName(now);
        if (renamed.shortened)
            details
                << QStringLiteral("Имя длиннее 255 байт, и оно сокращено: «%1».").arg(renamed.name);
        if (!renamed.journalFailure.isEmpty())
            details << QStringLiteral("Журнал не записан: переименование нельзя будет отменить. "
                                      "%1")
                           .arg(renamed.journalFailure);
        if (!renamed.timeNotKept.isEmpty())
            details << QStringLiteral("Время изменения файла не восстановлено: %1.")
                           .arg(renamed.timeNotKept);
    } else if (outcome == RenameOutcome::AlreadyNamed) {
        details << QStringLiteral("Файл уже называется «%1».").arg(renamed.name);
    } else {
        m_dialogs.showMessage(this, MessageIcon::Information,
                              QStringLiteral("Файл не переименован: не выбрана ни одна часть "
                                             "имени."),
                              QString());
        return;
    }
    m_dialogs.showMessage(this, MessageIcon::Information, QStringLiteral("Готово!"),
                          details.join(QLatin1Char('\n')));
}

void frmMain::FolderRun()
{
    FolderRun(BrowseFolder(m_dialogs, this));
}

void frmMain::FolderRun(const QString& folder)
{
    if (folder.isEmpty() || m_work.running)
        return;
    setFolderPath(folder);
    m_work.running = true;
    std::unique_ptr<OpenFolder> root;
    FolderTree tree;
    QString failure;
    try {
        root = std::make_unique<OpenFolder>(folder);
        RunProgress walking(*this, m_dialogs, m_work, 0, FolderPath());
        tree = WalkFolder(*root, true, &walking);
    } catch (const Error& error) {
        failure = error.message();
    }
    if (failure.isEmpty() && !tree.cancelled)
        runTree(*root, std::move(tree));
    m_work.running = false;
    // Closed meanwhile, or told to quit by a signal: the run stopped as on Cancel, and no box is
    // shown.
    if (m_work.closeRequested || StopRequested()) {
        close();
        return;
    }
    if (!failure.isEmpty())
        showFailure(failure);
}

void frmMain::runTree(const OpenFolder& root, FolderTree tree)
{
    if (tree.filesBelow() == 0) {
        tree.keepChosenFolderOnly(); // no question, and the run is what it always was
    } else {
        const Answer answer = m_dialogs.ask(
            this, QStringLiteral("В подпапках тоже есть MP3-файлы: %1 %2. Переименовать и их?")
                      .arg(tree.filesBelow())
                      .arg(Plural(tree.foldersBelowWithFiles(), "в %1 папке", "в %1 папках",
                                  "в %1 папках")));
        if (answer == Answer::Cancel)
            return;
        if (answer == Answer::No)
            tree.keepChosenFolderOnly();
    }
    // Every run is journaled, so it can be taken back; one that cannot be still runs, once the
    // user knows.
    std::unique_ptr<JournalWriter> journal = openRunJournal(root);
    FolderReport report;
    try {
        RunProgress progress(*this, m_dialogs, m_work, tree.files.size(), FolderPath());
        FolderRunOptions options{&progress, m_readAhead};
        options.journal = journal.get();
        report = RenameTree(*this, root, std::move(tree), options);
        if (report.loaded)
            showTagKind(*report.loaded);
    } catch (const Error& error) {
        journal.reset();
        PruneJournals();
        showFailure(error.message());
        return;
    }
    // Let go before the summary: its undo takes the journal over.
    journal.reset();
    PruneJournals();
    if (m_work.closeRequested || StopRequested())
        return;
    auto shown = std::make_shared<const FolderReport>(std::move(report));
    for (;;) {
        const SummaryChoice choice = showSummary(shown);
        if (choice == SummaryChoice::Undo)
            m_undo->undo(shown->journal);
        if (choice != SummaryChoice::Replace)
            return;
        shown = replaceAndRename(root, *shown);
        if (!shown || m_work.closeRequested || StopRequested())
            return;
    }
}

std::unique_ptr<JournalWriter> frmMain::openRunJournal(const OpenFolder& root)
{
    QString journalError;
    std::unique_ptr<JournalWriter> journal = JournalWriter::create(
        JournalKind::Run, QFile::encodeName(QDir::cleanPath(root.path())), journalError);
    if (!journal) {
        m_dialogs.showMessage(this, MessageIcon::Warning,
                              QStringLiteral("Журнал не записан: переименование нельзя будет "
                                             "отменить."),
                              journalError);
    }
    return journal;
}

std::shared_ptr<const FolderReport> frmMain::replaceAndRename(const OpenFolder& root,
                                                              const FolderReport& first)
{
    // A run of its own: journaled apart, so it is taken back apart too.
    std::unique_ptr<JournalWriter> journal = openRunJournal(root);
    FolderReport report;
    m_work.running = true;
    try {
        RunProgress progress(*this, m_dialogs, m_work, int(first.replaceable.size()), FolderPath());
        FolderRunOptions options{&progress, m_readAhead};
        options.journal = journal.get();
        report = RenameReplaceable(*this, root, first, options);
    } catch (const Error& error) {
        m_work.running = false;
        showFailure(error.message());
        return nullptr;
    }
    m_work.running = false;
    journal.reset();
    PruneJournals();
    return std::make_shared<const FolderReport>(std::move(report));
}

void frmMain::UndoLastRun()
{
    if (!m_work.running)
        m_undo->offerNewest();
}

void frmMain::CheckInterruptedRuns()
{
    m_undo->checkInterruptedRuns();
}

void frmMain::showTagKind(TagKind kind)
{
    const QString name = TagKindName(kind);
    setWindowTitle(name.isEmpty() ? QStringLiteral("Sorvane")
                                  : QStringLiteral("Sorvane — %1").arg(name));
}

SummaryChoice frmMain::showSummary(std::shared_ptr<const FolderReport> shared)
{
    const FolderReport& report = *shared;
    const int failures = FailCount();
    Summary summary;
    summary.text = failures > 0
                       ? QString::number(failures) + QStringLiteral(" файлов не переименовано!")
                       : QStringLiteral("Готово!");
    summary.countLine = RenamedLine(report);
    summary.secondLine = StoppedLine(report);
    summary.saveName = SummaryFileName(report.folder);
    summary.folder = report.folder;
    summary.emptyFolder = report.tree.files.size() == 0 && report.tree.skipped.empty();
    summary.rows = DetailsTable(std::move(shared));
    if (!report.journalFailure.isEmpty()) {
        summary.rows.append({QString(), QString(),
                             QStringLiteral("Журнал не записан: переименование нельзя будет "
                                            "отменить. %1")
                                 .arg(report.journalFailure)});
    }
    summary.offerUndo = report.renamed > 0 && !report.journal.isEmpty();
    summary.offerReplace = !report.replaceable.empty();
    return m_dialogs.showSummary(this, summary);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_work.running) {
        m_work.closeRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void frmMain::showFailure(const QString& text)
{
    m_dialogs.showMessage(this, MessageIcon::Warning, text, QString());
}

QString frmMain::fileText() const
{
    return txtFile->text();
}

void frmMain::storeFileText(const QString& text)
{
    txtFile->setText(text);
}

QString frmMain::fieldText(int index) const
{
    return Text1.at(index)->text();
}

void frmMain::storeFieldText(int index, const QString& text)
{
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
