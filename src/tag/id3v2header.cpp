#include "tag/id3v2header.h"

namespace sorvane
{

bool IsSynchsafe(const char* bytes)
{
    return ((bytes[0] | bytes[1] | bytes[2] | bytes[3]) & 0x80) == 0;
}

quint32 Synchsafe(const char* bytes)
{
    return quint32(bytes[0] & 0x7F) << 21 | quint32(bytes[1] & 0x7F) << 14 |
           quint32(bytes[2] & 0x7F) << 7 | quint32(bytes[3] & 0x7F);
}

quint32 BigEndian(const char* bytes, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

bool ParseID3v2Header(QByteArrayView bytes, ID3v2Header& header)
{
    if (bytes.size() < ID3v2Header::Size || !bytes.startsWith("ID3"))
        return false;
    const int major = quint8(bytes[3]);
    // A revision of 0xFF, or a size with a high bit set, is no header (section 3.1).
    if (major < 2 || major > 4 || quint8(bytes[4]) == 0xFF || !IsSynchsafe(bytes.data() + 6))
        return false;
    header.major = major;
    header.flags = quint8(bytes[5]);
    header.bodySize = Synchsafe(bytes.data() + 6);
    return true;
}

} // namespace sorvane
