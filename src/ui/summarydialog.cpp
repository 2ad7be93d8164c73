#include "ui/summarydialog.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
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

    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* text = new QLabel(summary.secondLine.isEmpty()
                                ? summary.text
                                : summary.text + QLatin1Char('\n') + summary.secondLine,
                            this);
    text->setObjectName(QStringLiteral("text"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(text, 1);
    layout->addLayout(top);

    auto* buttons = new QDialogButtonBox(this);
    const bool details = !summary.rows.empty() || summary.emptyFolder;
    if (details) {
        // The details' first lines; the rest are in the table.
        auto* folder = new QLabel(
            QStringLiteral("Папка %1.").arg(QuotedPath(summary.folder)) +
                (summary.emptyFolder ? QStringLiteral("\nВ ней нет файлов MP3.") : QString()),
            this);
        folder->setWordWrap(true);
        layout->addWidget(folder);
    }
    if (!summary.rows.empty()) {
        auto* view = new QTableView(this);
        view->setObjectName(QStringLiteral("details"));
        view->setModel(new RowsModel(m_summary.rows, view));
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setWordWrap(false);
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        view->horizontalHeader()->setStretchLastSection(true);
        // Widths from the first rows, not Qt's thousand: laying out every text took 20 ms after a
        // run with thousands of failures, before the box could show. The view shows a few dozen.
        view->horizontalHeader()->setResizeContentsPrecision(100);
        view->resizeColumnsToContents();
        const QFontMetrics metrics(font());
        // A 255-byte name would push the reason out of sight; the whole name is in its tooltip.
        for (const int column : {0, 1}) {
            view->horizontalHeader()->resizeSection(
                column, std::min(view->horizontalHeader()->sectionSize(column),
                                 metrics.averageCharWidth() * 40));
        }
        view->setAccessibleName(QStringLiteral("Подробности"));
        layout->addWidget(view, 1);
        resize(metrics.averageCharWidth() * 110, metrics.height() * 24);
    }
    if (details) {
        QPushButton* copyButton =
            buttons->addButton(QStringLiteral("Копировать"), QDialogButtonBox::ActionRole);
        copyButton->setObjectName(QStringLiteral("copy"));
        connect(copyButton, &QPushButton::clicked, this, &SummaryDialog::copy);
        QPushButton* saveButton =
            buttons->addButton(QStringLiteral("Сохранить…"), QDialogButtonBox::ActionRole);
        saveButton->setObjectName(QStringLiteral("save"));
        connect(saveButton, &QPushButton::clicked, this, &SummaryDialog::save);
    }
    if (summary.offerUndo) {
        QPushButton* undo = buttons->addButton(QStringLiteral("Вернуть прежние имена"),
                                               QDialogButtonBox::ResetRole);
        undo->setObjectName(QStringLiteral("undo"));
        connect(undo, &QPushButton::clicked, this, [this] { done(UndoChosen); });
    }
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    setSizeGripEnabled(true);
}

void SummaryDialog::copy()
{
    QApplication::clipboard()->setText(SummaryDetailsText(m_summary));
}

void SummaryDialog::save()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить подробности"), StartFolder(),
                                     QStringLiteral("Текст (*.txt)"));
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
