#include "journal/journalformat.h"

#include "names/printablename.h"

#include <QList>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

namespace sorvane
{

namespace
{

const char FirstLinePrefix[] = "sorvane journal ";

// The digits of 0 to 99, two by two.
struct DigitPairs {
    char pair[200] = {};
    constexpr DigitPairs()
    {
        for (int i = 0; i < 100; ++i) {
            pair[2 * i] = char('0' + i / 10);
            pair[2 * i + 1] = char('0' + i % 10);
        }
    }
};
constexpr DigitPairs Digits;

// Where a number's digits end, written from `at`, two at a time from the last: the entry's
// numbers go into one buffer and reach the line in one append, since the renaming thread writes
// an entry for every file.
char* putNumber(char* at, qint64 value)
{
    if (value < 0)
        *at++ = '-';
    quint64 rest = value < 0 ? 0 - quint64(value) : quint64(value);
    char digits[20];
    char* first = std::end(digits);
    for (; rest >= 100; rest /= 100) {
        first -= 2;
        std::memcpy(first, Digits.pair + 2 * (rest % 100), 2);
    }
    if (rest >= 10) {
        first -= 2;
        std::memcpy(first, Digits.pair + 2 * rest, 2);
    } else {
        *--first = char('0' + rest);
    }
    return std::copy(first, std::end(digits), at);
}

// A number the drive may not keep: "-" where it does not.
char* putKept(char* at, qint64 value)
{
    if (value >= 0)
        return putNumber(at, value);
    *at = '-';
    return at + 1;
}

void appendName(std::string& out, const PrintedFolder& folder, QByteArrayView name)
{
    out += folder.prefix();
    AppendPrintable(out, name, true);
}

QByteArray printable(QByteArrayView bytes)
{
    QByteArray out;
    AppendPrintable(out, bytes, true);
    return out;
}

// A whole number of the journal's own, without sign, spaces or leading "+".
bool toNumber(const QByteArray& field, qint64& value, qint64 least = 0)
{
    if (field.isEmpty() || field.size() > 19)
        return false;
    const char* end = field.constData() + field.size();
    const auto [at, error] = std::from_chars(field.constData(), end, value);
    return error == std::errc() && at == end && value >= least;
}

QByteArray folderOf(const QByteArray& name)
{
    const qsizetype slash = name.lastIndexOf('/');
    return slash < 0 ? QByteArray() : name.left(slash);
}

bool isSafeAbsolute(const QByteArray& path)
{
    if (!path.startsWith('/') || path.contains('\0'))
        return false;
    return path == "/" || IsSafeRelativeName(QByteArrayView(path).sliced(1));
}

} // namespace

bool IsSafeRelativeName(QByteArrayView name)
{
    if (name.isEmpty() || name.contains('\0'))
        return false;
    qsizetype start = 0;
    for (;;) {
        qsizetype slash = name.indexOf('/', start);
        const qsizetype end = slash < 0 ? name.size() : slash;
        const QByteArrayView part = name.sliced(start, end - start);
        if (part.isEmpty() || part == "." || part == "..")
            return false;
        if (slash < 0)
            return true;
        start = slash + 1;
    }
}

QByteArray JournalFirstLine(int version)
{
    return FirstLinePrefix + QByteArray::number(version);
}

const char* JournalKindName(JournalKind kind)
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

QByteArray JournalHeader(JournalKind kind, const QByteArray& folder, qint64 started)
{
    return JournalFirstLine() + "\nkind\t" + JournalKindName(kind) + "\nfolder\t" +
           printable(folder) + "\nstarted\t" + QByteArray::number(started) + '\n';
}

void PrintedFolder::set(QByteArrayView folder)
{
    // Unset, it stands for the root, whose prefix is empty as it starts.
    if (folder == m_folder)
        return;
    m_folder = folder.toByteArray();
    m_prefix.clear();
    if (!folder.isEmpty()) {
        AppendPrintable(m_prefix, folder, true);
        m_prefix += '/';
    }
}

void AppendEntryLine(std::string& out, int number, const PrintedFolder& folder,
                     QByteArrayView oldName, QByteArrayView newName, const FileIdentity& identity,
                     qint64 time)
{
    char head[32] = "entry\t";
    char* at = putNumber(head + 6, number);
    *at++ = '\t';
    out.append(head, std::size_t(at - head));
    appendName(out, folder, oldName);
    out += '\t';
    appendName(out, folder, newName);
    // Six numbers of up to 20 characters, the digest's 16 and their tabs.
    char tail[160];
    at = tail;
    *at++ = '\t';
    at = putKept(at, identity.inode);
    *at++ = '\t';
    at = putNumber(at, identity.size);
    *at++ = '\t';
    at = putKept(at, identity.modified);
    *at++ = '\t';
    char digest[16];
    const int digits = int(std::to_chars(digest, digest + 16, identity.digest, 16).ptr - digest);
    at = std::fill_n(at, 16 - digits, '0');
    at = std::copy_n(digest, digits, at);
    *at++ = '\t';
    at = putNumber(at, identity.digestOffset);
    *at++ = '\t';
    at = putNumber(at, identity.digestLength);
    *at++ = '\t';
    at = putKept(at, time);
    *at++ = '\n';
    out.append(tail, std::size_t(at - tail));
}

QByteArray RecordLine(const char* word, int number, QByteArrayView name)
{
    QByteArray line = QByteArray(word) + '\t' + QByteArray::number(number);
    if (!name.isNull()) {
        line += '\t';
        AppendPrintable(line, name, true);
    }
    return line + '\n';
}

bool JournalParser::fail(const QString& why)
{
    m_error = QStringLiteral("строка %1: %2").arg(m_line).arg(why);
    return false;
}

bool JournalParser::firstLine(QByteArrayView line)
{
    m_line = 1;
    if (line == JournalFirstLine(1))
        m_journal.version = 1;
    else if (line == JournalFirstLine(2))
        m_journal.version = 2;
    else
        return fail(QStringLiteral("это не журнал Sorvane"));
    return true;
}

JournalEntry* JournalParser::numbered(const QByteArray& field)
{
    qint64 number = 0;
    if (!toNumber(field, number) || number >= qint64(m_journal.entries.size())) {
        fail(QStringLiteral("запись о файле %1, которого нет в журнале")
                 .arg(QString::fromUtf8(field.left(20))));
        return nullptr;
    }
    return &m_journal.entries[std::size_t(number)];
}

bool JournalParser::checkedName(const QByteArray& field, QByteArray& name,
                                const QByteArray* sameFolderAs)
{
    if (!ParsePrintableName(QString::fromUtf8(field), name))
        return fail(QStringLiteral("имя записано неверно"));
    if (!IsSafeRelativeName(name))
        return fail(QStringLiteral("имя «%1» ведёт за пределы папки переименования")
                        .arg(PrintableName(name)));
    if (sameFolderAs && folderOf(name) != folderOf(*sameFolderAs))
        return fail(QStringLiteral("имя «%1» не в той же папке, что «%2»")
                        .arg(PrintableName(name), PrintableName(*sameFolderAs)));
    return true;
}

bool JournalParser::entry(const QList<QByteArray>& fields)
{
    const int expected = m_journal.version == 1 ? 7 : 11;
    if (fields.size() != expected)
        return fail(QStringLiteral("в записи о файле не то число полей"));
    if (!m_sawKind || !m_sawFolder)
        return fail(QStringLiteral("запись о файле до заголовка"));
    if (m_journal.complete || m_journal.dismissed)
        return fail(QStringLiteral("запись о файле после конца журнала"));
    qint64 number = 0;
    if (!toNumber(fields[1], number) || number != qint64(m_journal.entries.size()))
        return fail(QStringLiteral("записи о файлах не по порядку"));
    JournalEntry entry;
    if (!checkedName(fields[2], entry.oldName, nullptr) ||
        !checkedName(fields[3], entry.newName, &entry.oldName))
        return false;
    FileIdentity& id = entry.identity;
    const auto orNone = [](const QByteArray& field, qint64& value) {
        if (field == "-") {
            value = -1;
            return true;
        }
        return toNumber(field, value);
    };
    if (!orNone(fields[4], id.inode) || !toNumber(fields[5], id.size))
        return fail(QStringLiteral("число записано неверно"));
    if (m_journal.version == 1) {
        if (!toNumber(fields[6], id.modified, std::numeric_limits<qint64>::min()))
            return fail(QStringLiteral("число записано неверно"));
    } else {
        qint64 offset = 0, length = 0;
        const QByteArray& digest = fields[7];
        const auto [end, error] =
            std::from_chars(digest.constData(), digest.constData() + digest.size(), id.digest, 16);
        if (!orNone(fields[6], id.modified) || digest.size() != 16 || error != std::errc() ||
            end != digest.constData() + digest.size() || !toNumber(fields[8], offset) ||
            !toNumber(fields[9], length) || length > 4096 || offset + length > id.size ||
            !orNone(fields[10], entry.time))
            return fail(QStringLiteral("число записано неверно"));
        id.digestOffset = offset;
        id.digestLength = int(length);
    }
    m_journal.entries.push_back(std::move(entry));
    return true;
}

bool JournalParser::record(const QList<QByteArray>& fields)
{
    const QByteArray& word = fields.first();
    const bool v1 = m_journal.version == 1;
    const bool withName = word == "aside" || (word == "reserve" && !v1);
    if (fields.size() != (withName ? 3 : 2))
        return fail(QStringLiteral("в записи «%1» не то число полей").arg(QString::fromUtf8(word)));
    JournalEntry* entry = numbered(fields[1]);
    if (!entry)
        return false;
    if (withName) {
        QByteArray name;
        if (!checkedName(fields[2], name, &entry->oldName))
            return false;
        (word == "aside" ? entry->asides : entry->reserved).push_back(name);
    } else if (word == "reserve") {
        entry->reservedV1 = true;
    } else if (word == "link") {
        entry->linked = true;
    } else if (word == "nolink") {
        entry->linked = false;
    } else {
        entry->named = true;
    }
    return true;
}

bool JournalParser::line(QByteArrayView text)
{
    ++m_line;
    const QList<QByteArray> fields = QByteArray::fromRawData(text.data(), text.size()).split('\t');
    const QByteArray& word = fields.first();
    const bool v1 = m_journal.version == 1;
    if (word == "entry")
        return entry(fields);
    if (word == "aside" || word == "reserve" ||
        (!v1 && (word == "link" || word == "nolink" || word == "named")))
        return record(fields);
    if (word == "kind" || word == "folder" || word == "started" || (v1 && word == "undoes")) {
        if (fields.size() != 2 || !m_journal.entries.empty())
            return fail(QStringLiteral("заголовок записан неверно"));
        if (word == "kind") {
            const QByteArray& kind = fields[1];
            if (kind == "run")
                m_journal.kind = JournalKind::Run;
            else if (kind == "single")
                m_journal.kind = JournalKind::Single;
            else if (kind == "undo" && v1)
                m_journal.kind = JournalKind::Undo;
            else
                return fail(QStringLiteral("неизвестный вид журнала"));
            m_sawKind = true;
        } else if (word == "folder") {
            if (!ParsePrintableName(QString::fromUtf8(fields[1]), m_journal.folder) ||
                !isSafeAbsolute(m_journal.folder))
                return fail(QStringLiteral("папка записана неверно"));
            m_sawFolder = true;
        } else if (word == "started") {
            if (!toNumber(fields[1], m_journal.started))
                return fail(QStringLiteral("число записано неверно"));
        }
        return true;
    }
    if (word == "end") {
        qint64 renamed = 0;
        if (fields.size() == 3 && fields[1] == "complete" && toNumber(fields[2], renamed) &&
            renamed <= qint64(m_journal.entries.size())) {
            m_journal.complete = true;
            m_journal.renamed = int(renamed);
            return true;
        }
        if (fields.size() == 2 && fields[1] == "dismissed") {
            m_journal.dismissed = true;
            return true;
        }
        return fail(QStringLiteral("конец журнала записан неверно"));
    }
    if (word == "settime" && !v1) {
        if (fields.size() != 1)
            return fail(QStringLiteral("в записи «settime» не то число полей"));
        m_journal.setsTime = true;
        return true;
    }
    if (word == "undo" && !v1) {
        qint64 at = 0;
        if (fields.size() != 3 || fields[1] != "started" || !toNumber(fields[2], at))
            return fail(QStringLiteral("запись об отмене записана неверно"));
        m_journal.undoStarted = true;
        m_journal.dismissed = false; // a new undo, not yet left as it is
        return true;
    }
    if (word == "undone") {
        qint64 at = 0;
        if (fields.size() != 2 || (!v1 && !toNumber(fields[1], at)))
            return fail(QStringLiteral("запись об отмене записана неверно"));
        m_journal.undone = true;
        m_journal.undoStarted = false;
        return true;
    }
    return fail(QStringLiteral("неизвестная запись «%1»").arg(PrintableName(word.left(40))));
}

bool JournalParser::finish()
{
    if (!m_sawKind || !m_sawFolder)
        return fail(QStringLiteral("в журнале нет заголовка"));
    return true;
}

} // namespace sorvane
