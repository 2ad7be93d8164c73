#include "support/taglibadapter.h"

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

enum Field { Title, Artist, Album, Year, Comment, Genre };

// Values as the frame holds them: Unicode text, or the bytes of Latin-1 frames given back.
void putValues(const TagLib::StringList& values, bool latin1, FrameText& field)
{
    for (const TagLib::String& value : values) {
        if (latin1) {
            const TagLib::ByteVector bytes = value.data(TagLib::String::Latin1);
            field.eightBit.append(QByteArray(bytes.data(), int(bytes.size())));
        } else {
            field.values.append(toQString(value));
        }
    }
}

} // namespace

bool ParseID3v2(const QByteArray& tag, TagFrames& fields)
{
    ReadOnlyStream stream(tag);
    BytesFile file(&stream);
    const TagLib::ID3v2::Tag id3v2(&file, 0);
    if (id3v2.header()->majorVersion() < 2)
        return false;
    fields.version = int(id3v2.header()->majorVersion());
    const TagLib::ID3v2::FrameListMap& frames = id3v2.frameListMap();
    const auto first = [&frames](const char* id) -> const TagLib::ID3v2::Frame* {
        const auto found = frames.find(id);
        return found == frames.end() || found->second.isEmpty() ? nullptr : found->second.front();
    };
    // TagLib names ID3v2.2 and 2.3 frames as 2.4 does (TT2 and TIT2 alike, TYER as TDRC).
    const std::pair<Field, const char*> texts[] = {{Title, "TIT2"}, {Artist, "TPE1"},
                                                   {Album, "TALB"}, {Year, "TDRC"},
                                                   {Year, "TYER"},  {Genre, "TCON"}};
    for (const auto& [field, id] : texts) {
        const auto* frame = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(first(id));
        if (!frame || !fields.field[field].empty())
            continue;
        TagLib::StringList values = frame->fieldList();
        // The genre is its first entry, a number or a name.
        if (field == Genre && values.size() > 1)
            values = TagLib::StringList(values.front());
        putValues(values, frame->textEncoding() == TagLib::String::Latin1, fields.field[field]);
    }
    if (const auto* frame = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(first("COMM")))
        putValues(TagLib::StringList(frame->text()),
                  frame->textEncoding() == TagLib::String::Latin1, fields.field[Comment]);
    return true;
}

bool ParseApe(const QByteArray& tag, TagFrames& fields)
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
        TagLib::StringList values = found->second.values();
        if ((field == Genre || field == Comment) && values.size() > 1)
            values = TagLib::StringList(values.front());
        putValues(values, false, fields.field[field]);
    }
    return true;
}

} // namespace sorvane
