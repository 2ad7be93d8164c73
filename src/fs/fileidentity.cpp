#include "fs/fileidentity.h"

#include "base/syscalls.h"
#include "fs/drivetraits.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace sorvane
{

quint64 DigestOf(QByteArrayView bytes)
{
    // FNV-1a, 64 bits: a few hundred bytes a file, and the same on every platform.
    quint64 hash = 0xcbf29ce484222325ULL;
    for (const char byte : bytes) {
        hash ^= quint8(byte);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

FileIdentity IdentityOf(qint64 size, qint64 modified, qint64 inode, QByteArrayView tail,
                        const DriveTraits& traits)
{
    FileIdentity identity;
    identity.size = size;
    identity.modified = traits.keepsTimes ? modified : -1;
    identity.inode = traits.keepsInodes ? inode : -1;
    identity.digest = DigestOf(tail);
    identity.digestOffset = size - tail.size();
    identity.digestLength = int(tail.size());
    return identity;
}

bool ReadIdentityAt(int dir, const char* name, const DriveTraits& traits, FileIdentity& identity,
                    qint64& modified, int& error)
{
    const FileDescriptor file(
        Sys.openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    struct stat info = {};
    if (!file.isOpen() || Sys.fstat(file.get(), &info) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
        return false;
    }
    char tail[TailLength];
    const qint64 length = std::min<qint64>(info.st_size, TailLength);
    qint64 done = 0;
    while (done < length) {
        const ssize_t got =
            Sys.pread(file.get(), tail + done, size_t(length - done), info.st_size - length + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : EIO;
            return false;
        }
        done += got;
    }
    modified = ModifiedNs(info);
    identity = IdentityOf(info.st_size, modified, qint64(info.st_ino), QByteArrayView(tail, length),
                          traits);
    return true;
}

bool SameIdentity(const FileIdentity& recorded, const FileIdentity& now)
{
    if (recorded.size != now.size)
        return false;
    if (recorded.modified >= 0 && now.modified >= 0 && recorded.modified != now.modified)
        return false;
    if (recorded.inode >= 0 && now.inode >= 0 && recorded.inode != now.inode)
        return false;
    if (recorded.digestLength > 0 && now.digestLength > 0)
        return recorded.digestOffset == now.digestOffset &&
               recorded.digestLength == now.digestLength && recorded.digest == now.digest;
    return recorded.digestLength == 0 && recorded.modified >= 0 && now.modified >= 0;
}

Found CompareIdentity(int fd, const struct stat& info, const FileIdentity& identity)
{
    if (!S_ISREG(info.st_mode))
        return Found::Other;
    FileIdentity now;
    now.size = info.st_size;
    now.modified = ModifiedNs(info);
    now.inode = qint64(info.st_ino);
    if (identity.digestLength > 0 && info.st_size == identity.size) {
        QByteArray bytes(identity.digestLength, Qt::Uninitialized);
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t got = Sys.pread(fd, bytes.data() + done, size_t(bytes.size() - done),
                                          identity.digestOffset + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return Found::Other; // what cannot be read again cannot be shown to be the file
            done += got;
        }
        now.digest = DigestOf(bytes);
        now.digestOffset = identity.digestOffset;
        now.digestLength = identity.digestLength;
    }
    return SameIdentity(identity, now) ? Found::Same : Found::Other;
}

Found IdentityAt(int dir, const char* name, const FileIdentity& identity, int* error,
                 struct stat* found)
{
    // O_NONBLOCK: a FIFO under a song's name must not stop the program.
    const FileDescriptor file(
        Sys.openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    if (!file.isOpen()) {
        const int code = errno;
        if (error)
            *error = code;
        return code == ENOENT || code == ENOTDIR ? Found::Missing : Found::Other;
    }
    struct stat info = {};
    if (Sys.fstat(file.get(), &info) != 0) {
        if (error)
            *error = errno;
        return Found::Other;
    }
    if (found)
        *found = info;
    return CompareIdentity(file.get(), info, identity);
}

} // namespace sorvane
