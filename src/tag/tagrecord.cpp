#include "tag/tagrecord.h"

namespace sorvane
{

ID3v1Tag Tag;

ID3v1Tag::ID3v1Tag()
    : Marker(TagLayout::MarkerSize, QChar::Null), Title(TagLayout::TitleSize, QChar::Null),
      Artist(TagLayout::ArtistSize, QChar::Null), Album(TagLayout::AlbumSize, QChar::Null),
      Year(TagLayout::YearSize, QChar::Null), Comment(TagLayout::CommentSize, QChar::Null)
{
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

} // namespace sorvane
