#include "tag/id3v2frameheader.h"

#include "tag/id3v2header.h"

#include <algorithm>
#include <cstring>

namespace sorvane
{

namespace
{

bool isFrameIdChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

int ID3v2FrameHeaderSize(int major)
{
    return major == 2 ? 6 : 10;
}

bool IsFrameId(int major, const char* bytes)
{
    return std::all_of(bytes, bytes + (major == 2 ? 3 : 4), isFrameIdChar);
}

bool ParseID3v2FrameHeader(int major, const char* bytes, ID3v2FrameHeader& header)
{
    const int idSize = major == 2 ? 3 : 4;
    if (!IsFrameId(major, bytes))
        return false;
    std::memcpy(header.id, bytes, std::size_t(idSize));
    if (major == 2) {
        header.id[3] = '\0';
        header.bodySize = BigEndian(bytes + 3, 3);
        header.flags = 0;
    } else {
        header.plainSize = BigEndian(bytes + 4, 4);
        header.bodySize =
            major == 4 && IsSynchsafe(bytes + 4) ? Synchsafe(bytes + 4) : header.plainSize;
        header.flags = quint16(BigEndian(bytes + 8, 2));
    }
    return true;
}

int FieldOfFrame(int major, const ID3v2FrameHeader& header)
{
    static const std::pair<const char*, int> Frames[] = {
        {"TIT2", TagField::Title}, {"TPE1", TagField::Artist}, {"TALB", TagField::Album},
        {"TYER", TagField::Year},  {"TDRC", TagField::Year},   {"COMM", TagField::Comment},
        {"TCON", TagField::Genre}};
    static const std::pair<const char*, int> Frames22[] = {
        {"TT2", TagField::Title}, {"TP1", TagField::Artist},  {"TAL", TagField::Album},
        {"TYE", TagField::Year},  {"COM", TagField::Comment}, {"TCO", TagField::Genre}};
    const int idSize = major == 2 ? 3 : 4;
    const auto find = [&](const auto& list) {
        for (const auto& [id, field] : list) {
            if (std::memcmp(header.id, id, std::size_t(idSize)) == 0)
                return field;
        }
        return -1;
    };
    return major == 2 ? find(Frames22) : find(Frames);
}

} // namespace sorvane
