#include "tag/tagtext.h"

#include "tag/apeitems.h"
#include "tag/genres.h"
#include "tag/id3v2textframe.h"
#include "tag/lossycopy.h"
#include "tag/pagechoice.h"

#include <QStringList>

#include <algorithm>

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

QString paddedTitle(const QString& title)
{
    // One allocation: every file without a record pads its title.
    return title.leftJustified(RecordTitleSize, QChar::Null);
}

// Decoding never leaves half a surrogate pair: the name would be measured as one thing and
// written as another.
void replaceLoneSurrogates(QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
}

bool hasSurrogate(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSurrogate(); });
}

// A field of the other tag, decoded: its values, Unicode or in the file's page.
QStringList valuesOf(const FrameText& field, const TagTextDecoder& page)
{
    // Most fields are Unicode values with nothing to mend: taken as they are.
    if (field.eightBit.isEmpty() &&
        std::none_of(field.values.cbegin(), field.values.cend(),
                     [](const QString& value) { return value.isEmpty() || hasSurrogate(value); }))
        return QStringList(field.values.cbegin(), field.values.cend());
    QStringList values;
    for (QString value : field.values) {
        replaceLoneSurrogates(value);
        if (!value.isEmpty())
            values.append(value);
    }
    for (const QByteArray& bytes : field.eightBit) {
        if (!bytes.isEmpty())
            values.append(page.decode(bytes));
    }
    return values;
}

// A field of no value or one, decoded as valuesOf would but without a list: most fields hold
// one. False where it holds more.
bool oneValueOf(const FrameText& field, const TagTextDecoder& page, QString& value)
{
    if (field.values.size() + field.eightBit.size() > 1)
        return false;
    if (!field.values.isEmpty()) {
        value = field.values.front();
        if (hasSurrogate(value))
            replaceLoneSurrogates(value);
    } else if (!field.eightBit.isEmpty() && !field.eightBit.front().isEmpty()) {
        value = page.decode(field.eightBit.front());
    }
    return true;
}

struct OtherTag {
    TagKind kind = TagKind::None;
    TagFrames frames;
};

OtherTag parseOther(const TagBytes& bytes)
{
    OtherTag other;
    const ID3v2Bytes& id3v2 = bytes.id3v2;
    if (id3v2.present()) {
        const int major = id3v2.header.major;
        const TagKind kinds[] = {TagKind::ID3v22, TagKind::ID3v23, TagKind::ID3v24};
        other.kind = kinds[major - 2];
        other.frames.version = major;
        for (int field = 0; field < TagField::Count; ++field) {
            const FrameSpan& span = id3v2.frames[std::size_t(field)];
            if (span.found())
                other.frames.field[std::size_t(field)] = DecodeID3v2Frame(
                    major, span.flags, id3v2.header.framesUnsynchronised(),
                    field == TagField::Comment,
                    QByteArrayView(id3v2.bytes.constData() + span.offset, span.size));
        }
        return other;
    }
    if (!bytes.ape.isEmpty() && DecodeApeItems(bytes.ape, other.frames))
        other.kind = TagKind::APEv2;
    return other;
}

// Where each text field of the record lies, and how much of it a copy could fill: a comment
// whose 29th byte is zero stands beside a track number (ID3v1.1) and holds 28.
struct RecordPlace {
    int offset;
    int size;
    int width;
};
RecordPlace recordPlace(const TagBytes& bytes, int field)
{
    using namespace TagLayout;
    switch (field) {
    case TagField::Title:
        return {TitleOffset, TitleSize, TitleSize};
    case TagField::Artist:
        return {ArtistOffset, ArtistSize, ArtistSize};
    case TagField::Album:
        return {AlbumOffset, AlbumSize, AlbumSize};
    case TagField::Year:
        return {YearOffset, YearSize, YearSize};
    default:
        return {CommentOffset, CommentSize,
                bytes.tail[CommentOffset + CommentSize - 2] == 0 ? CommentSize - 2 : CommentSize};
    }
}

// What a field shows of its one value, or of none.
QString shownValue(const QString& value, int field)
{
    if (field == TagField::Year)
        return YearText(value);
    if (field == TagField::Genre)
        return GenreText(value);
    return value;
}

QString shownText(const QStringList& values, int field)
{
    if (values.size() <= 1)
        return shownValue(values.value(0), field);
    const QString joined = values.join(QStringLiteral(", "));
    return shownValue(field == TagField::Genre ? values.front() : joined, field);
}

// What a field shows, and its first value, which for a year is what it shows: the record's four
// bytes are compared with that. False where the field holds no value.
bool shownField(const FrameText& frame, const TagTextDecoder& page, int field, QString& text,
                QString& first)
{
    bool any = false;
    if (oneValueOf(frame, page, first)) {
        text = shownValue(first, field);
        any = !first.isEmpty();
    } else {
        const QStringList values = valuesOf(frame, page);
        text = shownText(values, field);
        first = values.value(0);
        any = !values.isEmpty();
    }
    if (field == TagField::Year)
        first = text;
    return any;
}

TagText fromOther(TagKind kind, const TagFrames& frames, const TagTextDecoder& page,
                  unsigned wanted)
{
    TagText tag;
    tag.kind = kind;
    for (int field = 0; field < TagField::Count; ++field) {
        QString first;
        if (wanted & (1u << field))
            shownField(frames.field[std::size_t(field)], page, field, tag.text[field], first);
    }
    tag.blankTestTitle = paddedTitle(tag.text[TagField::Title]);
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

TagText ParseTagBytes(const TagBytes& bytes, const TagTextDecoder& decoder, unsigned wanted,
                      bool choosePage)
{
    const OtherTag other = parseOther(bytes);
    return TagTextFromFrames(bytes, other.kind, other.frames, decoder, wanted, choosePage);
}

TagText TagTextFromFrames(const TagBytes& bytes, TagKind otherKind, const TagFrames& frames,
                          const TagTextDecoder& decoder, unsigned wanted, bool choosePage)
{
    wanted |= TagField::bit(TagField::Title);
    const bool record = bytes.hasID3v1();
    if (!record && otherKind == TagKind::None) {
        if (bytes.tailSize != TagLayout::RecordSize)
            return TagText();
        TagText tag = fromRecord(bytes, decoder, wanted); // no tag: what the last 128 bytes hold
        tag.codePage = decoder.codePage();
        return tag;
    }
    // Every field counts, wanted or not: the window and the folder run choose alike.
    EightBitTexts texts;
    for (int field = 0; field < TagField::Count; ++field) {
        if (record && field != TagField::Genre) {
            const RecordPlace place = recordPlace(bytes, field);
            texts.add(QByteArrayView(bytes.tail.data() + place.offset, place.size));
        }
        for (const QByteArray& value : frames.field[std::size_t(field)].eightBit)
            texts.add(value);
    }
    const int codePage = ChooseCodePage(decoder.codePage(), texts, choosePage);
    const TagTextDecoder& page =
        codePage == decoder.codePage() ? decoder : TagTextDecoder::forPage(codePage);
    if (!record) {
        TagText tag = fromOther(otherKind, frames, page, wanted);
        tag.codePage = codePage;
        return tag;
    }
    TagText tag = fromRecord(bytes, page, wanted);
    tag.kind = TagKind::ID3v1;
    tag.codePage = codePage;
    for (int field = 0; field < TagField::Genre; ++field) {
        if (otherKind == TagKind::None || !(wanted & (1u << field)))
            continue;
        QString text, first;
        if (!shownField(frames.field[std::size_t(field)], page, field, text, first))
            continue;
        const RecordPlace place = recordPlace(bytes, field);
        if (IsLossyCopy(QByteArrayView(bytes.tail.data() + place.offset, place.size), place.width,
                        text, first, page)) {
            tag.text[field] = text;
            if (field == TagField::Title)
                tag.blankTestTitle = paddedTitle(text);
        }
    }
    return tag;
}

TagText ReadTagRecord(const QString& path, const TagTextDecoder& decoder)
{
    // Read and parse first, assign last: a failure must leave the previous file's values whole.
    const TagBytes bytes = ReadTagBytes(path);
    TagText tag = ParseTagBytes(bytes, decoder);
    if (bytes.tailSize == TagLayout::RecordSize)
        Tag = ParseTagRecord(QByteArrayView(bytes.tail.data(), bytes.tailSize),
                             TagTextDecoder::forPage(tag.codePage));
    return tag;
}

TagText ReadTagRecord(const QString& path)
{
    return ReadTagRecord(path, TagTextDecoder::system());
}

} // namespace sorvane
