#include "tag/id3v2walk.h"

#include "tag/budgetreader.h"
#include "tag/id3v2extendedheader.h"
#include "tag/id3v2frameheader.h"
#include "tag/unsynchronisation.h"

#include <algorithm>

namespace sorvane
{

namespace
{

// The first read at the start of a file: the header, the text frames and often a picture's
// header. Later reads, past a skipped frame, take less.
constexpr qint64 HeadChunk = 4 * 1024;
constexpr qint64 WalkChunk = 2 * 1024;

// The bytes of the file [fileStart, fileStart + size) lie in the buffer at bufferStart.
struct Region {
    qint64 fileStart = 0;
    qint64 bufferStart = 0;
    qint64 size = 0;

    bool holds(qint64 offset, qint64 count) const
    {
        return offset >= fileStart && offset + count <= fileStart + size;
    }
    qint64 at(qint64 offset) const { return bufferStart + (offset - fileStart); }
};

// Reads [offset, offset + count) onto the end of the buffer, as the region now at hand.
bool readRegion(BudgetReader& reader, QByteArray& buffer, qint64 offset, qint64 count,
                Region& region)
{
    count = std::min(count, reader.budget());
    const qint64 start = buffer.size();
    buffer.resize(start + count);
    const qint64 got = count > 0 ? reader.read(offset, count, buffer.data() + start) : -1;
    buffer.resize(start + std::max<qint64>(got, 0));
    if (got <= 0)
        return false;
    region = {offset, start, got};
    return true;
}

// Walks frames from `at` to `end` (file offsets), reading through `reader` what the buffer does
// not hold yet; with no reader the buffer holds the whole tag from offset 0.
void walk(BudgetReader* reader, ID3v2Bytes& tag, Region region, qint64 at, qint64 end)
{
    const int major = tag.header.major;
    const int headerSize = ID3v2FrameHeaderSize(major);
    int missing = TagField::Count;
    // The parts of a name are worth another read; the comment and the genre are taken where they
    // stand among the bytes read anyway. Most tags end in their cover: reading past it for a
    // comment that is not there costs a read for every file.
    int nameMissing = 4;
    while (at + headerSize <= end && missing > 0) {
        if (!region.holds(at, headerSize) &&
            !(reader && nameMissing > 0 &&
              readRegion(*reader, tag.bytes, at, std::min(WalkChunk, end - at), region)))
            break;
        if (!region.holds(at, headerSize))
            break;
        ID3v2FrameHeader frame;
        if (!ParseID3v2FrameHeader(major, tag.bytes.constData() + region.at(at), frame))
            break; // padding, or bytes that are no frame: the frames end here
        const qint64 body = at + headerSize;
        if (major == 4 && frame.plainSize != frame.bodySize) {
            // A frame id where the plain size ends and none where the synchsafe one does.
            const auto idAt = [&](qint64 next) {
                return region.holds(next, 4) &&
                       IsFrameId(major, tag.bytes.constData() + region.at(next));
            };
            if (!idAt(body + frame.bodySize) && idAt(body + frame.plainSize))
                frame.bodySize = frame.plainSize;
        }
        if (body + frame.bodySize > end)
            break; // a frame that runs past the tag is not one
        const int field = FieldOfFrame(major, frame);
        const bool namePart = field >= 0 && field < TagField::Comment;
        if (field >= 0 && !tag.frames[std::size_t(field)].found()) {
            // Its body, and where it ends before the tag does, the next frame headers with it.
            if (!region.holds(body, frame.bodySize) &&
                !(reader && (namePart || nameMissing > 0) &&
                  readRegion(*reader, tag.bytes, body,
                             std::min(end - body, frame.bodySize + WalkChunk), region)))
                break;
            if (region.holds(body, frame.bodySize)) {
                tag.frames[std::size_t(field)] = {qint32(region.at(body)), qint32(frame.bodySize),
                                                  frame.flags};
                --missing;
                nameMissing -= namePart ? 1 : 0;
            }
        }
        at = body + frame.bodySize;
    }
}

qint64 framesStart(const ID3v2Bytes& tag, const Region& region)
{
    qint64 at = ID3v2Header::Size;
    if (tag.header.hasExtendedHeader()) {
        if (!region.holds(at, 4))
            return -1;
        const qint64 length =
            ExtendedHeaderLength(tag.header, tag.bytes.constData() + region.at(at));
        if (length < 0)
            return -1;
        at += length;
    }
    return at;
}

} // namespace

void ReadID3v2Frames(BudgetReader& reader, ID3v2Bytes& tag)
{
    tag.reset();
    tag.bytes.reserve(HeadChunk + 2 * WalkChunk);
    Region region;
    if (!readRegion(reader, tag.bytes, 0, std::min(HeadChunk, reader.size()), region) ||
        !ParseID3v2Header(tag.bytes, tag.header)) {
        tag.reset();
        return;
    }
    const qint64 end = std::min(tag.header.tagSize(), reader.size());
    if (tag.header.wholeTagUnsynchronised()) {
        // Old and rare: read as far as the limit allows, undo, then walk in memory.
        const qint64 wanted = std::min(end, region.size + reader.budget());
        if (wanted > region.size) {
            Region rest;
            readRegion(reader, tag.bytes, region.size, wanted - region.size, rest);
        }
        tag.bytes.truncate(std::min<qint64>(tag.bytes.size(), end));
        WalkID3v2Frames(tag);
        return;
    }
    // The extended header lies in the first read: it is a few bytes after the header.
    const qint64 at = framesStart(tag, region);
    if (at >= 0)
        walk(&reader, tag, region, at, end);
}

void WalkID3v2Frames(ID3v2Bytes& tag)
{
    tag.frames = {};
    if (!ParseID3v2Header(tag.bytes, tag.header)) {
        tag.header = ID3v2Header();
        return;
    }
    if (tag.header.wholeTagUnsynchronised()) {
        const qsizetype body = RemoveUnsynchronisation(tag.bytes.data() + ID3v2Header::Size,
                                                       tag.bytes.size() - ID3v2Header::Size);
        tag.bytes.truncate(ID3v2Header::Size + body);
    }
    const qint64 end = std::min<qint64>(tag.header.tagSize(), tag.bytes.size());
    const Region whole{0, 0, tag.bytes.size()};
    const qint64 at = framesStart(tag, whole);
    if (at >= 0)
        walk(nullptr, tag, whole, at, end);
}

} // namespace sorvane
