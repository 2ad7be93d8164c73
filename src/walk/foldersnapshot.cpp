#include "walk/foldersnapshot.h"

#include "base/error.h"
#include "base/syscalls.h"
#include "fs/listing.h"
#include "fs/openfolder.h"
#include "names/printablename.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

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

void FolderSnapshot::keepFirst(int count)
{
    // Sorting moved entries, not names: the names kept end where the first later one begins.
    std::size_t end = m_names.size();
    for (auto entry = m_entries.begin() + count; entry != m_entries.end(); ++entry)
        end = std::min<std::size_t>(end, entry->offset);
    m_entries.resize(std::size_t(count));
    m_names.resize(end);
}

void FolderSnapshot::sort(int first)
{
    const char* names = m_names.data();
    std::sort(m_entries.begin() + first, m_entries.end(), [names](const Entry& a, const Entry& b) {
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

int ListFolder(const OpenFolder& folder, FolderSnapshot& files,
               std::vector<std::string>* subfolders, Listing::Offset offset)
{
    Listing entries(folder.fd(), offset);
    if (entries.failed())
        return entries.error();
    const int first = files.size();
    while (const auto* entry = entries.next()) {
        const std::size_t length = std::strlen(entry->d_name);
        const bool mp3 = isListedName(entry->d_name, length);
        // Hidden folders are left out as hidden files are.
        const bool folderName = subfolders && entry->d_name[0] != '.';
        if (!mp3 && !folderName)
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
            else if (S_ISDIR(info.st_mode))
                type = DT_DIR;
        }
        if (folderName && type == DT_DIR)
            subfolders->emplace_back(entry->d_name, length);
        else if (mp3 && (typeError != 0 || type == DT_REG))
            files.add(entry->d_name, length, typeError);
    }
    if (entries.failed()) {
        // Half a listing is no snapshot: none of the folder's files is renamed.
        files.keepFirst(first);
        if (subfolders)
            subfolders->clear();
        return entries.error();
    }
    files.sort(first);
    if (subfolders)
        std::sort(subfolders->begin(), subfolders->end());
    return 0;
}

FolderSnapshot ListMp3Files(const OpenFolder& folder)
{
    FolderSnapshot files;
    if (const int code = ListFolder(folder, files, nullptr); code != 0)
        throwListingFailed(folder.path(), code);
    return files;
}

} // namespace sorvane
