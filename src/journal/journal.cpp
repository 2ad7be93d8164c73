#include "journal/journal.h"

#include "base/error.h"
#include "names/printablename.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

const char FirstLine[] = "sorvane journal 1";

const char* kindName(JournalKind kind)
{
    switch (kind) {
    case JournalKind::Run:
        return "run";
    case JournalKind::Single:
        return "single";
    case JournalKind::Undo:
        return "undo";
    }
    return "run";
}

QByteArray field(const QByteArray& bytes)
{
    QByteArray out;
    AppendPrintable(out, bytes, true);
    return out;
}

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}

// Made with 0700 where missing: journals name the user's files.
bool makeFolder(const QString& path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).path();
    if (parent != path && !makeFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace

QString JournalFolder()
{
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/sorvane/runs");
}

JournalWriter::~JournalWriter() = default;

std::unique_ptr<JournalWriter> JournalWriter::create(JournalKind kind, const QByteArray& folder,
                                                     QString& error, const QString& undoes)
{
    const QString dir = JournalFolder();
    if (!makeFolder(dir)) {
        error = QStringLiteral("не удалось создать папку %1: %2")
                    .arg(QuotedPath(dir), SystemReason(errno));
        return nullptr;
    }
    std::unique_ptr<JournalWriter> writer(new JournalWriter());
    // Named by start time and process: sorted by name, they are sorted by time.
    const QString stem =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss.zzz")) +
        QStringLiteral("-%1-%2").arg(::getpid()).arg(QLatin1String(kindName(kind)));
    for (int attempt = 0; attempt < 100 && !writer->m_fd.isOpen(); ++attempt) {
        writer->m_path =
            QStringLiteral("%1/%2%3.journal")
                .arg(dir, stem, attempt ? QStringLiteral("-%1").arg(attempt) : QString());
        writer->m_fd =
            FileDescriptor(Sys.openat(AT_FDCWD, QFile::encodeName(writer->m_path).constData(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
        if (!writer->m_fd.isOpen() && errno != EEXIST)
            break;
    }
    if (!writer->m_fd.isOpen() || ::flock(writer->m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = QStringLiteral("не удалось создать %1: %2")
                    .arg(QuotedPath(writer->m_path), SystemReason(errno));
        return nullptr;
    }
    QByteArray header =
        QByteArray(FirstLine) + "\nkind\t" + kindName(kind) + "\nfolder\t" + field(folder) + '\n';
    if (!undoes.isEmpty())
        header += "undoes\t" + field(QFile::encodeName(undoes)) + '\n';
    if (!writer->writeLine(header.chopped(1))) {
        error = QStringLiteral("не удалось записать %1: %2")
                    .arg(QuotedPath(writer->m_path), SystemReason(errno));
        return nullptr;
    }
    return writer;
}

bool JournalWriter::writeLine(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            Sys.write(m_fd.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

namespace
{

void appendNumber(std::string& out, qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, std::size_t(end - digits));
}

void appendName(std::string& out, QByteArrayView folder, QByteArrayView name)
{
    if (!folder.isEmpty()) {
        AppendPrintable(out, folder, true);
        out += '/';
    }
    AppendPrintable(out, name, true);
}

} // namespace

int JournalWriter::add(QByteArrayView folder, QByteArrayView oldName, QByteArrayView newName,
                       const FileIdentity& identity)
{
    // Thousands a second: appended to one buffer, no string made per field.
    if (m_pending.capacity() < 256 * 128)
        m_pending.reserve(256 * 128);
    const int number = m_next++;
    m_pending.append("entry\t", 6);
    appendNumber(m_pending, number);
    m_pending += '\t';
    appendName(m_pending, folder, oldName);
    m_pending += '\t';
    appendName(m_pending, folder, newName);
    m_pending += '\t';
    if (identity.inode < 0)
        m_pending += '-';
    else
        appendNumber(m_pending, identity.inode);
    m_pending += '\t';
    appendNumber(m_pending, identity.size);
    m_pending += '\t';
    appendNumber(m_pending, identity.modified);
    m_pending += '\n';
    return number;
}

bool JournalWriter::flush()
{
    if (m_pending.empty())
        return true;
    m_pending.pop_back();
    const bool written =
        writeLine(QByteArray::fromRawData(m_pending.data(), qsizetype(m_pending.size())));
    m_pending.clear();
    return written;
}

bool JournalWriter::writeAhead(const std::vector<JournalEntry>& entries)
{
    for (const JournalEntry& entry : entries)
        add(QByteArrayView(), entry.oldName, entry.newName, entry.identity);
    return flush();
}

bool JournalWriter::writeAside(int number, const QByteArray& asideName)
{
    return writeLine("aside\t" + QByteArray::number(number) + '\t' + field(asideName));
}

bool JournalWriter::writeReserve(int number)
{
    return writeLine("reserve\t" + QByteArray::number(number));
}

bool JournalWriter::close(int renamed)
{
    if (m_closed)
        return true;
    m_closed = true;
    return writeLine("end\tcomplete\t" + number(renamed)) && Sys.fsync(m_fd.get()) == 0;
}

bool ReadJournal(const QString& path, Journal& journal, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("не удалось прочитать %1: %2").arg(QuotedPath(path), file.errorString());
        return false;
    }
    QByteArray bytes = file.readAll();
    // A line without its end was being written when the run was killed.
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.first() != FirstLine) {
        error = QStringLiteral("%1 — не журнал Sorvane").arg(QuotedPath(path));
        return false;
    }
    journal = Journal();
    journal.path = path;
    const auto name = [](const QByteArray& text, QByteArray& out) {
        return ParsePrintableName(QString::fromUtf8(text), out);
    };
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split('\t');
        const QByteArray& what = fields.first();
        bool ok = true;
        if (what == "kind" && fields.size() == 2) {
            journal.kind = fields[1] == "undo"     ? JournalKind::Undo
                           : fields[1] == "single" ? JournalKind::Single
                                                   : JournalKind::Run;
        } else if (what == "folder" && fields.size() == 2) {
            ok = name(fields[1], journal.folder);
        } else if (what == "undoes" && fields.size() == 2) {
            QByteArray undoes;
            ok = name(fields[1], undoes);
            journal.undoes = QFile::decodeName(undoes);
        } else if (what == "entry" && fields.size() == 7) {
            JournalEntry entry;
            ok = name(fields[2], entry.oldName) && name(fields[3], entry.newName);
            entry.identity.inode = fields[4] == "-" ? -1 : fields[4].toLongLong();
            entry.identity.size = fields[5].toLongLong();
            entry.identity.modified = fields[6].toLongLong();
            journal.entries.push_back(entry);
        } else if (what == "aside" && fields.size() == 3) {
            const int entry = fields[1].toInt();
            if (entry >= 0 && entry < int(journal.entries.size()))
                ok = name(fields[2], journal.entries[std::size_t(entry)].asideName);
        } else if (what == "reserve" && fields.size() == 2) {
            const int entry = fields[1].toInt();
            if (entry >= 0 && entry < int(journal.entries.size()))
                journal.entries[std::size_t(entry)].reserved = true;
        } else if (what == "end") {
            journal.complete = true;
            if (fields.size() >= 3)
                journal.renamed = fields[2].toInt();
        } else if (what == "undone") {
            journal.undone = true;
        }
        if (!ok) {
            error =
                QStringLiteral("%1 испорчен: %2").arg(QuotedPath(path), QString::fromUtf8(line));
            return false;
        }
    }
    return true;
}

QStringList JournalPaths()
{
    const QDir dir(JournalFolder());
    QStringList paths;
    for (const QString& name :
         dir.entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

bool IsJournalLocked(const QString& path)
{
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    return fd.isOpen() && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

namespace
{

bool appendLine(const QString& path, const QByteArray& line)
{
    const FileDescriptor fd(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
    const QByteArray bytes = line + '\n';
    return fd.isOpen() &&
           Sys.write(fd.get(), bytes.constData(), size_t(bytes.size())) == bytes.size() &&
           Sys.fsync(fd.get()) == 0;
}

} // namespace

bool MarkJournalUndone(const QString& path, const QString& undoJournal)
{
    return appendLine(path,
                      "undone\t" + field(QFile::encodeName(QFileInfo(undoJournal).fileName())));
}

bool MarkJournalDismissed(const QString& path)
{
    return appendLine(path, "end\tdismissed");
}

bool JournalsRecordMove(const QByteArray& folder, const char* from, const char* to,
                        const struct stat& file, bool reserved)
{
    QStringList paths = JournalPaths();
    const qint64 modified = qint64(file.st_mtim.tv_sec) * 1000000000 + file.st_mtim.tv_nsec;
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        Journal journal;
        QString error;
        if (!ReadJournal(*path, journal, error) || journal.kind == JournalKind::Undo)
            continue;
        const QByteArray base =
            journal.folder.endsWith('/') ? journal.folder : journal.folder + '/';
        for (const JournalEntry& entry : journal.entries) {
            const FileIdentity& id = entry.identity;
            if (base + entry.oldName == folder + '/' + from &&
                base + entry.newName == folder + '/' + to && id.size == file.st_size &&
                id.modified == modified && (id.inode < 0 || quint64(id.inode) == file.st_ino) &&
                (!reserved || entry.reserved))
                return true;
        }
    }
    return false;
}

void PruneJournals(int keep)
{
    QStringList paths = JournalPaths();
    for (int i = 0; i + keep < paths.size(); ++i) {
        if (!IsJournalLocked(paths[i]))
            QFile::remove(paths[i]);
    }
}

} // namespace sorvane
