#include "rename/folderrun.h"

#include "rename/fieldmodel.h"
#include "rename/renamefile.h"
#include "rename/tagloading.h"
#include "tag/error.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace sorvane
{

namespace fs = std::filesystem;

namespace
{

bool hasMp3Extension(const QString& name)
{
    return name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive);
}

[[noreturn]] void throwListingFailed(const QString& folder, const std::error_code& error)
{
    throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                    .arg(QuotedPath(folder), QString::fromLocal8Bit(error.message())));
}

} // namespace

std::vector<ListedFile> ListMp3Files(const QString& folder)
{
    std::error_code error;
#ifdef Q_OS_WIN
    const fs::path folderPath(folder.toStdWString());
#else
    const fs::path folderPath(QFile::encodeName(folder).toStdString());
#endif
    fs::directory_iterator it(folderPath, error);
    if (error)
        throwListingFailed(folder, error);

    std::vector<ListedFile> files;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        // symlink_status: the entry itself must be a plain file; the type comes from the
        // listing, so this costs no extra system call.
        if (!fs::is_regular_file(it->symlink_status(error)) || error)
            continue;
#ifdef Q_OS_WIN
        const QString name = QString::fromStdWString(it->path().filename().wstring());
        const bool representable = true;
#else
        const fs::path fileName = it->path().filename();
        const std::string& raw = fileName.native();
        const QByteArray bytes = QByteArray::fromRawData(raw.data(), qsizetype(raw.size()));
        const QString name = QFile::decodeName(bytes);
        const bool representable = QFile::encodeName(name) == bytes;
#endif
        if (name.startsWith(QLatin1Char('.')) || !hasMp3Extension(name))
            continue;
        files.push_back({name, representable});
    }
    if (error)
        throwListingFailed(folder, error);

    std::sort(files.begin(), files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    return files;
}

int RenameFolder(FieldModel& model)
{
    const QString folder = model.FolderPath();
    const std::vector<ListedFile> files = ListMp3Files(folder);
    model.setFailCount(0);
    for (const ListedFile& file : files) {
        model.setTxtFile(JoinPath(folder, file.name));
        if (!file.representable) {
            model.countFailure();
            continue;
        }
        // A failed read skips the rename, so no file is renamed from the fields of the file
        // before it.
        try {
            ReadTag(model);
            RenameFile(model);
        } catch (const Error&) {
            model.countFailure();
        }
    }
    model.setTxtFile(QString());
    return model.FailCount();
}

} // namespace sorvane
