#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace sorvane
{

// The 10-byte header an ID3v2 tag starts with (ID3v2.3 and 2.4, section 3.1; 2.2 alike): "ID3",
// the major version and revision, flags, and the size of the rest of the tag as a synchsafe
// number (seven bits a byte), padding included and a footer not.
struct ID3v2Header {
    static constexpr int Size = 10;

    int major = 0;
    quint8 flags = 0;
    qint64 bodySize = 0; // after the header

    qint64 tagSize() const { return Size + bodySize; }
    // Before 2.4 the flag means the whole tag was unsynchronised, frame headers included.
    bool wholeTagUnsynchronised() const { return (flags & 0x80) && major < 4; }
    // 2.4's flag says every frame is; the frames then say so themselves, or should.
    bool framesUnsynchronised() const { return (flags & 0x80) && major == 4; }
    bool hasExtendedHeader() const { return major >= 3 && (flags & 0x40); }
};

// Synchsafe numbers keep the high bit of every byte clear.
bool IsSynchsafe(const char* bytes);
quint32 Synchsafe(const char* bytes);
quint32 BigEndian(const char* bytes, int count);

// False where the bytes are no ID3v2 header of 2.2, 2.3 or 2.4.
bool ParseID3v2Header(QByteArrayView bytes, ID3v2Header& header);

} // namespace sorvane
