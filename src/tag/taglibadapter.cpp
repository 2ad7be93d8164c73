#include "tag/taglibadapter.h"

#include "tag/codepage.h"

#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/tiostream.h>

#include <algorithm>

namespace sorvane
{

namespace
{

// The bytes of one tag as a stream TagLib can read and never write.
class ReadOnlyStream : public TagLib::IOStream
{
public:
    explicit ReadOnlyStream(const QByteArray& bytes) : m_bytes(bytes) {}

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override
    {
        const long available = std::max(0L, long(m_bytes.size()) - m_position);
        const long count = std::min(long(std::min<unsigned long>(length, 0x7FFFFFFF)), available);
        TagLib::ByteVector block(m_bytes.constData() + m_position, static_cast<unsigned>(count));
        m_position += count;
        return block;
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position from) override
    {
        const long base = from == Beginning ? 0
                          : from == Current ? m_position
                                            : long(m_bytes.size());
        m_position = std::clamp(base + offset, 0L, long(m_bytes.size()));
    }
    long tell() const override { return m_position; }
    long length() override { return long(m_bytes.size()); }
    void truncate(long) override {}

private:
    const QByteArray& m_bytes;
    long m_position = 0;
};

// TagLib's tags are made from a File; this one is the bytes alone, with nothing to save.
class BytesFile : public TagLib::File
{
public:
    explicit BytesFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

QString toQString(const TagLib::String& text)
{
    return QString::fromStdWString(text.toWString());
}

// TagLib's handler is one for the whole process; the parse under way says which page it decodes
// with (only one thread parses).
const TagTextDecoder* g_latin1Decoder = nullptr;

class CodePageLatin1 : public TagLib::ID3v2::Latin1StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override
    {
        const TagTextDecoder& decoder =
            g_latin1Decoder ? *g_latin1Decoder : TagTextDecoder::system();
        const QString text = decoder.decode(QByteArrayView(data.data(), qsizetype(data.size())));
        return TagLib::String(text.toStdWString());
    }
};

enum Field { Title, Artist, Album, Year, Comment, Genre };

} // namespace

bool ParseID3v2(const QByteArray& tag, const TagTextDecoder& decoder, TagLibFields& fields)
{
    static const bool handlersInstalled = (InstallTagLibStringHandlers(), true);
    Q_UNUSED(handlersInstalled);
    ReadOnlyStream stream(tag);
    BytesFile file(&stream);
    g_latin1Decoder = &decoder;
    const TagLib::ID3v2::Tag id3v2(&file, 0);
    g_latin1Decoder = nullptr;
    if (id3v2.header()->majorVersion() < 2)
        return false;
    fields.version = int(id3v2.header()->majorVersion());
    const TagLib::ID3v2::FrameListMap& frames = id3v2.frameListMap();
    const auto first = [&frames](const char* id) -> const TagLib::ID3v2::Frame* {
        const auto found = frames.find(id);
        return found == frames.end() || found->second.isEmpty() ? nullptr : found->second.front();
    };
    // TagLib names ID3v2.2 and 2.3 frames as 2.4 does (TT2 and TIT2 alike, TYER as TDRC).
    const std::pair<Field, const char*> texts[] = {
        {Title, "TIT2"}, {Artist, "TPE1"}, {Album, "TALB"}, {Year, "TDRC"}, {Year, "TYER"}};
    for (const auto& [field, id] : texts) {
        if (const auto* frame = first(id); frame && fields.text[field].isEmpty())
            fields.text[field] = toQString(frame->toString());
    }
    if (const auto* frame = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(first("COMM")))
        fields.text[Comment] = toQString(frame->text());
    // The field list, not the joined text: its first entry is the genre, a number or a name.
    if (const auto* frame =
            dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(first("TCON"))) {
        const TagLib::StringList genres = frame->fieldList();
        if (!genres.isEmpty())
            fields.text[Genre] = toQString(genres.front());
    }
    return true;
}

bool ParseApe(const QByteArray& tag, TagLibFields& fields)
{
    constexpr long FooterSize = 32;
    if (tag.size() < FooterSize)
        return false;
    ReadOnlyStream stream(tag);
    BytesFile file(&stream);
    const TagLib::APE::Tag ape(&file, long(tag.size()) - FooterSize);
    const TagLib::APE::ItemListMap& items = ape.itemListMap();
    const std::pair<Field, const char*> keys[] = {{Title, "TITLE"},     {Artist, "ARTIST"},
                                                  {Album, "ALBUM"},     {Year, "YEAR"},
                                                  {Comment, "COMMENT"}, {Genre, "GENRE"}};
    for (const auto& [field, key] : keys) {
        const auto found = items.find(key);
        if (found == items.end())
            continue;
        const TagLib::StringList values = found->second.values();
        if (!values.isEmpty())
            fields.text[field] = toQString(values.front());
    }
    return true;
}

void InstallTagLibStringHandlers()
{
    static const CodePageLatin1 handler;
    TagLib::ID3v2::Tag::setLatin1StringHandler(&handler);
}

} // namespace sorvane
