#include "fs/folderlock.h"

#include "base/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

// A folder of the user's alone, so no other user can make or hold a lock in it: made where
// missing, refused where someone else owns it or can write into it, or where it is a link.
bool isPrivateFolder(int fd)
{
    struct stat info = {};
    return Sys.fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 0077) == 0;
}

// Opens `path` one component at a time below `base`, making the missing ones with 0700.
FileDescriptor openPrivate(const QString& base, const QStringList& components, bool checkBase,
                           int& error)
{
    FileDescriptor dir(Sys.openat(AT_FDCWD, QFile::encodeName(base).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!dir.isOpen() || (checkBase && !isPrivateFolder(dir.get()))) {
        error = dir.isOpen() ? EACCES : errno;
        return FileDescriptor();
    }
    for (const QString& component : components) {
        const QByteArray name = QFile::encodeName(component);
        if (Sys.mkdirat(dir.get(), name.constData(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return FileDescriptor();
        }
        FileDescriptor next(Sys.openat(dir.get(), name.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
        if (!next.isOpen() || !isPrivateFolder(next.get())) {
            error = next.isOpen() ? EACCES : errno;
            return FileDescriptor();
        }
        dir = std::move(next);
    }
    return dir;
}

// Where the lock folder is: below a base folder, the components to make with 0700.
struct Place {
    QString base;
    QStringList components;
    bool checkBase; // the base must be the user's own too
};

Place lockPlace()
{
    // Set but missing, it is a leftover of another session: the next place serves.
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return {runtime, {QStringLiteral("sorvane"), QStringLiteral("locks")}, false};
    const QString user = QStringLiteral("/run/user/%1").arg(::getuid());
    if (QFileInfo::exists(user))
        return {user, {QStringLiteral("sorvane"), QStringLiteral("locks")}, true};
    // /tmp is everyone's: the folder must be the user's own, made by them with 0700.
    return {QStringLiteral("/tmp"),
            {QStringLiteral("sorvane-%1").arg(::getuid()), QStringLiteral("locks")},
            false};
}

// Opened once and kept: a tree run takes a lock for each of thousands of folders, and looking
// for the place again (a stat of the runtime folder) was a tenth of a folder's cost. Looked for
// again only when XDG_RUNTIME_DIR changes, as between tests.
std::shared_ptr<const FileDescriptor> openLockFolder(int& error)
{
    static std::mutex mutex;
    static QByteArray openedFor;
    static std::shared_ptr<const FileDescriptor> folder;
    const std::lock_guard<std::mutex> lock(mutex);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!folder || runtime != openedFor) {
        const Place place = lockPlace();
        FileDescriptor fd = openPrivate(place.base, place.components, place.checkBase, error);
        if (!fd.isOpen())
            return nullptr;
        folder = std::make_shared<const FileDescriptor>(std::move(fd));
        openedFor = runtime;
    }
    return folder;
}

} // namespace

QString LockFolderPath()
{
    const Place place = lockPlace();
    return place.base + QLatin1Char('/') + place.components.join(QLatin1Char('/'));
}

QString LockFailureReason(int error)
{
    return QStringLiteral("не удалось заблокировать папку для переименования (%1): %2")
        .arg(QuotedPath(LockFolderPath()), SystemReason(error));
}

FolderLock::Taken FolderLock::take(int folder, FolderLock& lock, int& error)
{
    lock.release();
    struct stat info = {};
    if (Sys.fstat(folder, &info) != 0) {
        error = errno;
        return Taken::Failed;
    }
    return take(info.st_dev, info.st_ino, lock, error);
}

FolderLock::Taken FolderLock::take(quint64 device, quint64 inode, FolderLock& lock, int& error)
{
    lock.release();
    const std::shared_ptr<const FileDescriptor> dir = openLockFolder(error);
    if (!dir)
        return Taken::Failed;
    // Files never removed, and in each one byte per folder, at its inode number: a lock costs an
    // open and a lock of a byte, where a file made and removed for each folder cost a tree run a
    // fifth of its time. A run holds every folder's lock from its walk on, and the kernel looks
    // through all locks of a file for each new one, so the folders are spread over LockFiles
    // files of their device by the inode's low bits. The top bits of the inode name the file too,
    // so that the byte's offset fits an off_t.
    char name[80];
    std::snprintf(name, sizeof name, "%llx-%llx-%llx.lock", static_cast<unsigned long long>(device),
                  static_cast<unsigned long long>(inode >> InodeOffsetBits),
                  static_cast<unsigned long long>(inode % LockFiles));
    FileDescriptor fd(
        Sys.openat(dir->get(), name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isOpen()) {
        error = errno;
        return Taken::Failed;
    }
    // An open file description's lock, not the process's: a second lock of this process on its
    // own descriptor is refused as another process's is, and the lock goes with the descriptor's
    // close, or the process's end however it ends.
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = off_t(inode & ((1ULL << InodeOffsetBits) - 1));
    range.l_len = 1;
    if (Sys.lockRange(fd.get(), F_OFD_SETLK, &range) != 0) {
        if (errno == EAGAIN || errno == EACCES)
            return Taken::Held;
        error = errno;
        return Taken::Failed;
    }
    lock.m_fd = std::move(fd);
    return Taken::Yes;
}

void FolderLock::release()
{
    m_fd = FileDescriptor();
}

} // namespace sorvane
