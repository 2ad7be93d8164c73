#include "tag/tagtext.h"

#include "tag/genres.h"
#include "tag/taglibadapter.h"

namespace sorvane
{

namespace
{

constexpr int RecordTitleSize = TagLayout::TitleSize;

QString recordField(const TagBytes& bytes, const TagTextDecoder& decoder, int offset, int size)
{
    return decoder.decode(QByteArrayView(bytes.tail.data() + offset, size));
}

// An ID3v1 record, decoding only what is wanted.
TagText fromRecord(const TagBytes& bytes, const TagTextDecoder& decoder, unsigned wanted)
{
    using namespace TagLayout;
    TagText tag;
    const std::pair<int, int> places[] = {{TitleOffset, TitleSize},
                                          {ArtistOffset, ArtistSize},
                                          {AlbumOffset, AlbumSize},
                                          {YearOffset, YearSize},
                                          {CommentOffset, CommentSize}};
    for (int field = 0; field < TagField::Genre; ++field) {
        if (wanted & (1u << field))
            tag.text[field] =
                recordField(bytes, decoder, places[field].first, places[field].second);
    }
    if (wanted & TagField::bit(TagField::Genre))
        tag.text[TagField::Genre] = GenreName(quint8(bytes.tail[GenreOffset]));
    tag.blankTestTitle = tag.text[TagField::Title];
    return tag;
}

// A field whose 30 bytes the record filled is completed from the ID3v2 frame that begins with
// exactly its text and says more.
void completeCutFields(const TagBytes& bytes, const TagTextDecoder& decoder, unsigned wanted,
                       TagText& tag)
{
    TagLibFields id3v2;
    if (bytes.id3v2.isEmpty() || !ParseID3v2(bytes.id3v2, decoder, id3v2))
        return;
    using namespace TagLayout;
    const std::pair<TagField::Index, int> fields[] = {{TagField::Title, TitleOffset},
                                                      {TagField::Artist, ArtistOffset},
                                                      {TagField::Album, AlbumOffset}};
    for (const auto& [field, offset] : fields) {
        const QString& longer = id3v2.text[field];
        if (IsCutField(bytes.tail.data() + offset) && (wanted & TagField::bit(field)) &&
            longer.size() > tag.text[field].size() && longer.startsWith(tag.text[field]))
            tag.text[field] = longer;
    }
}

TagText fromTagLib(const TagLibFields& fields, TagKind kind, unsigned wanted)
{
    TagText tag;
    tag.kind = kind;
    for (int field = 0; field < TagField::Count; ++field) {
        if (wanted & (1u << field))
            tag.text[field] = fields.text[field];
    }
    tag.text[TagField::Year] = YearText(tag.text[TagField::Year]);
    tag.text[TagField::Genre] = GenreText(tag.text[TagField::Genre]);
    tag.blankTestTitle = fields.text[TagField::Title];
    if (tag.blankTestTitle.size() < RecordTitleSize)
        tag.blankTestTitle.append(
            QString(RecordTitleSize - tag.blankTestTitle.size(), QChar::Null));
    return tag;
}

} // namespace

QString TagKindName(TagKind kind)
{
    switch (kind) {
    case TagKind::ID3v22:
        return QStringLiteral("ID3v2.2");
    case TagKind::ID3v23:
        return QStringLiteral("ID3v2.3");
    case TagKind::ID3v24:
        return QStringLiteral("ID3v2.4");
    case TagKind::APEv2:
        return QStringLiteral("APEv2");
    case TagKind::None:
    case TagKind::ID3v1:
        break;
    }
    return QString();
}

QString GenreText(const QString& genre)
{
    // "(17)Rock" and "(17)" name genre 17, as does "17".
    QStringView number = genre;
    if (number.startsWith(QLatin1Char('(')) && number.indexOf(QLatin1Char(')')) > 1)
        number = number.mid(1, number.indexOf(QLatin1Char(')')) - 1);
    bool isNumber = false;
    const uint value = number.toUInt(&isNumber);
    if (!isNumber || number.isEmpty() || !number.front().isDigit())
        return genre;
    return value <= 255 ? GenreName(quint8(value)) : QString();
}

QString YearText(const QString& date)
{
    int run = 0;
    for (int i = 0; i < date.size(); ++i) {
        run = date.at(i).isDigit() && date.at(i).unicode() < 0x80 ? run + 1 : 0;
        if (run == 4)
            return date.mid(i - 3, 4);
    }
    return QString();
}

TagText ParseTagBytes(const TagBytes& bytes, const TagTextDecoder& decoder, unsigned wanted)
{
    wanted |= TagField::bit(TagField::Title);
    if (bytes.hasID3v1()) {
        TagText tag = fromRecord(bytes, decoder, wanted);
        tag.kind = TagKind::ID3v1;
        completeCutFields(bytes, decoder, wanted, tag);
        return tag;
    }
    TagLibFields fields;
    if (!bytes.id3v2.isEmpty() && ParseID3v2(bytes.id3v2, decoder, fields)) {
        const TagKind kinds[] = {TagKind::ID3v22, TagKind::ID3v23, TagKind::ID3v24};
        return fromTagLib(fields, kinds[std::clamp(fields.version, 2, 4) - 2], wanted);
    }
    fields = {};
    if (!bytes.ape.isEmpty() && ParseApe(bytes.ape, fields))
        return fromTagLib(fields, TagKind::APEv2, wanted);
    if (bytes.tailSize == TagLayout::RecordSize)
        return fromRecord(bytes, decoder, wanted); // no tag: what the last 128 bytes hold
    return TagText();
}

TagText ReadTagRecord(const QString& path, const TagTextDecoder& decoder)
{
    // Read and parse first, assign last: a failure must leave the previous file's values whole.
    const TagBytes bytes = ReadTagBytes(path);
    TagText tag = ParseTagBytes(bytes, decoder);
    if (bytes.tailSize == TagLayout::RecordSize)
        Tag = ParseTagRecord(QByteArrayView(bytes.tail.data(), bytes.tailSize), decoder);
    return tag;
}

TagText ReadTagRecord(const QString& path)
{
    return ReadTagRecord(path, TagTextDecoder::system());
}

} // namespace sorvane
