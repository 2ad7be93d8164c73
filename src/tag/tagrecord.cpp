#include "tag/tagrecord.h"

#include "base/syscalls.h"
#include "tag/tagfailures.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
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

#ifdef Q_OS_UNIX

Outcome ReadTagBytesAt(int dirFd, const char* name, char* record)
{
    // Plain system calls: the folder run reads one record per file, and this is its floor.
    // O_NONBLOCK keeps a FIFO named like a song from blocking the program; it is refused below.
    const FileDescriptor file(
        Sys.openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0));
    if (file.get() < 0)
        return {&TagFailure::OpenFailed, errno};
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0)
        return {&TagFailure::ReadFailed, errno};
    if (!S_ISREG(info.st_mode))
        return {&TagFailure::NotRegularFile, 0};
    if (info.st_size < TagLayout::RecordSize)
        return {&TagFailure::TooShort, 0};
    const ssize_t got =
        ::pread(file.get(), record, TagLayout::RecordSize, info.st_size - TagLayout::RecordSize);
    if (got < 0)
        return {&TagFailure::ReadFailed, errno};
    if (got != TagLayout::RecordSize)
        return {&TagFailure::ShortRead, 0};
    return {};
}

namespace
{
Outcome readTagBytes(const QString& path, char* record)
{
    return ReadTagBytesAt(AT_FDCWD, QFile::encodeName(path).constData(), record);
}
} // namespace

#else

Outcome ReadTagBytesFrom(const QString& path, char* record)
{
    // Unbuffered: a buffered QFile would read far more than the 128 bytes wanted.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {file.exists() ? &TagFailure::ReadFailed : &TagFailure::OpenFailed,
                int(::GetLastError())};
    const qint64 length = file.size();
    if (length < TagLayout::RecordSize)
        return {&TagFailure::TooShort, 0};
    if (!file.seek(length - TagLayout::RecordSize))
        return {&TagFailure::ReadFailed, int(::GetLastError())};
    const qint64 got = file.read(record, TagLayout::RecordSize);
    if (got < 0)
        return {&TagFailure::ReadFailed, int(::GetLastError())};
    if (got != TagLayout::RecordSize)
        return {&TagFailure::ShortRead, 0};
    return {};
}

namespace
{
Outcome readTagBytes(const QString& path, char* record)
{
    return ReadTagBytesFrom(path, record);
}
} // namespace

#endif

QByteArray ReadTagBytes(const QString& path)
{
    QByteArray record(TagLayout::RecordSize, Qt::Uninitialized);
    const Outcome outcome = readTagBytes(path, record.data());
    if (!outcome.ok()) {
        throw Error(QStringLiteral("Не удалось прочитать тег из файла %1: %2.")
                        .arg(QuotedPath(path), Reason(outcome)));
    }
    return record;
}

bool HasTagMarker(QByteArrayView record)
{
    return record.startsWith("TAG");
}

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

bool ReadTagRecord(const QString& path, const TagTextDecoder& decoder)
{
    // Read and parse first, assign last: a failure must leave the previous file's values whole.
    const QByteArray record = ReadTagBytes(path);
    Tag = ParseTagRecord(record, decoder);
    return HasTagMarker(record);
}

bool ReadTagRecord(const QString& path)
{
    return ReadTagRecord(path, TagTextDecoder::system());
}

} // namespace sorvane
