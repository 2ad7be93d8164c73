#pragma once

#include "tag/tagframes.h"

#include <QtGlobal>

namespace sorvane
{

// A frame's header: ID3v2.3 and 2.4 (sections 3.3 and 4.1) a four-character id, the size of what
// follows (2.4: synchsafe) and two bytes of flags, ten bytes in all; ID3v2.2 a three-character
// id and a three-byte size, six bytes. Some 2.4 taggers write 2.3's plain sizes; a size that is
// not synchsafe is read so.
struct ID3v2FrameHeader {
    char id[4] = {};
    qint64 bodySize = 0;
    quint16 flags = 0;
    // In 2.4, the size read as a plain number: iTunes wrote 2.3's sizes into 2.4 tags, and they
    // can be synchsafe too. Which one is meant shows where the next frame starts.
    qint64 plainSize = 0;
};

// Whether the bytes begin with a frame id (ID3v2.3 section 4: A-Z and 0-9).
bool IsFrameId(int major, const char* bytes);

int ID3v2FrameHeaderSize(int major);

// False at padding, or where the bytes hold no frame id: the frames end there.
bool ParseID3v2FrameHeader(int major, const char* bytes, ID3v2FrameHeader& header);

// The field a frame fills (TIT2, TPE1, TALB, TYER or TDRC, COMM, TCON, and 2.2's TT2 ...), or -1.
int FieldOfFrame(int major, const ID3v2FrameHeader& header);

} // namespace sorvane
