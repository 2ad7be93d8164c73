#include "rename/openfolder.h"

#include "tag/tagfailures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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
