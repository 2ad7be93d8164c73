#include "rename/folderreport.h"

#include "rename/printablename.h"
#include "rename/renamefailures.h"

#include <algorithm>
#include <cstring>
#include <map>

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

std::vector<DetailsRow> DetailsRows(const FolderReport& report)
{
    std::vector<DetailsRow> rows;
    rows.reserve(report.tree.skipped.size() + report.notRenamed.size() + report.shortened.size());
    for (const SkippedFolder& folder : report.tree.skipped) {
        const QString parent = report.tree.displayFolder(folder.parent);
        const QString name = PrintableName(folder.name);
        rows.push_back({parent.isEmpty() ? name : parent + QLatin1Char('/') + name, QString(),
                        Reason(folder.why)});
    }
    // Tens of thousands of lines share a handful of reasons: each is made once.
    std::map<std::pair<Failure, int>, QString> reasons;
    for (const NotRenamed& file : report.notRenamed) {
        QString& reason = reasons[{file.outcome.failure, file.outcome.error}];
        if (reason.isNull())
            reason = Reason(file.outcome);
        DetailsRow row{report.tree.displayPath(file.file), report.name(file.newName), reason};
        if (const auto aside = report.leftAside.find(file.file); aside != report.leftAside.end()) {
            // Named as it is now, so the user finds it.
            const QString folder = report.tree.displayFolder(report.tree.folderOf(file.file));
            const QString now = PrintableName(aside->second);
            row.reason = QStringLiteral("%1; прежде файл назывался «%2»")
                             .arg(reason, PrintableName(report.tree.files.name(file.file)));
            row.path = folder.isEmpty() ? now : folder + QLatin1Char('/') + now;
        } else if (file.outcome.failure == &RenameFailure::TargetExists) {
            row.reason = QStringLiteral("файл «%1» уже существует").arg(row.newName);
        }
        rows.push_back(std::move(row));
    }
    for (const auto& [file, name] : report.shortened)
        rows.push_back(
            {report.tree.displayPath(file), report.name(name), QStringLiteral("имя сокращено")});
    return rows;
}

QString DetailsText(const QString& folder, bool empty, const std::vector<DetailsRow>& rows)
{
    QString text = QStringLiteral("Папка %1.\n").arg(QuotedPath(folder));
    if (empty)
        return text + QStringLiteral("В ней нет файлов MP3.");
    if (rows.empty())
        return QString(); // "Готово!" says it all
    qsizetype length = text.size();
    for (const DetailsRow& row : rows)
        length += row.path.size() + row.newName.size() + row.reason.size() + 12;
    text.reserve(length);
    for (const DetailsRow& row : rows) {
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
    return DetailsText(report.folder, report.tree.files.size() == 0 && report.tree.skipped.empty(),
                       DetailsRows(report));
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
