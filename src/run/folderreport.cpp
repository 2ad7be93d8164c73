#include "run/folderreport.h"

#include "base/plural.h"
#include "names/printablename.h"
#include "names/renamefailures.h"
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
                       m_report->shortened.size() + m_report->readInPage.size() +
                       m_report->timeNotKept.size() + m_report->leftoversRemoved.size()))
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

namespace
{

QString ReadInPageReason(int codePage)
{
    return QStringLiteral("тег прочитан в кодировке %1").arg(CodePageName(codePage));
}

// The rows after the files not renamed: names shortened, tags read in another page than the
// locale's, times not kept, leftovers removed.
DetailsRow noteRow(const FolderReport& report, std::size_t index)
{
    if (index < report.shortened.size()) {
        const auto& [file, name] = report.shortened[index];
        return {report.tree.displayPath(file), report.name(name), QStringLiteral("имя сокращено")};
    }
    index -= report.shortened.size();
    if (index < report.readInPage.size()) {
        const ReadInPage& file = report.readInPage[index];
        return {report.tree.displayPath(file.file), report.name(file.newName),
                ReadInPageReason(file.codePage)};
    }
    index -= report.readInPage.size();
    if (index < report.timeNotKept.size()) {
        const auto& [file, error] = report.timeNotKept[index];
        return {report.tree.displayPath(file), QString(),
                QStringLiteral("переименован, но время изменения не восстановлено: %1")
                    .arg(SystemReason(error))};
    }
    const auto& [folder, name] = report.leftoversRemoved[index - report.timeNotKept.size()];
    const QString path = report.tree.displayFolder(folder);
    return {path.isEmpty() ? PrintableName(name) : path + QLatin1Char('/') + PrintableName(name),
            QString(),
            QStringLiteral("пустой файл, оставленный прерванным переименованием, удалён")};
}

} // namespace

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
    if (index >= int(report.notRenamed.size()))
        return noteRow(report, std::size_t(index) - report.notRenamed.size());
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
        row.reason += QStringLiteral(" (%1)").arg(ReadInPageReason(file.codePage));
    if (file.replaced >= 0)
        row.reason += QStringLiteral("; с заменой символов: «%1»").arg(report.name(file.replaced));
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

QString RenamedLine(const FolderReport& report)
{
    return Plural(report.renamed, "Переименован %1 файл.", "Переименовано %1 файла.",
                  "Переименовано %1 файлов.");
}

QString StoppedLine(const FolderReport& report)
{
    if (!report.stopped)
        return QString();
    const auto notReached = std::count_if(
        report.notRenamed.begin(), report.notRenamed.end(),
        [](const NotRenamed& file) { return file.outcome.failure == &RenameFailure::NotReached; });
    return Plural(qint64(notReached), "Остановлено: %1 файл не обработан.",
                  "Остановлено: %1 файла не обработано.", "Остановлено: %1 файлов не обработано.");
}

} // namespace sorvane
