#pragma once

#include "base/syscalls.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace testing
{

// Makes the folders a test works in answer like FAT or exFAT on Linux's own disk: a name finds
// the entry spelt like it in any letter case, no hard links, no RENAME_NOREPLACE. Install with a
// SeamGuard alive.
class CaseInsensitiveSeam
{
public:
    static void install()
    {
        using sorvane::Sys;
        Sys.renameat2 = [](int, const char*, int, const char*, unsigned) {
            errno = EINVAL;
            return -1;
        };
        Sys.linkat = [](int, const char*, int, const char*, int) {
            errno = EPERM;
            return -1;
        };
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            return ::fstatat(dir, resolve(dir, name).c_str(), info, flags);
        };
        Sys.unlinkat = [](int dir, const char* name, int flags) {
            return ::unlinkat(dir, resolve(dir, name).c_str(), flags);
        };
        Sys.openat = [](int dir, const char* name, int flags, mode_t mode) {
            const std::string found = resolve(dir, name);
            if ((flags & O_CREAT) && (flags & O_EXCL) && found != name) {
                errno = EEXIST;
                return -1;
            }
            return ::openat(dir, found.c_str(), flags, mode);
        };
        // A rename replaces whatever entry the new name finds, and the entry takes the new
        // spelling.
        Sys.renameat = [](int fromDir, const char* from, int toDir, const char* to) {
            const std::string source = resolve(fromDir, from), target = resolve(toDir, to);
            if (target != to && ::unlinkat(toDir, target.c_str(), 0) != 0)
                return -1;
            return ::renameat(fromDir, source.c_str(), toDir, to);
        };
    }

    // On top of install(): every move from a name aside ("sorvane-…") fails with EIO, so a
    // case-only move can go neither on nor back.
    static void failMovesFromAside()
    {
        static decltype(sorvane::Sys.renameat) caseInsensitive;
        caseInsensitive = sorvane::Sys.renameat;
        sorvane::Sys.renameat = [](int fromDir, const char* from, int toDir, const char* to) {
            if (std::strncmp(from, "sorvane-", 8) == 0) {
                errno = EIO;
                return -1;
            }
            return caseInsensitive(fromDir, from, toDir, to);
        };
    }

    // The entry the name finds: itself where spelt exactly so, else the first in another case.
    static std::string resolve(int dir, const char* name)
    {
        if (::faccessat(dir, name, F_OK, AT_SYMLINK_NOFOLLOW) == 0 || std::strchr(name, '/'))
            return name;
        const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* entries = fd >= 0 ? ::fdopendir(fd) : nullptr;
        std::string found = name;
        const QString wanted = QFile::decodeName(name);
        while (const dirent* entry = entries ? ::readdir(entries) : nullptr) {
            if (QFile::decodeName(entry->d_name).compare(wanted, Qt::CaseInsensitive) == 0) {
                found = entry->d_name;
                break;
            }
        }
        if (entries)
            ::closedir(entries);
        return found;
    }
};

} // namespace testing
