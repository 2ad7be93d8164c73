#include "ui/summarydialog.h"

#include "fs/openfolder.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace sorvane
{

namespace
{

// A model over the summary's table, each row made when the view shows it, so tens of thousands of
// lines show at once.
class RowsModel : public QAbstractTableModel
{
public:
    explicit RowsModel(const DetailsTable& rows, QObject* parent)
        : QAbstractTableModel(parent), m_rows(rows)
    {
    }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : m_rows.size();
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return QVariant();
        const DetailsRow row = m_rows.row(index.row());
        switch (index.column()) {
        case 0:
            return row.path;
        case 1:
            return row.newName;
        default:
            return row.reason;
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QVariant();
        const char* const titles[] = {"Файл", "Новое имя", "Что случилось"};
        return QString::fromUtf8(titles[section]);
    }

private:
    const DetailsTable& m_rows;
};

} // namespace

SummaryDialog::SummaryDialog(QWidget* parent, const Summary& summary)
    : QDialog(parent), m_summary(summary)
{
    setObjectName(QStringLiteral("summary"));
    setWindowTitle(QStringLiteral("Sorvane"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    addMessage(*layout);
    const bool details = !summary.rows.empty() || summary.emptyFolder;
    if (details)
        addDetails(*layout);
    QPushButton* ok = addButtons(*layout, details);
    setSizeGripEnabled(true);
    // Focused when shown: a table would take the focus first and Tab order would start there.
    ok->setFocus(Qt::OtherFocusReason);
}

void SummaryDialog::addMessage(QVBoxLayout& layout)
{
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    QStringList lines{m_summary.text};
    for (const QString& line : {m_summary.countLine, m_summary.secondLine}) {
        if (!line.isEmpty())
            lines << line;
    }
    auto* text = new QLabel(lines.join(QLatin1Char('\n')), this);
    text->setObjectName(QStringLiteral("text"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(text, 1);
    layout.addLayout(top);
}

void SummaryDialog::addDetails(QVBoxLayout& layout)
{
    // The details' first lines; the rest are in the table.
    auto* folder = new QLabel(
        QStringLiteral("Папка %1.").arg(QuotedPath(m_summary.folder)) +
            (m_summary.emptyFolder ? QStringLiteral("\nВ ней нет файлов MP3.") : QString()),
        this);
    folder->setWordWrap(true);
    layout.addWidget(folder);
    if (m_summary.rows.empty())
        return;
    auto* view = new QTableView(this);
    view->setObjectName(QStringLiteral("details"));
    view->setModel(new RowsModel(m_summary.rows, view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    // Tab goes on to the buttons; the arrows move within the table.
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // The three columns share the width and grow with the dialog; a 255-byte name is cut to
    // what fits, and its tooltip holds it whole.
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    const QFontMetrics metrics(font());
    view->setAccessibleName(QStringLiteral("Подробности"));
    layout.addWidget(view, 1);
    resize(metrics.averageCharWidth() * 110, metrics.height() * 24);
}

QPushButton* SummaryDialog::addButtons(QVBoxLayout& layout, bool details)
{
    // A row of its own rather than a QDialogButtonBox: Qt 6.4's box reorders the Tab chain so
    // that Tab goes round OK and one other button only. Here Tab follows the row.
    auto* row = new QHBoxLayout;
    // Only OK answers Return, Enter and Escape: every other button takes a click, or Tab and
    // Space. A focused button that answered Return would let the key take a whole run back.
    const auto button = [&](const QString& caption, const char* name) {
        auto* added = new QPushButton(caption, this);
        added->setObjectName(QLatin1String(name));
        added->setAutoDefault(false);
        row->addWidget(added);
        return added;
    };
    if (details) {
        connect(button(QStringLiteral("Копировать"), "copy"), &QPushButton::clicked, this,
                &SummaryDialog::copy);
        connect(button(QStringLiteral("Сохранить…"), "save"), &QPushButton::clicked, this,
                &SummaryDialog::save);
    }
    row->addStretch(1);
    if (m_summary.offerReplace) {
        connect(button(QStringLiteral("Заменить символы и переименовать"), "replace"),
                &QPushButton::clicked, this, [this] { done(ReplaceChosen); });
    }
    if (m_summary.offerUndo) {
        connect(button(QStringLiteral("Вернуть прежние имена"), "undo"), &QPushButton::clicked,
                this, [this] { done(UndoChosen); });
    }
    QPushButton* ok = button(QStringLiteral("OK"), "ok");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout.addLayout(row);
    return ok;
}

void SummaryDialog::copy()
{
    QApplication::clipboard()->setText(SummaryDetailsText(m_summary));
}

void SummaryDialog::save()
{
    const QString proposed =
        ChildPath(StartFolder(), m_summary.saveName.isEmpty() ? QStringLiteral("Sorvane.txt")
                                                              : m_summary.saveName);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить подробности"),
                                                      proposed, QStringLiteral("Текст (*.txt)"));
    if (!path.isEmpty())
        saveTo(path);
}

bool SummaryDialog::saveTo(const QString& path)
{
    QSaveFile file(path);
    const QByteArray bytes = (SummaryDetailsText(m_summary) + QLatin1Char('\n')).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    QMessageBox::warning(this, QStringLiteral("Sorvane"),
                         QStringLiteral("Подробности не сохранены в %1: %2.")
                             .arg(QuotedPath(path), file.errorString()));
    return false;
}

} // namespace sorvane
