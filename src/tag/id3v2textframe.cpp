#include "tag/id3v2textframe.h"

#include "tag/id3v2header.h"
#include "tag/unsynchronisation.h"

#include <QByteArray>
#include <QString>

#include <utility>

namespace sorvane
{

namespace
{

// A text frame of a name's fields is a few hundred bytes; more than this inflated is no text.
constexpr quint32 LargestInflated = 1 << 20;

enum Encoding { Latin1 = 0, Utf16 = 1, Utf16BE = 2, Utf8 = 3 };

QString utf16(QByteArrayView bytes, bool bigEndian)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto a = quint8(bytes[2 * i]), b = quint8(bytes[2 * i + 1]);
        text[i] = QChar(bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a));
    }
    return text;
}

// One value of UTF-16 with a byte order mark: its own, or where it has none the first
// value's; text without any has no order to be read in.
bool utf16Value(QByteArrayView bytes, int& order, QString& value)
{
    if (bytes.size() >= 2 && quint8(bytes[0]) == 0xFF && quint8(bytes[1]) == 0xFE) {
        order = 1;
        bytes = bytes.sliced(2);
    } else if (bytes.size() >= 2 && quint8(bytes[0]) == 0xFE && quint8(bytes[1]) == 0xFF) {
        order = 2;
        bytes = bytes.sliced(2);
    }
    if (order == 0)
        return false;
    value = utf16(bytes, order == 2);
    return true;
}

// Where the next NUL of the encoding is from `from`: one zero byte, or two at an even offset.
qsizetype findNul(QByteArrayView bytes, qsizetype from, bool wide)
{
    for (qsizetype i = from; i + (wide ? 1 : 0) < bytes.size(); i += wide ? 2 : 1) {
        if (bytes[i] == 0 && (!wide || bytes[i + 1] == 0))
            return i;
    }
    return -1;
}

void addValue(int encoding, QByteArrayView bytes, int& order, FrameText& text)
{
    if (bytes.isEmpty())
        return;
    QString value;
    switch (encoding) {
    case Latin1:
        text.eightBit.append(bytes.toByteArray());
        return;
    case Utf16:
        if (!utf16Value(bytes, order, value))
            return;
        break;
    case Utf16BE:
        value = utf16(bytes, true);
        break;
    default:
        value = QString::fromUtf8(bytes);
        break;
    }
    if (!value.isEmpty())
        text.values.append(std::move(value));
}

FrameText textOf(QByteArrayView data, bool comment)
{
    FrameText text;
    if (data.size() < (comment ? 5 : 2))
        return text;
    const int encoding = quint8(data[0]);
    if (encoding > Utf8)
        return text;
    const bool wide = encoding == Utf16 || encoding == Utf16BE;
    int order = encoding == Utf16BE ? 2 : 0;
    if (comment) {
        // The language, the description up to its NUL, then the text, to its end.
        const QByteArrayView rest = data.sliced(4);
        const qsizetype nul = findNul(rest, 0, wide);
        if (nul < 0)
            return text;
        QString description;
        if (encoding == Utf16)
            utf16Value(rest.first(nul), order, description);
        const QByteArrayView body = rest.sliced(nul + (wide ? 2 : 1));
        int own = 0; // the comment's text carries its own order mark
        addValue(encoding, body, encoding == Utf16 ? own : order, text);
        return text;
    }
    // Values separated by NUL; trailing NULs end the list, empty values are none.
    QByteArrayView values = data.sliced(1);
    while (!values.isEmpty() && values.back() == 0)
        values.chop(1);
    // A UTF-16 NUL's first byte chopped with the trailing ones is put back; where the body
    // itself ends at an odd byte, that byte is half a character and goes.
    if (wide && values.size() % 2 != 0)
        values = values.size() + 1 < data.size() ? data.sliced(1, values.size() + 1)
                                                 : values.first(values.size() - 1);
    for (qsizetype from = 0; from < values.size();) {
        qsizetype nul = findNul(values, from, wide);
        if (nul < 0)
            nul = values.size();
        addValue(encoding, values.sliced(from, nul - from), order, text);
        from = nul + (wide ? 2 : 1);
    }
    return text;
}

} // namespace

FrameText DecodeID3v2Frame(int major, quint16 flags, bool tagUnsynchronised, bool comment,
                           QByteArrayView body)
{
    QByteArray undone;
    bool compressed = false;
    qint64 inflatedSize = -1;
    if (major == 3) {
        if (flags & 0x0080) { // the decompressed size, big-endian
            if (body.size() < 4)
                return {};
            compressed = true;
            inflatedSize = BigEndian(body.data(), 4);
            body = body.sliced(4);
        }
        if (flags & 0x0040) // encrypted: nothing to read without the key
            return {};
        if (flags & 0x0020) { // a group identifier byte
            if (body.isEmpty())
                return {};
            body = body.sliced(1);
        }
    } else if (major == 4) {
        if ((flags & 0x0002) || tagUnsynchronised) {
            undone = body.toByteArray();
            undone.truncate(RemoveUnsynchronisation(undone.data(), undone.size()));
            body = undone;
        }
        if (flags & 0x0040) { // a group identifier byte
            if (body.isEmpty())
                return {};
            body = body.sliced(1);
        }
        if (flags & 0x0004)
            return {};
        if (flags & 0x0001) { // the data length indicator, synchsafe
            if (body.size() < 4)
                return {};
            inflatedSize = Synchsafe(body.data());
            body = body.sliced(4);
        }
        compressed = (flags & 0x0008) != 0;
    }
    if (!compressed)
        return textOf(body, comment);
    if (inflatedSize < 0 || inflatedSize > LargestInflated)
        return {};
    // qUncompress wants the inflated size big-endian ahead of the zlib stream.
    QByteArray stream(4, '\0');
    for (int i = 0; i < 4; ++i)
        stream[i] = char((inflatedSize >> (8 * (3 - i))) & 0xFF);
    stream += body;
    const QByteArray inflated = qUncompress(stream);
    return textOf(inflated, comment);
}

} // namespace sorvane
