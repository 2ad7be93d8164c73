#pragma once

#include "tag/id3v2header.h"

namespace sorvane
{

// The extended header that may follow the tag's header, skipped by its size: ID3v2.3 (section
// 3.2) gives its size without the four size bytes themselves (6 or 10), ID3v2.4 (section 3.2) a
// synchsafe size that includes them. `sizeBytes` are its first four bytes; the result is how far
// the frames start past the tag's header, or -1 where the size cannot be one.
qint64 ExtendedHeaderLength(const ID3v2Header& header, const char* sizeBytes);

} // namespace sorvane
