#pragma once

#include <QByteArray>
#include <QString>
#include <QVarLengthArray>

#include <array>

namespace sorvane
{

// The six fields of a tag in the window's order; a mask of them says which to decode.
namespace TagField
{
enum Index { Title, Artist, Album, Year, Comment, Genre, Count };
constexpr unsigned bit(Index field)
{
    return 1u << field;
}
constexpr unsigned All = (1u << Count) - 1;
} // namespace TagField

// One field's text as an ID3v2 frame or APEv2 item holds it: Unicode values, or the bytes of
// values in a frame marked ISO-8859-1, which old Windows taggers filled in their own page and
// which are decoded once the file's page is chosen. A frame of several values (ID3v2.4's
// NUL-separated list, an APEv2 list) has several.
struct FrameText {
    // Most frames hold one value: it is kept in place, without an allocation of its own.
    QVarLengthArray<QString, 1> values;
    QVarLengthArray<QByteArray, 1> eightBit;

    bool empty() const { return values.isEmpty() && eightBit.isEmpty(); }
};

// The fields of an ID3v2 or APEv2 tag, in the window's order: title, artist, album, year
// (the whole date), comment (the first comment's text) and genre (the first entry of the genre
// frame, a number or a name).
struct TagFrames {
    std::array<FrameText, TagField::Count> field;
    int version = 0; // ID3v2's major version: 2, 3 or 4
};

} // namespace sorvane
