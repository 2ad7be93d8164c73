#include "rename/foldersnapshot.h"

#include "base/error.h"
#include "base/syscalls.h"
#include "rename/openfolder.h"
#include "rename/printablename.h"

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <QDir>
#include <QDirIterator>
#include <windows.h>
#endif

namespace sorvane
{

QString FolderSnapshot::displayName(int file) const
{
    return PrintableName(name(file));
}

void FolderSnapshot::add(const char* name, std::size_t length, int typeError)
{
    m_entries.push_back({quint32(m_names.size()), qint32(typeError)});
    m_names.insert(m_names.end(), name, name + length);
    m_names.push_back('\0');
}

void FolderSnapshot::sort()
{
    const char* names = m_names.data();
    std::sort(m_entries.begin(), m_entries.end(), [names](const Entry& a, const Entry& b) {
        return std::strcmp(names + a.offset, names + b.offset) < 0;
    });
}

namespace
{

bool isListedName(const char* name, std::size_t length)
{
    return name[0] != '.' && length > 4 && qstrnicmp(name + length - 4, ".mp3", 4) == 0;
}

[[noreturn]] void throwListingFailed(const QString& folder, int code)
{
    throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                    .arg(QuotedPath(folder), SystemReason(code)));
}

} // namespace

#ifdef Q_OS_UNIX

FolderSnapshot ListMp3Files(const OpenFolder& folder)
{
    // A descriptor of its own for the listing: closedir closes it, the folder's stays open.
    const int listing = Sys.openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        const int code = errno;
        if (listing >= 0)
            ::close(listing);
        throwListingFailed(folder.path(), code);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(entries, ::closedir);

    FolderSnapshot files;
    for (;;) {
        errno = 0;
        const dirent* entry = Sys.readdir(entries);
        if (!entry) {
            if (errno != 0)
                throwListingFailed(folder.path(), errno);
            break;
        }
        const std::size_t length = std::strlen(entry->d_name);
        if (!isListedName(entry->d_name, length))
            continue;
        // The listing tells the type on most file systems; asking lstat for every entry would
        // cost a system call per file.
        unsigned char type = entry->d_type;
        int typeError = 0;
        if (type == DT_UNKNOWN) {
            struct stat info = {};
            if (Sys.fstatat(folder.fd(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                typeError = errno;
            else if (S_ISREG(info.st_mode))
                type = DT_REG;
        }
        if (typeError == 0 && type != DT_REG)
            continue;
        files.add(entry->d_name, length, typeError);
    }
    files.sort();
    return files;
}

#else

FolderSnapshot ListMp3Files(const OpenFolder& folder)
{
    const QDir dir(folder.path());
    if (!dir.isReadable())
        throwListingFailed(folder.path(), ERROR_ACCESS_DENIED);
    FolderSnapshot files;
    QDirIterator it(folder.path(), QDir::Files | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        const QByteArray name = OpenFolder::nativeName(it.fileName());
        if (isListedName(name.constData(), std::size_t(name.size())))
            files.add(name.constData(), std::size_t(name.size()), 0);
    }
    files.sort();
    return files;
}

#endif

} // namespace sorvane
