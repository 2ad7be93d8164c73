#include "tag/tagrecord.h"

#include "tag/error.h"

#include <QFile>

namespace sorvane
{

ID3v1Tag Tag;

ID3v1Tag::ID3v1Tag()
    : Marker(TagLayout::MarkerSize, QChar::Null), Title(TagLayout::TitleSize, QChar::Null),
      Artist(TagLayout::ArtistSize, QChar::Null), Album(TagLayout::AlbumSize, QChar::Null),
      Year(TagLayout::YearSize, QChar::Null), Comment(TagLayout::CommentSize, QChar::Null)
{
}

QByteArray ReadTagBytes(const QString& path)
{
    // Unbuffered: a buffered QFile would read far more than the 128 bytes wanted.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        throw Error(QStringLiteral("Не удалось открыть файл %1: %2")
                        .arg(QuotedPath(path), file.errorString()));
    }
    const qint64 length = file.size();
    if (length < TagLayout::RecordSize) {
        throw Error(
            QStringLiteral("Файл %1 короче 128 байт: в нём нет тега ID3v1.").arg(QuotedPath(path)));
    }
    QByteArray record;
    if (file.seek(length - TagLayout::RecordSize))
        record = file.read(TagLayout::RecordSize);
    if (record.size() != TagLayout::RecordSize) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QStringLiteral("файл оказался короче, чем сообщила система");
        throw Error(
            QStringLiteral("Не удалось прочитать файл %1: %2").arg(QuotedPath(path), reason));
    }
    return record;
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
