#pragma once

#include "tag/tagframes.h"

#include <QByteArrayView>

namespace sorvane
{

// The text of a frame the fields use, from its body (the bytes after its header): the frame
// flags' additions undone first (ID3v2.3 section 3.3.1: a decompressed size, an encryption
// method, a group; ID3v2.4 section 4.1.2: a group, an encryption method, a data length, and
// unsynchronisation, which 2.4 does per frame, or for all where the tag says so), a compressed
// body inflated, an encrypted one left unread. Then the text as sections 4.2 and 4.10 lay it
// out: an encoding byte (ISO-8859-1, UTF-16 with a byte order mark, UTF-16BE, UTF-8), values
// separated by that encoding's NUL; a comment's language and description before its text.
FrameText DecodeID3v2Frame(int major, quint16 flags, bool tagUnsynchronised, bool comment,
                           QByteArrayView body);

} // namespace sorvane
