#pragma once

#include "tag/tagframes.h"

#include <QByteArrayView>

namespace sorvane
{

// The fields of an APEv2 tag from its items and 32-byte footer (as read, without a header): each
// item a value size and flags (little-endian), a key up to its NUL, and the value; keys match in
// any letter case, a text item's values are UTF-8 separated by NUL, and a key given twice counts
// as its last. False where the bytes end in no APEv2 footer.
bool DecodeApeItems(QByteArrayView tag, TagFrames& frames);

} // namespace sorvane
