#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Test files are made from bytes the test states, so the reader sees exactly what the test says.
namespace testing
{

struct V1Tag {
    QByteArray title{};
    QByteArray artist{};
    QByteArray album{};
    QByteArray year{};
    QByteArray comment{};
    unsigned char genre = 12;
    QByteArray marker = "TAG";
};

// One field padded with zero bytes (or cut) to its width.
inline QByteArray fixed(const QByteArray& text, int size)
{
    QByteArray field = text.left(size);
    field.append(size - field.size(), '\0');
    return field;
}

inline QByteArray tagRecord(const V1Tag& tag)
{
    QByteArray record = fixed(tag.marker, 3) + fixed(tag.title, 30) + fixed(tag.artist, 30) +
                        fixed(tag.album, 30) + fixed(tag.year, 4) + fixed(tag.comment, 30);
    record.append(static_cast<char>(tag.genre));
    return record;
}

// Some bytes standing for audio, then the tag.
inline QByteArray mp3Bytes(const V1Tag& tag, int audioSize = 2000, char audioByte = '\xFB')
{
    return QByteArray(audioSize, audioByte) + tagRecord(tag);
}

// ID3v2 and APEv2 tags, byte by byte as taggers write them.
struct Frame {
    QByteArray id;   // four characters, three for ID3v2.2
    QByteArray body; // text frames: the encoding byte, then the text
};

inline QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        out[bytes - 1 - i] = char((value >> (8 * i)) & 0xFF);
    return out;
}

inline QByteArray synchsafe(quint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[3 - i] = char((value >> (7 * i)) & 0x7F);
    return out;
}

inline QByteArray littleEndian32(quint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((value >> (8 * i)) & 0xFF);
    return out;
}

// Encodings as ID3v2 names them: 0 Latin-1 (any 8-bit page in practice), 1 UTF-16 with a BOM,
// 2 UTF-16BE, 3 UTF-8.
inline QByteArray text(char encoding, const QString& value)
{
    QByteArray bytes(1, encoding);
    if (encoding == 1) {
        bytes += "\xFF\xFE";
        for (const QChar c : value)
            bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
    } else if (encoding == 2) {
        for (const QChar c : value)
            bytes += char(c.unicode() >> 8), bytes += char(c.unicode() & 0xFF);
    } else if (encoding == 3) {
        bytes += value.toUtf8();
    } else {
        bytes += value.toLatin1();
    }
    return bytes;
}

inline QByteArray id3v2Tag(int major, const QList<Frame>& frames, int padding = 0)
{
    QByteArray body;
    for (const Frame& frame : frames) {
        const auto size = quint32(frame.body.size());
        if (major == 2)
            body += frame.id + bigEndian(size, 3);
        else
            body += frame.id + (major == 4 ? synchsafe(size) : bigEndian(size, 4)) +
                    QByteArray(2, '\0');
        body += frame.body;
    }
    body += QByteArray(padding, '\0');
    return "ID3" + QByteArray(1, char(major)) + QByteArray(2, '\0') +
           synchsafe(quint32(body.size())) + body;
}

// Items, then the 32-byte footer (no header), as most taggers write APEv2.
inline QByteArray apeTag(const QList<QPair<QByteArray, QByteArray>>& items)
{
    QByteArray body;
    for (const auto& [key, value] : items)
        body += littleEndian32(quint32(value.size())) + littleEndian32(0) + key + '\0' + value;
    return body + "APETAGEX" + littleEndian32(2000) + littleEndian32(quint32(body.size() + 32)) +
           littleEndian32(quint32(items.size())) + littleEndian32(0) + QByteArray(8, '\0');
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace testing
