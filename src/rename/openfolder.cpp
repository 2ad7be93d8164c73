#include "rename/openfolder.h"

#include "tag/tagfailures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#endif

namespace sorvane
{

QByteArray OpenFolder::nativeName(const QString& name)
{
#ifdef Q_OS_UNIX
    return QFile::encodeName(name);
#else
    return name.toUtf8();
#endif
}

QString OpenFolder::displayName(const char* name)
{
#ifdef Q_OS_UNIX
    return QFile::decodeName(name);
#else
    return QString::fromUtf8(name);
#endif
}

#ifdef Q_OS_UNIX

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

Outcome OpenFolder::readTagBytes(const char* name, TagBytes& bytes) const
{
    return ReadTagBytesAt(fd(), name, bytes);
}

NameWatch* OpenFolder::nameWatch() const
{
    if (!m_watchTried) {
        m_watchTried = true;
        m_watch.start(fd());
    }
    return m_watch.started() ? &m_watch : nullptr;
}

#else

OpenFolder::OpenFolder(const QString& path) : m_path(path)
{
    if (!QFileInfo(path).isDir()) {
        throw Error(
            QStringLiteral("Не удалось открыть папку %1: это не папка.").arg(QuotedPath(path)));
    }
}

std::unique_ptr<OpenFolder> OpenFolder::child(const OpenFolder& parent, const char* name,
                                              int& error)
{
    const QString path = QDir(parent.path()).filePath(displayName(name));
    if (!QFileInfo(path).isDir() || QFileInfo(path).isSymLink()) {
        error = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    std::unique_ptr<OpenFolder> folder(new OpenFolder());
    folder->m_path = path;
    return folder;
}

OpenFolder::Identity OpenFolder::identity() const
{
    return Identity();
}

bool OpenFolder::keepsInodes() const
{
    return false;
}

bool OpenFolder::sameAs(const OpenFolder& other) const
{
    return QFileInfo(m_path).canonicalFilePath() == QFileInfo(other.m_path).canonicalFilePath();
}

QString OpenFolder::filePath(const char* name) const
{
    return QDir(m_path).filePath(QString::fromUtf8(name));
}

Outcome OpenFolder::readTagBytes(const char* name, TagBytes& bytes) const
{
    try {
        bytes = ReadTagBytes(filePath(name));
    } catch (const Error&) {
        return {&TagFailure::ReadFailed, 0};
    }
    return {};
}

#endif

} // namespace sorvane
