#include "rename/folderreport.h"

#include "rename/printablename.h"

#include <cstring>
#include <map>

namespace sorvane
{

QString DetailsText(const FolderReport& report)
{
    QString text = QStringLiteral("Папка %1.\n").arg(QuotedPath(report.folder));
    if (report.files.size() == 0)
        return text + QStringLiteral("В ней нет файлов MP3.");
    if (report.notRenamed.empty() && report.shortened.empty())
        return QString(); // "Готово!" says it all
    // Tens of thousands of lines share a handful of reasons: each is made once, and the text is
    // sized once, as it may take megabytes.
    std::map<std::pair<Failure, int>, QString> reasons;
    std::vector<const QString*> reasonOf; // per line; map entries stay where they are
    reasonOf.reserve(report.notRenamed.size());
    qsizetype length = text.size() + 20;
    for (const NotRenamed& file : report.notRenamed) {
        QString& reason = reasons[{file.outcome.failure, file.outcome.error}];
        if (reason.isNull())
            reason = Reason(file.outcome);
        reasonOf.push_back(&reason);
        length += qsizetype(std::strlen(report.files.name(file.file))) + reason.size() + 6;
    }
    text.reserve(length);
    if (!report.notRenamed.empty())
        text += QStringLiteral("Не переименованы:");
    for (std::size_t i = 0; i < report.notRenamed.size(); ++i) {
        const int file = report.notRenamed[i].file;
        if (const auto aside = report.leftAside.find(file); aside != report.leftAside.end()) {
            // Named as it is now, so the user finds it.
            text += QStringLiteral("\n«%1» (было «%2»)")
                        .arg(PrintableName(aside->second), report.files.displayName(file));
        } else {
            text += QStringLiteral("\n«") + report.files.displayName(file) + QStringLiteral("»");
        }
        text += QStringLiteral(": ") + *reasonOf[i] + QLatin1Char('.');
    }
    if (!report.shortened.empty()) {
        text += report.notRenamed.empty() ? QString() : QStringLiteral("\n");
        text += QStringLiteral("Переименованы с сокращённым именем:");
        for (const auto& [file, name] : report.shortened) {
            text += QStringLiteral("\n«%1» → «%2»: имя сокращено.")
                        .arg(report.files.displayName(file), name);
        }
    }
    return text;
}

} // namespace sorvane
