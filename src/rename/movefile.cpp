#include "rename/movefile.h"

#include "tag/error.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sorvane
{

namespace
{

[[noreturn]] void throwRefused(const QString& source, const QString& target, int code)
{
#ifdef Q_OS_WIN
    const bool exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
#else
    const bool exists = code == EEXIST;
#endif
    const QString reason =
        exists ? QStringLiteral("файл с таким именем уже существует") : qt_error_string(code);
    throw Error(QStringLiteral("Не удалось переименовать %1 в %2: %3.")
                    .arg(QuotedPath(source), QuotedPath(target), reason));
}

#ifndef Q_OS_WIN
// File systems without RENAME_NOREPLACE still refuse a hard link onto an existing name, so
// link-then-unlink is the same atomic "create only if absent".
void linkThenUnlink(const QByteArray& from, const QByteArray& to, const QString& source,
                    const QString& target)
{
    if (::link(from.constData(), to.constData()) != 0)
        throwRefused(source, target, errno);
    if (::unlink(from.constData()) != 0) {
        const int code = errno;
        // Leave one name, the old one, rather than two.
        ::unlink(to.constData());
        throwRefused(source, target, code);
    }
}
#endif

} // namespace

void MoveFileNoReplace(const QString& source, const QString& target)
{
#ifdef Q_OS_WIN
    // No MOVEFILE_REPLACE_EXISTING and no MOVEFILE_COPY_ALLOWED.
    if (!::MoveFileExW(reinterpret_cast<const wchar_t*>(source.utf16()),
                       reinterpret_cast<const wchar_t*>(target.utf16()), 0))
        throwRefused(source, target, static_cast<int>(::GetLastError()));
#else
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return;
    const int code = errno;
    if (code == EINVAL || code == ENOSYS || code == EOPNOTSUPP)
        return linkThenUnlink(from, to, source, target);
    throwRefused(source, target, code);
#endif
}

} // namespace sorvane
