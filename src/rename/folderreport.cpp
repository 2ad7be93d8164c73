#include "rename/folderreport.h"

#include "rename/printablename.h"
#include "rename/renamefailures.h"
#include "tag/codepage.h"

#include <algorithm>
#include <cstring>

namespace sorvane
{

qint32 FolderReport::keepName(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    const auto at = qint32(m_names.size());
    m_names.insert(m_names.end(), utf8.begin(), utf8.end());
    m_names.push_back('\0');
    return at;
}

QString FolderReport::name(qint32 index) const
{
    return index < 0 ? QString() : QString::fromUtf8(m_names.data() + index);
}

DetailsTable::DetailsTable(std::shared_ptr<const FolderReport> report)
    : m_report(std::move(report)),
      m_reportRows(int(m_report->tree.skipped.size() + m_report->notRenamed.size() +
                       m_report->shortened.size() + m_report->readInPage.size()))
{
}

DetailsTable::DetailsTable(std::vector<DetailsRow> rows) : m_rows(std::move(rows)) {}

int DetailsTable::size() const
{
    return m_reportRows + int(m_rows.size());
}

void DetailsTable::append(DetailsRow row)
{
    m_rows.push_back(std::move(row));
}

DetailsRow DetailsTable::row(int index) const
{
    if (index >= m_reportRows)
        return m_rows[std::size_t(index - m_reportRows)];
    const FolderReport& report = *m_report;
    const auto skipped = int(report.tree.skipped.size());
    if (index < skipped) {
        const SkippedFolder& folder = report.tree.skipped[std::size_t(index)];
        const QString parent = report.tree.displayFolder(folder.parent);
        const QString name = PrintableName(folder.name);
        return {parent.isEmpty() ? name : parent + QLatin1Char('/') + name, QString(),
                Reason(folder.why)};
    }
    index -= skipped;
    const auto inPage = [](int codePage) {
        return QStringLiteral("тег прочитан в кодировке %1").arg(CodePageName(codePage));
    };
    const auto pastShortened = int(report.notRenamed.size() + report.shortened.size());
    if (index >= pastShortened) {
        const ReadInPage& file = report.readInPage[std::size_t(index - pastShortened)];
        return {report.tree.displayPath(file.file), report.name(file.newName),
                inPage(file.codePage)};
    }
    if (index >= int(report.notRenamed.size())) {
        const auto& [file, name] = report.shortened[std::size_t(index) - report.notRenamed.size()];
        return {report.tree.displayPath(file), report.name(name), QStringLiteral("имя сокращено")};
    }
    const NotRenamed& file = report.notRenamed[std::size_t(index)];
    DetailsRow row{report.tree.displayPath(file.file), report.name(file.newName), QString()};
    if (const auto aside = report.leftAside.find(file.file); aside != report.leftAside.end()) {
        // Named as it is now, so the user finds it.
        const QString folder = report.tree.displayFolder(report.tree.folderOf(file.file));
        const QString now = PrintableName(aside->second);
        row.reason =
            QStringLiteral("%1; прежде файл назывался «%2»")
                .arg(Reason(file.outcome), PrintableName(report.tree.files.name(file.file)));
        row.path = folder.isEmpty() ? now : folder + QLatin1Char('/') + now;
    } else if (file.outcome.failure == &RenameFailure::TargetExists) {
        row.reason = QStringLiteral("файл «%1» уже существует").arg(row.newName);
    } else {
        row.reason = Reason(file.outcome);
    }
    if (file.codePage != 0)
        row.reason += QStringLiteral(" (%1)").arg(inPage(file.codePage));
    return row;
}

QString DetailsText(const QString& folder, bool empty, const DetailsTable& rows)
{
    QString text = QStringLiteral("Папка %1.\n").arg(QuotedPath(folder));
    if (empty)
        return text + QStringLiteral("В ней нет файлов MP3.");
    if (rows.empty())
        return QString(); // "Готово!" says it all
    for (int i = 0; i < rows.size(); ++i) {
        const DetailsRow row = rows.row(i);
        text += QStringLiteral("«") + row.path + QStringLiteral("»");
        if (!row.newName.isEmpty())
            text += QStringLiteral(" → «") + row.newName + QStringLiteral("»");
        text += QStringLiteral(": ") + row.reason + QStringLiteral(".\n");
    }
    text.chop(1);
    return text;
}

QString DetailsText(const FolderReport& report)
{
    // Not owned: the table lives only for this call.
    return DetailsText(report.folder, report.tree.files.size() == 0 && report.tree.skipped.empty(),
                       DetailsTable(std::shared_ptr<const FolderReport>(
                           std::shared_ptr<const FolderReport>(), &report)));
}

QString StoppedLine(const FolderReport& report)
{
    if (!report.stopped)
        return QString();
    const auto notReached = std::count_if(
        report.notRenamed.begin(), report.notRenamed.end(),
        [](const NotRenamed& file) { return file.outcome.failure == &RenameFailure::NotReached; });
    return QStringLiteral("Остановлено: %1 файлов переименовано, %2 не обработано.")
        .arg(report.renamed)
        .arg(notReached);
}

} // namespace sorvane
