#pragma once

#include "tag/id3v2header.h"
#include "tag/tagframes.h"

#include <QByteArray>

#include <array>

namespace sorvane
{

class BudgetReader;

// Where one wanted frame's body lies in the bytes read of a tag, with the frame's flags.
struct FrameSpan {
    qint32 offset = -1;
    qint32 size = 0;
    quint16 flags = 0;

    bool found() const { return offset >= 0; }
};

// What of an ID3v2 tag was read: its header, and in one buffer the chunks the walk over its
// frame headers read, one after another; `frames` finds the first frame of each field there.
struct ID3v2Bytes {
    ID3v2Header header; // major 0: no tag
    QByteArray bytes;
    std::array<FrameSpan, TagField::Count> frames{};

    bool present() const { return header.major != 0; }
    // Empty again, keeping the buffer for the next file a thread reads.
    void reset()
    {
        header = ID3v2Header();
        bytes.resize(0);
        frames = {};
    }
};

// Walks the frame headers of the tag at the start of the file and reads the frames the fields
// need, skipping every other frame (pictures above all) by its size, so that a cover of any size
// costs nothing. The first read takes the header and the first frames at once; each later one
// starts at the next frame header not yet read, and is made only while a part of a name (title,
// artist, album, year) is still missing: a comment or genre is taken where it stands among the
// bytes read for those. A tag unsynchronised as a whole (before 2.4) has
// frame sizes that count the bytes after unsynchronisation is undone, so it is read whole up to
// the limit and undone before the walk. Nothing is read past the tag, nor past the limit.
void ReadID3v2Frames(BudgetReader& reader, ID3v2Bytes& tag);

// The same walk over a tag already in memory (a whole-tag read, or bytes a test gives).
void WalkID3v2Frames(ID3v2Bytes& tag);

} // namespace sorvane
