#include "tag/tagrecord.h"

#include "tag/error.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorvane
{

ID3v1Tag Tag;

ID3v1Tag::ID3v1Tag()
    : Marker(TagLayout::MarkerSize, QChar::Null), Title(TagLayout::TitleSize, QChar::Null),
      Artist(TagLayout::ArtistSize, QChar::Null), Album(TagLayout::AlbumSize, QChar::Null),
      Year(TagLayout::YearSize, QChar::Null), Comment(TagLayout::CommentSize, QChar::Null)
{
}

namespace
{

[[noreturn]] void throwOpenFailed(const QString& path, const QString& reason)
{
    throw Error(QStringLiteral("Не удалось открыть файл %1: %2").arg(QuotedPath(path), reason));
}

const char16_t ShortRead[] = u"файл оказался короче, чем сообщила система";

[[noreturn]] void throwReadFailed(const QString& path, const QString& reason)
{
    throw Error(QStringLiteral("Не удалось прочитать файл %1: %2").arg(QuotedPath(path), reason));
}

[[noreturn]] void throwTooShort(const QString& path)
{
    throw Error(
        QStringLiteral("Файл %1 короче 128 байт: в нём нет тега ID3v1.").arg(QuotedPath(path)));
}

} // namespace

#ifdef Q_OS_UNIX

namespace
{

// Owns one descriptor: closed on every way out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QByteArray ReadTagBytes(const QString& path)
{
    // Plain system calls: the folder run reads one record per file, and this is its floor.
    // O_NONBLOCK keeps a FIFO named like a song from blocking the program; it is refused below.
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throwOpenFailed(path, qt_error_string(errno));
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0)
        throwReadFailed(path, qt_error_string(errno));
    if (!S_ISREG(info.st_mode))
        throwReadFailed(path, QStringLiteral("это не обычный файл"));
    if (info.st_size < TagLayout::RecordSize)
        throwTooShort(path);
    QByteArray record(TagLayout::RecordSize, Qt::Uninitialized);
    const ssize_t got = ::pread(file.get(), record.data(), TagLayout::RecordSize,
                                info.st_size - TagLayout::RecordSize);
    if (got != TagLayout::RecordSize) {
        throwReadFailed(path, got < 0 ? qt_error_string(errno) : QString::fromUtf16(ShortRead));
    }
    return record;
}

#else

QByteArray ReadTagBytes(const QString& path)
{
    // Unbuffered: a buffered QFile would read far more than the 128 bytes wanted.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throwOpenFailed(path, file.errorString());
    const qint64 length = file.size();
    if (length < TagLayout::RecordSize)
        throwTooShort(path);
    QByteArray record;
    if (file.seek(length - TagLayout::RecordSize))
        record = file.read(TagLayout::RecordSize);
    if (record.size() != TagLayout::RecordSize) {
        throwReadFailed(path, file.error() != QFileDevice::NoError ? file.errorString()
                                                                   : QString::fromUtf16(ShortRead));
    }
    return record;
}

#endif

ID3v1Tag ParseTagRecord(QByteArrayView record, const TagTextDecoder& decoder)
{
    Q_ASSERT(record.size() == TagLayout::RecordSize);
    // Every text field goes through the one decoder, so no field can be decoded differently.
    const auto text = [&](int offset, int size) {
        return decoder.decode(record.sliced(offset, size));
    };
    using namespace TagLayout;
    ID3v1Tag tag;
    tag.Marker = text(MarkerOffset, MarkerSize);
    tag.Title = text(TitleOffset, TitleSize);
    tag.Artist = text(ArtistOffset, ArtistSize);
    tag.Album = text(AlbumOffset, AlbumSize);
    tag.Year = text(YearOffset, YearSize);
    tag.Comment = text(CommentOffset, CommentSize);
    tag.Genre = static_cast<quint8>(record[GenreOffset]);
    return tag;
}

void ReadTagRecord(const QString& path, const TagTextDecoder& decoder)
{
    // Read and parse first, assign last: a failure must leave the previous file's values whole.
    Tag = ParseTagRecord(ReadTagBytes(path), decoder);
}

void ReadTagRecord(const QString& path)
{
    ReadTagRecord(path, TagTextDecoder::system());
}

} // namespace sorvane
