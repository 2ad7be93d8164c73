#include "tag/tagbytes.h"

#include "base/syscalls.h"
#include "tag/codepage.h"
#include "tag/tagfailures.h"

#include <QFile>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <windows.h>
#endif

namespace sorvane
{

namespace
{

// The first read at the start of a file: a tag without pictures fits in it whole. Later reads
// while walking past pictures take less.
constexpr qint64 HeadChunk = 16 * 1024;
constexpr qint64 WalkChunk = 4 * 1024;
constexpr int ID3v2HeaderSize = 10;
constexpr int ApeFooterSize = 32;

quint32 bigEndian(const char* p, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | quint8(p[i]);
    return value;
}

quint32 littleEndian32(const char* p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

void putLittleEndian32(char* p, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((value >> (8 * i)) & 0xFF);
}

bool isSynchsafe(const char* p)
{
    return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0;
}

quint32 synchsafe(const char* p)
{
    return quint32(p[0] & 0x7F) << 21 | quint32(p[1] & 0x7F) << 14 | quint32(p[2] & 0x7F) << 7 |
           quint32(p[3] & 0x7F);
}

QByteArray synchsafeBytes(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[3 - i] = char((value >> (7 * i)) & 0x7F);
    return bytes;
}

// Reads of one file beyond its last 128 bytes, all together within the limit.
class Reader
{
public:
    Reader(ByteSource& source, qint64 size) : m_source(source), m_size(size) {}

    // Bytes [offset, offset + count) of the file, or fewer at its end; false on a failed read or
    // when the limit is spent.
    bool read(qint64 offset, qint64 count, QByteArray& out)
    {
        count = std::min(count, m_size - offset);
        if (count <= 0 || count > m_budget)
            return false;
        out.resize(count);
        int error = 0;
        const qint64 got = m_source.readAt(out.data(), count, offset, error);
        if (got < 0) {
            m_error = error;
            return false;
        }
        out.resize(got);
        m_budget -= got;
        return got == count;
    }

    qint64 size() const { return m_size; }
    qint64 budget() const { return m_budget; }
    int error() const { return m_error; }

private:
    ByteSource& m_source;
    qint64 m_size;
    qint64 m_budget = TagReadLimit;
    int m_error = 0;
};

// Bytes of a file at known offsets, read in chunks as a walk over frames or items asks for them.
class Window
{
public:
    Window(Reader& reader, QByteArray first, qint64 at)
        : m_reader(reader), m_bytes(std::move(first)), m_at(at)
    {
    }

    // Bytes [offset, offset + count), read if not at hand, `chunk` bytes at a time where the
    // limit allows; null when they cannot be had.
    const char* at(qint64 offset, qint64 count, qint64 chunk)
    {
        if (offset >= m_at && offset + count <= m_at + m_bytes.size())
            return m_bytes.constData() + (offset - m_at);
        QByteArray fresh;
        m_reader.read(offset, std::max(count, std::min(chunk, m_reader.budget())), fresh);
        if (fresh.size() < count)
            return nullptr;
        m_bytes = std::move(fresh);
        m_at = offset;
        return m_bytes.constData();
    }

private:
    Reader& m_reader;
    QByteArray m_bytes;
    qint64 m_at;
};

bool isFrameIdChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The frames the six fields are made from, in ID3v2.3/2.4 and in ID3v2.2.
bool isWantedFrame(const char* id, int idSize)
{
    static const char* const Wanted[] = {"TIT2", "TPE1", "TALB", "TYER", "TDRC", "COMM", "TCON"};
    static const char* const Wanted22[] = {"TT2", "TP1", "TAL", "TYE", "COM", "TCO"};
    if (idSize == 3)
        return std::any_of(std::begin(Wanted22), std::end(Wanted22),
                           [id](const char* w) { return std::memcmp(id, w, 3) == 0; });
    return std::any_of(std::begin(Wanted), std::end(Wanted),
                       [id](const char* w) { return std::memcmp(id, w, 4) == 0; });
}

// The tag at the start of the file, or an empty array. A tag over the limit becomes a header
// and the wanted frames, walked past everything else (pictures above all) without reading it.
QByteArray readID3v2(Reader& reader)
{
    QByteArray head;
    reader.read(0, std::min(HeadChunk, reader.size()), head);
    if (head.size() < ID3v2HeaderSize || !head.startsWith("ID3"))
        return QByteArray();
    const int major = quint8(head[3]);
    const quint8 flags = quint8(head[5]);
    if (major < 2 || major > 4 || quint8(head[4]) == 0xFF || !isSynchsafe(head.constData() + 6))
        return QByteArray();
    const qint64 total =
        std::min<qint64>(ID3v2HeaderSize + synchsafe(head.constData() + 6), reader.size());
    // Whole-tag unsynchronisation before 2.4 changes every frame's bytes: such a tag, rare and
    // old, is read up to the limit and parsed as far as it goes.
    const bool walkable = !(major < 4 && (flags & 0x80));
    if (total <= TagReadLimit || !walkable) {
        const qint64 wanted = std::min(total, TagReadLimit);
        if (wanted > head.size()) {
            QByteArray rest;
            reader.read(head.size(), std::min(wanted - head.size(), reader.budget()), rest);
            head += rest;
        }
        head.truncate(wanted);
        return head;
    }

    Window bytes(reader, head, 0);
    qint64 at = ID3v2HeaderSize;
    if (flags & 0x40) { // an extended header: its size, with or without itself
        const char* size = bytes.at(at, 4, WalkChunk);
        if (!size)
            return QByteArray();
        at += major == 4 ? synchsafe(size) : 4 + bigEndian(size, 4);
    }
    const int idSize = major == 2 ? 3 : 4;
    const int frameHeaderSize = major == 2 ? 6 : 10;
    QByteArray frames;
    while (at + frameHeaderSize <= total) {
        const char* header = bytes.at(at, frameHeaderSize, WalkChunk);
        if (!header || !std::all_of(header, header + idSize, isFrameIdChar))
            break; // padding, or the end of what can be read
        quint32 size = 0;
        if (major == 2)
            size = bigEndian(header + 3, 3);
        else if (major == 4 && isSynchsafe(header + 4))
            size = synchsafe(header + 4);
        else // 2.3, and 2.4 as some taggers write it, with plain sizes
            size = bigEndian(header + 4, 4);
        const qint64 frameSize = frameHeaderSize + qint64(size);
        if (at + frameSize > total)
            break;
        if (isWantedFrame(header, idSize)) {
            if (const char* frame = bytes.at(at, frameSize, frameSize))
                frames.append(frame, frameSize);
        }
        at += frameSize;
    }
    QByteArray tag = head.left(ID3v2HeaderSize);
    tag[5] = char(flags & ~0x50); // no extended header and no footer any more
    tag.replace(6, 4, synchsafeBytes(quint32(frames.size())));
    return tag + frames;
}

bool isWantedItem(const char* key)
{
    static const char* const Wanted[] = {"title", "artist", "album", "year", "comment", "genre"};
    return std::any_of(std::begin(Wanted), std::end(Wanted),
                       [key](const char* w) { return qstricmp(key, w) == 0; });
}

// The APEv2 tag whose footer ends at `end`: its items and footer, or an empty array. A tag over
// the limit keeps the wanted items only.
QByteArray readApe(Reader& reader, const char* footer, qint64 end)
{
    if (std::memcmp(footer, "APETAGEX", 8) != 0)
        return QByteArray();
    const qint64 tagSize = littleEndian32(footer + 12); // items and footer, not the header
    if (tagSize < ApeFooterSize || tagSize > end)
        return QByteArray();
    const qint64 start = end - tagSize;
    QByteArray tag;
    if (tagSize <= reader.budget()) {
        if (!reader.read(start, tagSize, tag))
            return QByteArray();
        return tag;
    }
    Window bytes(reader, QByteArray(), -1);
    const qint64 itemsEnd = end - ApeFooterSize;
    const quint32 count = littleEndian32(footer + 16);
    quint32 kept = 0;
    qint64 at = start;
    for (quint32 item = 0; item < count && at + 9 < itemsEnd; ++item) {
        // value size, flags, then the key up to its NUL (at most 255 bytes)
        const qint64 headerMax = std::min<qint64>(8 + 256, itemsEnd - at);
        const char* header = bytes.at(at, headerMax, WalkChunk);
        if (!header)
            break;
        const char* nul = static_cast<const char*>(std::memchr(header + 8, '\0', headerMax - 8));
        if (!nul)
            break;
        const qint64 itemSize = (nul - header) + 1 + qint64(littleEndian32(header));
        if (at + itemSize > itemsEnd)
            break;
        if (isWantedItem(header + 8)) {
            if (const char* whole = bytes.at(at, itemSize, itemSize)) {
                tag.append(whole, itemSize);
                ++kept;
            }
        }
        at += itemSize;
    }
    QByteArray newFooter(footer, ApeFooterSize);
    putLittleEndian32(newFooter.data() + 12, quint32(tag.size() + ApeFooterSize));
    putLittleEndian32(newFooter.data() + 16, kept);
    return tag + newFooter;
}

// The APEv2 tag that ends at `end` (the file's end, or the start of its ID3v1 record): its footer
// is the last 32 bytes there, or stands before a Lyrics3v2 block ("LYRICS200" after six digits
// of the block's size). `last` holds the bytes before `end` that are at hand.
QByteArray readApeBefore(Reader& reader, qint64 end, QByteArrayView last)
{
    constexpr int Lyrics3Tail = 15;
    QByteArray read;
    if (last.size() < ApeFooterSize + Lyrics3Tail && end >= ApeFooterSize) {
        const qint64 count = std::min<qint64>(end, ApeFooterSize + Lyrics3Tail);
        if (!reader.read(end - count, count, read))
            return QByteArray();
        last = read;
    }
    if (last.size() >= ApeFooterSize && std::memcmp(last.end() - ApeFooterSize, "APETAGEX", 8) == 0)
        return readApe(reader, last.end() - ApeFooterSize, end);
    if (last.size() < Lyrics3Tail || std::memcmp(last.end() - 9, "LYRICS200", 9) != 0)
        return QByteArray();
    const QByteArray digits(last.end() - Lyrics3Tail, 6);
    bool number = false;
    const qint64 lyrics = digits.toLongLong(&number);
    const qint64 apeEnd = end - Lyrics3Tail - lyrics;
    QByteArray footer;
    if (!number || apeEnd < ApeFooterSize ||
        !reader.read(apeEnd - ApeFooterSize, ApeFooterSize, footer))
        return QByteArray();
    return readApe(reader, footer.constData(), apeEnd);
}

} // namespace

bool TagBytes::hasID3v1() const
{
    return tailSize == TagLayout::RecordSize &&
           HasTagMarker(QByteArrayView(tail.data(), TagLayout::RecordSize));
}

bool MayBeLossyCopy(const char* record, const TagTextDecoder& page)
{
    using namespace TagLayout;
    // A comment whose 29th byte is zero stands beside a track number and is full at 28.
    const int commentWidth =
        record[CommentOffset + CommentSize - 2] == 0 ? CommentSize - 2 : CommentSize;
    const std::pair<int, int> fields[] = {{TitleOffset, TitleSize},
                                          {ArtistOffset, ArtistSize},
                                          {AlbumOffset, AlbumSize},
                                          {CommentOffset, commentWidth}};
    for (const auto& [offset, width] : fields) {
        const char* field = record + offset;
        const auto* nul = static_cast<const char*>(std::memchr(field, '\0', std::size_t(width)));
        if (!nul)
            return true;
        for (const char* c = field; c < nul; ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            if (byte == '?' || byte < 0x20 || byte == 0x7F ||
                (page.singleByte() && page.undefined(byte)))
                return true;
        }
    }
    return false;
}

Outcome ReadTagBytes(ByteSource& source, qint64 size, TagBytes& bytes)
{
    bytes.tailSize = int(std::min<qint64>(size, TagLayout::RecordSize));
    if (bytes.tailSize > 0) {
        int error = 0;
        const qint64 got =
            source.readAt(bytes.tail.data(), bytes.tailSize, size - bytes.tailSize, error);
        if (got < 0)
            return {&TagFailure::ReadFailed, error};
        if (got != bytes.tailSize)
            return {&TagFailure::ShortRead, 0};
    }
    Reader reader(source, size);
    const QByteArrayView tail(bytes.tail.data(), bytes.tailSize);
    if (bytes.hasID3v1()) {
        // Only a field that may be a lossy copy pays for a look at the other tag; what is not
        // there is no failure.
        if (MayBeLossyCopy(bytes.tail.data(), TagTextDecoder::system())) {
            bytes.id3v2 = readID3v2(reader);
            if (bytes.id3v2.isEmpty() && reader.error() == 0)
                bytes.ape = readApeBefore(reader, size - TagLayout::RecordSize, QByteArrayView());
        }
        return {};
    }
    bytes.id3v2 = readID3v2(reader);
    if (bytes.id3v2.isEmpty() && reader.error() == 0)
        bytes.ape = readApeBefore(reader, size, tail);
    if (reader.error() != 0)
        return {&TagFailure::ReadFailed, reader.error()};
    if (bytes.tailSize < TagLayout::RecordSize && bytes.id3v2.isEmpty() && bytes.ape.isEmpty())
        return {&TagFailure::TooShort, 0};
    return {};
}

#ifdef Q_OS_UNIX

namespace
{

class DescriptorSource : public ByteSource
{
public:
    explicit DescriptorSource(int fd) : m_fd(fd) {}
    qint64 readAt(char* buffer, qint64 count, qint64 offset, int& error) override
    {
        qint64 done = 0;
        while (done < count) {
            const ssize_t got = Sys.pread(m_fd, buffer + done, size_t(count - done), offset + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = errno;
                return -1;
            }
            if (got == 0)
                break;
            done += got;
        }
        return done;
    }

private:
    int m_fd;
};

} // namespace

Outcome ReadTagBytesAt(int dirFd, const char* name, TagBytes& bytes)
{
    // O_NONBLOCK keeps a FIFO named like a song from blocking the program; it is refused below.
    const FileDescriptor file(
        Sys.openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0));
    if (!file.isOpen())
        return {&TagFailure::OpenFailed, errno};
    struct stat info = {};
    if (Sys.fstat(file.get(), &info) != 0)
        return {&TagFailure::ReadFailed, errno};
    if (!S_ISREG(info.st_mode))
        return {&TagFailure::NotRegularFile, 0};
    bytes.size = info.st_size;
    bytes.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    bytes.inode = info.st_ino;
    DescriptorSource source(file.get());
    return ReadTagBytes(source, info.st_size, bytes);
}

namespace
{
Outcome readTagBytes(const QString& path, TagBytes& bytes)
{
    return ReadTagBytesAt(AT_FDCWD, QFile::encodeName(path).constData(), bytes);
}
} // namespace

#else

namespace
{

class QFileSource : public ByteSource
{
public:
    explicit QFileSource(QFile& file) : m_file(file) {}
    qint64 readAt(char* buffer, qint64 count, qint64 offset, int& error) override
    {
        if (!m_file.seek(offset)) {
            error = int(::GetLastError());
            return -1;
        }
        const qint64 got = m_file.read(buffer, count);
        if (got < 0)
            error = int(::GetLastError());
        return got;
    }

private:
    QFile& m_file;
};

Outcome readTagBytes(const QString& path, TagBytes& bytes)
{
    // Unbuffered: a buffered QFile would read far more than is wanted.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {file.exists() ? &TagFailure::ReadFailed : &TagFailure::OpenFailed,
                int(::GetLastError())};
    QFileSource source(file);
    return ReadTagBytes(source, file.size(), bytes);
}

} // namespace

#endif

TagBytes ReadTagBytes(const QString& path)
{
    TagBytes bytes;
    const Outcome outcome = readTagBytes(path, bytes);
    if (!outcome.ok()) {
        throw Error(QStringLiteral("Не удалось прочитать тег из файла %1: %2.")
                        .arg(QuotedPath(path), Reason(outcome)));
    }
    return bytes;
}

} // namespace sorvane
