#include "tag/apeitems.h"

#include <QList>
#include <QString>

#include <cstring>

namespace sorvane
{

namespace
{

constexpr int FooterSize = 32;

quint32 littleEndian32(const char* p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

int fieldOfKey(QByteArrayView key)
{
    static const char* const Keys[] = {"title", "artist", "album", "year", "comment", "genre"};
    for (int field = 0; field < TagField::Count; ++field) {
        if (key.compare(QByteArrayView(Keys[field]), Qt::CaseInsensitive) == 0)
            return field;
    }
    return -1;
}

} // namespace

bool DecodeApeItems(QByteArrayView tag, TagFrames& frames)
{
    if (tag.size() < FooterSize ||
        std::memcmp(tag.data() + tag.size() - FooterSize, "APETAGEX", 8) != 0)
        return false;
    const char* footer = tag.data() + tag.size() - FooterSize;
    const quint32 count = littleEndian32(footer + 16);
    const qsizetype end = tag.size() - FooterSize;
    qsizetype at = 0;
    for (quint32 item = 0; item < count && at + 9 <= end; ++item) {
        const quint32 size = littleEndian32(tag.data() + at);
        const quint32 flags = littleEndian32(tag.data() + at + 4);
        const auto* nul = static_cast<const char*>(
            std::memchr(tag.data() + at + 8, '\0', std::size_t(end - at - 8)));
        if (!nul || qsizetype(size) > end - (nul + 1 - tag.data()))
            break;
        const QByteArrayView key(tag.data() + at + 8, nul - (tag.data() + at + 8));
        const QByteArrayView value(nul + 1, qsizetype(size));
        at = (nul + 1 - tag.data()) + qsizetype(size);
        const int field = fieldOfKey(key);
        if (field < 0 || ((flags >> 1) & 3) != 0) // not a text item
            continue;
        FrameText text;
        for (const QByteArrayView part : QByteArray(value.toByteArray()).split('\0')) {
            if (!part.isEmpty())
                text.values.append(QString::fromUtf8(part));
            if (field == TagField::Genre || field == TagField::Comment)
                break; // its first value is the field
        }
        frames.field[std::size_t(field)] = text;
    }
    return true;
}

} // namespace sorvane
