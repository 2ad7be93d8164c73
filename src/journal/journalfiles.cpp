#include "journal/journalfiles.h"

#include "base/error.h"
#include "fs/listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

const QLatin1String Suffix(".journal");

std::mutex g_heldMutex;
std::set<QString>& heldJournals()
{
    static std::set<QString> held;
    return held;
}

bool isPrivate(const struct stat& info)
{
    return info.st_uid == ::getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString stateFolder()
{
    return QFileInfo(JournalFolder()).path();
}

} // namespace

QString JournalFolder()
{
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state) + QStringLiteral("/sorvane/runs");
}

QStringList JournalPaths()
{
    const QString folder = JournalFolder();
    const FileDescriptor dir(Sys.openat(AT_FDCWD, QFile::encodeName(folder).constData(),
                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    QStringList paths;
    if (!dir.isOpen())
        return paths;
    Listing entries(dir.get());
    while (const auto* entry = entries.next()) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!name.startsWith(QLatin1Char('.')) && name.endsWith(Suffix) &&
            name.size() > Suffix.size())
            paths << folder + QLatin1Char('/') + name;
    }
    paths.sort();
    return paths;
}

QString JournalId(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.endsWith(Suffix) ? name.chopped(Suffix.size()) : name;
}

QString JournalPathForId(const QString& id)
{
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.startsWith(QLatin1Char('.')))
        return QString();
    const QString path = JournalFolder() + QLatin1Char('/') + id + Suffix;
    return JournalPaths().contains(path) ? path : QString();
}

FileDescriptor OpenJournal(const QString& path, bool write, QString& error)
{
    const auto refused = [&error](const QString& why) {
        error = why;
        return FileDescriptor();
    };
    const QFileInfo file(path);
    const QString folder = JournalFolder();
    if (QDir::cleanPath(file.path()) != folder)
        return refused(QStringLiteral("журнал %1 не в папке журналов %2")
                           .arg(QuotedPath(path), QuotedPath(folder)));
    const FileDescriptor dir(Sys.openat(AT_FDCWD, QFile::encodeName(folder).constData(),
                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    struct stat info = {};
    if (!dir.isOpen() || Sys.fstat(dir.get(), &info) != 0)
        return refused(QStringLiteral("не удалось открыть папку журналов %1: %2")
                           .arg(QuotedPath(folder), SystemReason(errno)));
    if (!isPrivate(info))
        return refused(QStringLiteral("папка журналов %1 принадлежит другому пользователю или "
                                      "открыта для записи другим")
                           .arg(QuotedPath(folder)));
    const int flags = (write ? O_RDWR | O_APPEND : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    FileDescriptor fd(
        Sys.openat(dir.get(), QFile::encodeName(file.fileName()).constData(), flags, 0));
    if (!fd.isOpen())
        return refused(errno == ELOOP
                           ? QStringLiteral("журнал %1 — символьная ссылка").arg(QuotedPath(path))
                           : QStringLiteral("не удалось открыть журнал %1: %2")
                                 .arg(QuotedPath(path), SystemReason(errno)));
    if (Sys.fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return refused(QStringLiteral("журнал %1 — не обычный файл").arg(QuotedPath(path)));
    if (!isPrivate(info))
        return refused(QStringLiteral("журнал %1 принадлежит другому пользователю или открыт "
                                      "для записи другим")
                           .arg(QuotedPath(path)));
    return fd;
}

void HoldJournal(const QString& path)
{
    const std::lock_guard<std::mutex> lock(g_heldMutex);
    heldJournals().insert(path);
}

void LetGoOfJournal(const QString& path)
{
    const std::lock_guard<std::mutex> lock(g_heldMutex);
    heldJournals().erase(path);
}

bool IsJournalLive(const QString& path)
{
    {
        const std::lock_guard<std::mutex> lock(g_heldMutex);
        if (heldJournals().count(path) != 0)
            return true;
    }
    const FileDescriptor fd(Sys.openat(AT_FDCWD, QFile::encodeName(path).constData(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    return fd.isOpen() && Sys.flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

void PruneJournals(int keep)
{
    // Named "yyyyMMdd-HHmmss.zzz-PID-kind" with a count after a clash; only such names are
    // Sorvane's to remove.
    static const QRegularExpression Name(
        QStringLiteral("^\\d{8}-\\d{6}\\.\\d{3}-\\d+-(run|single|undo)(-\\d+)?\\.journal$"));
    const QStringList paths = JournalPaths();
    int runs = 0, singles = 0;
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        const QRegularExpressionMatch match = Name.match(QFileInfo(*path).fileName());
        if (!match.hasMatch())
            continue;
        int& kept = match.captured(1) == QLatin1String("single") ? singles : runs;
        if (kept < keep) {
            ++kept;
            continue;
        }
        if (!IsJournalLive(*path))
            Sys.unlinkat(AT_FDCWD, QFile::encodeName(*path).constData(), 0);
    }
}

bool WasReported(const QString& path)
{
    QFile file(stateFolder() + QStringLiteral("/reported"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray id = QFile::encodeName(JournalId(path));
    while (!file.atEnd()) {
        if (file.readLine(64 * 1024).trimmed() == id)
            return true;
    }
    return false;
}

void MarkReported(const QString& path)
{
    QFile file(stateFolder() + QStringLiteral("/reported"));
    if (file.open(QIODevice::Append))
        file.write(QFile::encodeName(JournalId(path)) + '\n');
}

} // namespace sorvane
