#include "fs/openfolder.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace sorvane
{

QByteArray OpenFolder::nativeName(const QString& name)
{
    return QFile::encodeName(name);
}

QString OpenFolder::displayName(const char* name)
{
    return QFile::decodeName(name);
}

OpenFolder::OpenFolder(const QString& path) : m_path(path)
{
    m_fd = FileDescriptor(Sys.openat(AT_FDCWD, QFile::encodeName(path).constData(),
                                     O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!m_fd.isOpen()) {
        throw Error(QStringLiteral("Не удалось открыть папку %1: %2.")
                        .arg(QuotedPath(path), SystemReason(errno)));
    }
}

std::unique_ptr<OpenFolder> OpenFolder::child(const OpenFolder& parent, const char* name,
                                              int& error)
{
    FileDescriptor fd(
        Sys.openat(parent.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
    if (!fd.isOpen()) {
        error = errno;
        return nullptr;
    }
    std::unique_ptr<OpenFolder> folder(new OpenFolder());
    folder->m_path = QDir(parent.path()).filePath(displayName(name));
    folder->m_fd = std::move(fd);
    return folder;
}

OpenFolder::Identity OpenFolder::identity() const
{
    Identity identity;
    struct statx info = {};
    if (Sys.statx(fd(), "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &info) != 0)
        return identity;
    identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    identity.inode = info.stx_ino;
    identity.knowsMount = (info.stx_mask & STATX_MNT_ID) != 0;
    identity.mount = info.stx_mnt_id;
    return identity;
}

bool OpenFolder::keepsInodes() const
{
    if (m_keepsInodes < 0) {
        // Linux's own disk file systems, tmpfs and NFS keep them.
        static const long Keeping[] = {
            0xEF53 /* ext2-4 */,    0x58465342 /* xfs */,  0x9123683E /* btrfs */,
            0x01021994 /* tmpfs */, 0xF2F52010 /* f2fs */, 0x2FC12FC1 /* zfs */,
            0x6969 /* nfs */,       0x3153464A /* jfs */,  0x52654973 /* reiserfs */};
        struct statfs info = {};
        m_keepsInodes = Sys.fstatfs(fd(), &info) == 0 &&
                        std::find(std::begin(Keeping), std::end(Keeping), long(info.f_type)) !=
                            std::end(Keeping);
    }
    return m_keepsInodes == 1;
}

bool OpenFolder::sameAs(const OpenFolder& other) const
{
    struct stat mine = {}, theirs = {};
    return ::fstat(fd(), &mine) == 0 && ::fstat(other.fd(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

NameWatch* OpenFolder::nameWatch() const
{
    if (!m_watchTried) {
        m_watchTried = true;
        m_watch.start(fd());
    }
    return m_watch.started() ? &m_watch : nullptr;
}

} // namespace sorvane
