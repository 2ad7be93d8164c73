#include "journal/journalreader.h"

#include "base/error.h"
#include "base/syscalls.h"
#include "journal/journalfiles.h"

#include <QList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

// The first line must end within the first 64 bytes: a file that is no journal is known at once.
constexpr int HeaderWindow = 64;
// Journals this small are read whole even for a summary.
constexpr qint64 SmallJournal = 32 * 1024;
constexpr qint64 TailWindow = 4 * 1024;

// Lines of a file read in chunks, from an offset on; a line longer than a journal's longest is
// an error, so no input makes the reader hold more than a chunk and a line.
class LineReader
{
public:
    enum class Got { Line, End, TooLong, Failed };

    LineReader(int fd, qint64 offset, qint64 end) : m_fd(fd), m_offset(offset), m_end(end) {}

    Got next(QByteArrayView& line)
    {
        for (;;) {
            const qsizetype newline = m_buffer.indexOf('\n', m_at);
            if (newline >= 0) {
                line = QByteArrayView(m_buffer).sliced(m_at, newline - m_at);
                m_at = newline + 1;
                return line.size() > LongestJournalLine ? Got::TooLong : Got::Line;
            }
            if (m_buffer.size() - m_at > LongestJournalLine)
                return Got::TooLong;
            if (m_offset >= m_end) {
                m_cut = m_at < m_buffer.size();
                return Got::End;
            }
            m_buffer.remove(0, m_at);
            m_at = 0;
            const qsizetype had = m_buffer.size();
            const qint64 chunk = std::min<qint64>(m_end - m_offset, 64 * 1024);
            m_buffer.resize(had + chunk);
            const ssize_t got = Sys.pread(m_fd, m_buffer.data() + had, size_t(chunk), m_offset);
            if (got < 0 && errno == EINTR) {
                m_buffer.resize(had);
                continue;
            }
            if (got <= 0) {
                m_buffer.resize(had);
                if (got < 0)
                    return Got::Failed;
                m_end = m_offset; // shorter than it said: what was there is all there is
                continue;
            }
            m_buffer.resize(had + got);
            m_offset += got;
        }
    }

    // The last bytes had no line end: a line cut short.
    bool cut() const { return m_cut; }

private:
    int m_fd;
    qint64 m_offset;
    qint64 m_end;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    bool m_cut = false;
};

QString refusal(const QString& path, const QString& why)
{
    return QStringLiteral("журнал %1 отклонён: %2").arg(QuotedPath(path), why);
}

// The first line, read from the first bytes alone; the offset after it, or -1.
qint64 readFirstLine(int fd, JournalParser& parser)
{
    char head[HeaderWindow];
    const ssize_t got = Sys.pread(fd, head, sizeof head, 0);
    const void* newline = got > 0 ? std::memchr(head, '\n', size_t(got)) : nullptr;
    if (!newline) {
        parser.firstLine(QByteArrayView()); // refused: no first line where one must be
        return -1;
    }
    const auto length = qsizetype(static_cast<const char*>(newline) - head);
    return parser.firstLine(QByteArrayView(head, length)) ? length + 1 : -1;
}

bool readLines(LineReader& lines, JournalParser& parser, const QString& path, QString& error,
               bool& cut)
{
    for (;;) {
        QByteArrayView line;
        switch (lines.next(line)) {
        case LineReader::Got::Line:
            if (!parser.line(line)) {
                error = refusal(path, parser.error());
                return false;
            }
            continue;
        case LineReader::Got::TooLong:
            error = refusal(
                path, QStringLiteral("строка %1 длиннее 64 КиБ").arg(parser.lineNumber() + 1));
            return false;
        case LineReader::Got::Failed:
            error = QStringLiteral("не удалось прочитать журнал %1: %2")
                        .arg(QuotedPath(path), SystemReason(errno));
            return false;
        case LineReader::Got::End:
            cut = lines.cut();
            return true;
        }
    }
}

} // namespace

bool ReadJournalFrom(int fd, const QString& path, Journal& journal, QString& error)
{
    journal = Journal();
    journal.path = path;
    JournalParser parser(journal);
    struct stat info = {};
    if (Sys.fstat(fd, &info) != 0) {
        error = QStringLiteral("не удалось прочитать журнал %1: %2")
                    .arg(QuotedPath(path), SystemReason(errno));
        return false;
    }
    const qint64 start = readFirstLine(fd, parser);
    if (start < 0) {
        error = refusal(path, parser.error());
        return false;
    }
    LineReader lines(fd, start, info.st_size);
    if (!readLines(lines, parser, path, error, journal.cutLine))
        return false;
    if (!parser.finish()) {
        error = refusal(path, parser.error());
        return false;
    }
    return true;
}

bool ReadJournal(const QString& path, Journal& journal, QString& error)
{
    const FileDescriptor fd = OpenJournal(path, false, error);
    return fd.isOpen() && ReadJournalFrom(fd.get(), path, journal, error);
}

JournalSummary SummarizeJournal(const QString& path)
{
    JournalSummary summary;
    const auto refuse = [&summary](const QString& why) {
        summary.refused = true;
        summary.reason = why;
        return summary;
    };
    QString error;
    const FileDescriptor fd = OpenJournal(path, false, error);
    struct stat info = {};
    if (!fd.isOpen())
        return refuse(error);
    if (Sys.fstat(fd.get(), &info) != 0)
        return refuse(SystemReason(errno));
    const auto whole = [&] {
        if (!ReadJournalFrom(fd.get(), path, summary.head, error))
            return refuse(error);
        summary.entries = int(summary.head.entries.size());
        return summary;
    };
    if (info.st_size <= SmallJournal)
        return whole();

    // The header: the lines before the first entry, from the first 64 KiB.
    Journal& head = summary.head;
    head.path = path;
    JournalParser parser(head);
    const qint64 start = readFirstLine(fd.get(), parser);
    if (start < 0)
        return refuse(refusal(path, parser.error()));
    LineReader lines(fd.get(), start, std::min<qint64>(info.st_size, 64 * 1024));
    for (QByteArrayView line; lines.next(line) == LineReader::Got::Line;) {
        if (line.startsWith("entry\t"))
            break;
        if (!parser.line(line))
            return refuse(refusal(path, parser.error()));
    }
    // The end: the marks in the last lines, the first of them maybe a part of one.
    const qint64 tailStart = info.st_size - TailWindow;
    LineReader tail(fd.get(), tailStart, info.st_size);
    QByteArrayView line;
    tail.next(line); // what is left of the line the tail began in
    for (LineReader::Got got; (got = tail.next(line)) == LineReader::Got::Line;) {
        // Most of the tail is entries: only a mark's line is split, as every run reads the tails
        // of all kept journals before it starts.
        const qsizetype tab = line.indexOf('\t');
        const QByteArrayView word = tab < 0 ? line : line.first(tab);
        if (word != "end" && word != "undo" && word != "undone")
            continue;
        const QList<QByteArray> fields =
            QByteArray::fromRawData(line.data(), line.size()).split('\t');
        if (word == "end" && fields.size() == 3 && fields[1] == "complete") {
            head.complete = true;
            head.renamed = fields[2].toInt();
        } else if (word == "end" && fields.size() == 2 && fields[1] == "dismissed") {
            head.dismissed = true;
        } else if (word == "undo") {
            head.undoStarted = true;
            head.dismissed = false;
        } else if (word == "undone") {
            head.undone = true;
            head.undoStarted = false;
        }
    }
    head.cutLine = tail.cut();
    // An interrupted run is read whole: what it holds is what the question about it needs.
    if (!head.complete)
        return whole();
    return summary;
}

} // namespace sorvane
