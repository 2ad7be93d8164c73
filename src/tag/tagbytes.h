#pragma once

#include "base/error.h"
#include "tag/budgetreader.h"
#include "tag/id3v2walk.h"
#include "tag/tagrecord.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace sorvane
{

// What was read of one file to learn its tag: its last 128 bytes, and where the rules need them,
// the bytes of its ID3v2 or APEv2 tag. Reading is all this holds; parsing comes after, on the
// thread that read it.
struct TagBytes {
    std::array<char, TagLayout::RecordSize> tail{};
    int tailSize = 0; // below 128 only in a file that short
    // The frames of an ID3v2 tag the fields need, as the walk over it read them (ReadID3v2Frames).
    // Read where the file has no ID3v1 record, or one a field of which may be a lossy copy
    // (MayBeLossyCopy).
    ID3v2Bytes id3v2;
    // An APEv2 tag's items and footer, likewise; read where there is no ID3v2 tag, before the
    // ID3v1 record or at the very end.
    QByteArray ape;
    // What the read saw of the file itself, to know it again later: its size, modification time
    // and inode number.
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    quint64 inode = 0;

    bool hasID3v1() const;
};

// Whether a field of the ID3v1 record may be a tagger's lossy copy of another tag's text, so that
// the other tag is worth reading: a title, artist, album or comment that fills its field (text
// the tagger may have cut), or that shows a "?" or a control character (a byte below 0x20, DEL,
// or one the page leaves undefined).
bool MayBeLossyCopy(const char* record, const class TagTextDecoder& page);

// Reads from one open file at an offset; the one place the byte reader touches the file, so the
// same rules serve every platform.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // The number of bytes read (fewer at the end of the file), or -1 with the system's code.
    virtual qint64 readAt(char* buffer, qint64 count, qint64 offset, int& error) = 0;
};

// Reads what TagBytes holds from a file of `size` bytes: the last 128 bytes; the ID3v2 tag at
// offset 0 where there is no ID3v1 record or it may hold a lossy copy; else the APEv2 tag by its
// footer before the record, at the end, or before a Lyrics3v2 block. Never reads more than
// TagReadLimit from either end. A file shorter than 128 bytes without another tag is TooShort.
Outcome ReadTagBytes(ByteSource& source, qint64 size, TagBytes& bytes);

// The same for the file `name` in the open folder dirFd (AT_FDCWD for a path), through the
// table of system calls; without an exception, as the folder run reads many files.
Outcome ReadTagBytesAt(int dirFd, const char* name, TagBytes& bytes);

// The same for a path. Throws Error naming the file and the reason.
TagBytes ReadTagBytes(const QString& path);

} // namespace sorvane
