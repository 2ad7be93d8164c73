#include "tag/tagbytes.h"

#include "base/syscalls.h"
#include "tag/budgetreader.h"
#include "tag/codepage.h"
#include "tag/tagfailures.h"

#include <QFile>

#include <algorithm>
#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

constexpr qint64 WalkChunk = 4 * 1024;
constexpr int ApeFooterSize = 32;

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

// Bytes [offset, offset + count) into `out`; false unless all of them came.
bool readInto(BudgetReader& reader, qint64 offset, qint64 count, QByteArray& out)
{
    count = std::min(count, reader.size() - offset);
    if (count <= 0)
        return false;
    out.resize(count);
    const qint64 got = reader.read(offset, count, out.data());
    out.resize(std::max<qint64>(got, 0));
    return got == count;
}

// Bytes of a file at known offsets, read in chunks as a walk over APEv2 items asks for them.
class Window
{
public:
    explicit Window(BudgetReader& reader) : m_reader(reader) {}

    // Bytes [offset, offset + count), read if not at hand, `chunk` bytes at a time where the
    // limit allows; null when they cannot be had.
    const char* at(qint64 offset, qint64 count, qint64 chunk)
    {
        if (m_at >= 0 && offset >= m_at && offset + count <= m_at + m_bytes.size())
            return m_bytes.constData() + (offset - m_at);
        QByteArray fresh;
        readInto(m_reader, offset, std::max(count, std::min(chunk, m_reader.budget())), fresh);
        if (fresh.size() < count)
            return nullptr;
        m_bytes = std::move(fresh);
        m_at = offset;
        return m_bytes.constData();
    }

private:
    BudgetReader& m_reader;
    QByteArray m_bytes;
    qint64 m_at = -1;
};

bool isWantedItem(const char* key)
{
    static const char* const Wanted[] = {"title", "artist", "album", "year", "comment", "genre"};
    return std::any_of(std::begin(Wanted), std::end(Wanted),
                       [key](const char* w) { return qstricmp(key, w) == 0; });
}

// The APEv2 tag whose footer ends at `end`: its items and footer, or an empty array. A tag over
// the limit keeps the wanted items only.
QByteArray readApe(BudgetReader& reader, const char* footer, qint64 end)
{
    if (std::memcmp(footer, "APETAGEX", 8) != 0)
        return QByteArray();
    const qint64 tagSize = littleEndian32(footer + 12); // items and footer, not the header
    if (tagSize < ApeFooterSize || tagSize > end)
        return QByteArray();
    const qint64 start = end - tagSize;
    QByteArray tag;
    if (tagSize <= reader.budget()) {
        if (!readInto(reader, start, tagSize, tag))
            return QByteArray();
        return tag;
    }
    Window bytes(reader);
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
QByteArray readApeBefore(BudgetReader& reader, qint64 end, QByteArrayView last)
{
    constexpr int Lyrics3Tail = 15;
    QByteArray read;
    if (last.size() < ApeFooterSize + Lyrics3Tail && end >= ApeFooterSize) {
        const qint64 count = std::min<qint64>(end, ApeFooterSize + Lyrics3Tail);
        if (!readInto(reader, end - count, count, read))
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
        !readInto(reader, apeEnd - ApeFooterSize, ApeFooterSize, footer))
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
    // A reader thread reads every file into the same bytes: nothing of the last one may stay.
    bytes.id3v2.reset();
    bytes.ape.resize(0);
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
    BudgetReader reader(source, size);
    const QByteArrayView tail(bytes.tail.data(), bytes.tailSize);
    if (bytes.hasID3v1()) {
        // Only a field that may be a lossy copy pays for a look at the other tag; what is not
        // there is no failure.
        if (MayBeLossyCopy(bytes.tail.data(), TagTextDecoder::system())) {
            ReadID3v2Frames(reader, bytes.id3v2);
            if (!bytes.id3v2.present() && reader.error() == 0)
                bytes.ape = readApeBefore(reader, size - TagLayout::RecordSize, QByteArrayView());
        }
        return {};
    }
    ReadID3v2Frames(reader, bytes.id3v2);
    if (!bytes.id3v2.present() && reader.error() == 0)
        bytes.ape = readApeBefore(reader, size, tail);
    if (reader.error() != 0)
        return {&TagFailure::ReadFailed, reader.error()};
    if (bytes.tailSize < TagLayout::RecordSize && !bytes.id3v2.present() && bytes.ape.isEmpty())
        return {&TagFailure::TooShort, 0};
    return {};
}

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
    bytes.modified = ModifiedNs(info);
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
