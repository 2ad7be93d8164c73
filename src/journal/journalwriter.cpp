#include "journal/journalwriter.h"

#include "base/error.h"
#include "journal/journalfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

// Each missing folder made with 0700: journals name the user's files.
bool makeFolder(const QString& path)
{
    struct stat info = {};
    if (Sys.fstatat(AT_FDCWD, QFile::encodeName(path).constData(), &info, 0) == 0)
        return S_ISDIR(info.st_mode) || (errno = ENOTDIR, false);
    const QString parent = QFileInfo(path).path();
    if (parent != path && !makeFolder(parent))
        return false;
    return Sys.mkdirat(AT_FDCWD, QFile::encodeName(path).constData(), 0700) == 0 || errno == EEXIST;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Into place under its own name, which must be free: the journal appears whole or not at all.
// The folder is the user's alone and the name unique to this process, so where the drive has
// neither way of renaming without replacing, a look before the rename is enough.
int moveIntoPlace(int dir, const char* from, const char* to)
{
    if (Sys.renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (Sys.linkat(dir, from, dir, to, 0) == 0) {
        Sys.unlinkat(dir, from, 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    struct stat taken = {};
    if (Sys.fstatat(dir, to, &taken, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return Sys.renameat(dir, from, dir, to) == 0 ? 0 : errno;
}

// Where the last whole line of a file of `size` bytes ends: after its last line end, looked for
// no further back than a line may be long; -1 when it cannot be found.
qint64 endOfWholeLines(int fd, qint64 size)
{
    char buffer[4096];
    for (qint64 end = size; end > 0 && size - end <= 65 * 1024;) {
        const qint64 from = std::max<qint64>(0, end - qint64(sizeof buffer));
        const ssize_t got = Sys.pread(fd, buffer, size_t(end - from), from);
        if (got != end - from)
            return -1;
        if (end == size && got > 0 && buffer[got - 1] == '\n')
            return size;
        if (const void* newline = ::memrchr(buffer, '\n', size_t(got)))
            return from + (static_cast<const char*>(newline) - buffer) + 1;
        end = from;
    }
    return size == 0 ? 0 : -1;
}

} // namespace

JournalWriter::~JournalWriter()
{
    if (!m_path.isEmpty())
        LetGoOfJournal(m_path);
}

std::unique_ptr<JournalWriter> JournalWriter::create(JournalKind kind, const QByteArray& folder,
                                                     QString& error)
{
    const QString dir = JournalFolder();
    const auto failed = [&error](const QString& what, const QString& path) {
        error =
            QStringLiteral("не удалось %1 %2: %3").arg(what, QuotedPath(path), SystemReason(errno));
        return nullptr;
    };
    if (!makeFolder(dir))
        return failed(QStringLiteral("создать папку"), dir);
    const FileDescriptor dirFd(Sys.openat(AT_FDCWD, QFile::encodeName(dir).constData(),
                                          O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!dirFd.isOpen())
        return failed(QStringLiteral("открыть папку"), dir);
    // Named by start time and process: sorted by name, they are sorted by time.
    const qint64 started = now();
    const QString stem =
        QDateTime::fromMSecsSinceEpoch(started, Qt::UTC)
            .toString(QStringLiteral("yyyyMMdd-HHmmss.zzz")) +
        QStringLiteral("-%1-%2").arg(::getpid()).arg(QLatin1String(JournalKindName(kind)));
    std::unique_ptr<JournalWriter> writer(new JournalWriter());
    QByteArray temporary;
    for (int attempt = 0; attempt < 100 && !writer->m_fd.isOpen(); ++attempt) {
        temporary = QFile::encodeName(QStringLiteral(".%1-%2.new").arg(stem).arg(attempt));
        writer->m_fd = FileDescriptor(
            Sys.openat(dirFd.get(), temporary.constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!writer->m_fd.isOpen() && errno != EEXIST)
            break;
    }
    if (!writer->m_fd.isOpen())
        return failed(QStringLiteral("создать журнал в"), dir);
    // Whatever fails from here, the half-made journal goes.
    struct Remove {
        int dir;
        const QByteArray* name;
        ~Remove()
        {
            if (name)
                Sys.unlinkat(dir, name->constData(), 0);
        }
    } remove{dirFd.get(), &temporary};
    // Blocking: only a probe's shared lock, held for microseconds, can stand in its way.
    while (Sys.flock(writer->m_fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return failed(QStringLiteral("заблокировать журнал в"), dir);
    }
    if (!writer->writeLine(JournalHeader(kind, folder, started).chopped(1))) {
        errno = writer->m_error;
        return failed(QStringLiteral("записать журнал в"), dir);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = stem + (attempt ? QStringLiteral("-%1").arg(attempt) : QString()) +
                             QStringLiteral(".journal");
        const int code =
            moveIntoPlace(dirFd.get(), temporary.constData(), QFile::encodeName(name).constData());
        if (code == 0) {
            remove.name = nullptr;
            writer->m_path = dir + QLatin1Char('/') + name;
            HoldJournal(writer->m_path);
            return writer;
        }
        if (code != EEXIST) {
            errno = code;
            break;
        }
    }
    return failed(QStringLiteral("записать журнал в"), dir);
}

std::unique_ptr<JournalWriter> JournalWriter::reopen(const QString& path, QString& error,
                                                     bool& held)
{
    held = false;
    std::unique_ptr<JournalWriter> writer(new JournalWriter());
    writer->m_fd = OpenJournal(path, true, error);
    if (!writer->m_fd.isOpen())
        return nullptr;
    const int fd = writer->m_fd.get();
    if (Sys.flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        error = held ? QStringLiteral("журнал %1 сейчас занят другим Sorvane").arg(QuotedPath(path))
                     : QStringLiteral("не удалось заблокировать журнал %1: %2")
                           .arg(QuotedPath(path), SystemReason(errno));
        return nullptr;
    }
    // A line the run was killed while writing is cut off, so the records that follow stand on
    // lines of their own.
    struct stat info = {};
    if (Sys.fstat(fd, &info) != 0) {
        error = QStringLiteral("не удалось прочитать журнал %1: %2")
                    .arg(QuotedPath(path), SystemReason(errno));
        return nullptr;
    }
    const qint64 whole = endOfWholeLines(fd, info.st_size);
    writer->m_cutOff = whole >= 0 && whole < info.st_size;
    if (whole < 0 || (whole < info.st_size && Sys.ftruncate(fd, whole) != 0)) {
        error = QStringLiteral("не удалось дописать журнал %1: его последняя строка оборвана")
                    .arg(QuotedPath(path));
        return nullptr;
    }
    writer->m_path = path;
    HoldJournal(path);
    return writer;
}

bool JournalWriter::write(const char* bytes, std::size_t size)
{
    if (m_error != 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = Sys.write(m_fd.get(), bytes + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            m_error = got < 0 ? errno : EIO;
            return false;
        }
        done += std::size_t(got);
    }
    return true;
}

bool JournalWriter::writeLine(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    return write(bytes.constData(), std::size_t(bytes.size()));
}

int JournalWriter::add(QByteArrayView folder, QByteArrayView oldName, QByteArrayView newName,
                       const FileIdentity& identity, qint64 time)
{
    const int number = m_next++;
    m_entryFolder.set(folder);
    AppendEntryLine(m_pending, number, m_entryFolder, oldName, newName, identity, time);
    return number;
}

void JournalWriter::addRecord(const char* word, int number, QByteArrayView name)
{
    const QByteArray line = RecordLine(word, number, name);
    m_pending.append(line.constData(), std::size_t(line.size()));
}

bool JournalWriter::flush()
{
    if (m_pending.empty())
        return m_error == 0;
    const bool written = write(m_pending.data(), m_pending.size());
    m_pending.clear();
    return written;
}

bool JournalWriter::record(const char* word, int number, QByteArrayView name)
{
    addRecord(word, number, name);
    return flush();
}

bool JournalWriter::reserve(qint64 bytes)
{
    struct stat info = {};
    if (Sys.fstat(m_fd.get(), &info) != 0)
        return true;
    if (Sys.fallocate(m_fd.get(), FALLOC_FL_KEEP_SIZE, info.st_size, bytes) == 0)
        return true;
    if (errno == ENOSPC || errno == EDQUOT) {
        m_error = errno;
        return false;
    }
    return true;
}

bool JournalWriter::writeMark(const std::string& line)
{
    m_pending += line;
    if (!flush())
        return false;
    if (Sys.fsync(m_fd.get()) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

bool JournalWriter::close(int renamed)
{
    if (m_closed)
        return m_error == 0;
    m_closed = true;
    return writeMark("end\tcomplete\t" + std::to_string(renamed) + '\n');
}

bool JournalWriter::markUndoStarted()
{
    return writeMark("undo\tstarted\t" + std::to_string(now()) + '\n');
}

bool JournalWriter::markUndone()
{
    return writeMark("undone\t" + std::to_string(now()) + '\n');
}

bool JournalWriter::markSetsTime()
{
    if (m_setsTimeMarked)
        return m_error == 0;
    m_setsTimeMarked = true;
    m_pending += "settime\n";
    return flush();
}

bool JournalWriter::markDismissed()
{
    return writeMark("end\tdismissed\n");
}

bool MarkJournalDismissed(const QString& path, QString& error)
{
    bool held = false;
    const std::unique_ptr<JournalWriter> writer = JournalWriter::reopen(path, error, held);
    if (!writer)
        return false;
    if (!writer->markDismissed()) {
        error = QStringLiteral("не удалось дописать журнал %1: %2")
                    .arg(QuotedPath(path), SystemReason(writer->error()));
        return false;
    }
    return true;
}

} // namespace sorvane
