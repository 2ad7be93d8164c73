#include "fs/openfolder.h"

#include <QFile>

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

QString ChildPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
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
    m_traits = TraitsOfDrive(m_fd.get());
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
    folder->m_path = ChildPath(parent.path(), displayName(name));
    folder->m_fd = std::move(fd);
    // The walk enters no other mount: a folder below is on its parent's drive.
    folder->m_traits = parent.m_traits;
    return folder;
}

bool OpenFolder::identity(Identity& identity, int& error) const
{
    struct statx info = {};
    if (Sys.statx(fd(), "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &info) != 0) {
        error = errno;
        return false;
    }
    identity.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    identity.inode = info.stx_ino;
    identity.knowsMount = (info.stx_mask & STATX_MNT_ID) != 0;
    identity.mount = info.stx_mnt_id;
    return true;
}

bool OpenFolder::sameAs(const OpenFolder& other) const
{
    struct stat mine = {}, theirs = {};
    return Sys.fstat(fd(), &mine) == 0 && Sys.fstat(other.fd(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

NameWatch* OpenFolder::nameWatch() const
{
    if (!m_watchStarted) {
        m_watchStarted = true;
        m_watch.start(fd());
    }
    return m_watch.started() ? &m_watch : nullptr;
}

bool OpenFolder::mayUse(Means means) const
{
    return means == Means::NoReplaceFlag ? !m_noReplaceRefused.load() : !m_hardLinksRefused.load();
}

void OpenFolder::refuses(Means means) const
{
    (means == Means::NoReplaceFlag ? m_noReplaceRefused : m_hardLinksRefused).store(true);
}

} // namespace sorvane
