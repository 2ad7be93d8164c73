#include "tag/id3v2extendedheader.h"

namespace sorvane
{

qint64 ExtendedHeaderLength(const ID3v2Header& header, const char* sizeBytes)
{
    const qint64 length =
        header.major == 4 ? qint64(Synchsafe(sizeBytes)) : 4 + qint64(BigEndian(sizeBytes, 4));
    if ((header.major == 4 && !IsSynchsafe(sizeBytes)) || length < 6 || length > header.bodySize)
        return -1;
    return length;
}

} // namespace sorvane
