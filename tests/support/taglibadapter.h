#pragma once

#include "tag/tagframes.h"

#include <QByteArray>

namespace sorvane
{

// Parses bytes already read, never a file: TagLib reads a whole tag at once and looks for it in
// ways a folder run over a share cannot pay for. False where the bytes hold no tag TagLib can
// read. TagLib's own Latin-1 decoding maps each byte to U+00XX, so the bytes of frames marked
// ISO-8859-1 come back exactly, to be decoded in the file's page.
bool ParseID3v2(const QByteArray& tag, TagFrames& frames);
bool ParseApe(const QByteArray& tag, TagFrames& frames);

} // namespace sorvane
