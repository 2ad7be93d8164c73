#pragma once

#include "tag/codepage.h"
#include "tag/tagbytes.h"
#include "tag/tagframes.h"

#include <QString>

#include <array>

namespace sorvane
{

// Which tag the fields were filled from. A file whose last 128 bytes are an ID3v1 record is
// read from that record, even where an ID3v2 or APEv2 tag says more, except for a field that is
// a lossy copy of the other tag's (IsLossyCopy): that one comes from the other tag. Without a
// record the ID3v2 tag fills the fields, else the APEv2 tag.
enum class TagKind : quint8 { None, ID3v1, ID3v22, ID3v23, ID3v24, APEv2 };

// "ID3v2.3", "APEv2"; empty for ID3v1 and None.
QString TagKindName(TagKind kind);

struct TagText {
    TagKind kind = TagKind::None;
    // As the tag holds them; ID3v1 fields keep their NULs and padding, and show up to the first
    // NUL. With no tag at all, the last 128 bytes read as a record, for the user to check.
    std::array<QString, TagField::Count> text;
    // The title as the blank-title rule sees it: the ID3v1 record's whole field, or the tag's
    // title padded with NULs to 30 characters.
    QString blankTestTitle;
    // The page the file's 8-bit text was read with (ChooseCodePage).
    int codePage = 0;
};

// The fields from the bytes read, by the rules above; only those in `wanted` are decoded (the
// title always is). `decoder` is the locale's page; with `choosePage` a file whose 8-bit text
// reads wrong in it is read in another (ChooseCodePage). Several values of one frame are joined
// with ", ". Text from Unicode frames never holds a lone surrogate: it becomes U+FFFD, as it
// would be written in a name.
TagText ParseTagBytes(const TagBytes& bytes, const TagTextDecoder& decoder,
                      unsigned wanted = TagField::All, bool choosePage = !AnsiCodePageForced());
// The same from the frames of the other tag (of kind `otherKind`) decoded already, and the
// record in `bytes`: the rules alone, for any decoding of the frames.
TagText TagTextFromFrames(const TagBytes& bytes, TagKind otherKind, const TagFrames& frames,
                          const TagTextDecoder& decoder, unsigned wanted, bool choosePage);

// The genre as shown: a number ("17", "(17)", "(17)Rock") is named from the ID3v1 genre list,
// empty from 147 on; text stays as it is.
QString GenreText(const QString& genre);

// The first four digits of a date ("2001-05-03" gives "2001"), or empty.
QString YearText(const QString& date);

// Reads the file's tag: fills Tag from its last 128 bytes (when there are that many) and returns
// the fields by the rules above. Throws Error naming the file, and leaves Tag as it was.
TagText ReadTagRecord(const QString& path, const TagTextDecoder& decoder);
TagText ReadTagRecord(const QString& path);

} // namespace sorvane
