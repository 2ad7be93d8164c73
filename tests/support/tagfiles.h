#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Test files are made from bytes the test states, so the reader sees exactly what the test says.
namespace testing
{

struct TagBytes {
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

inline QByteArray tagRecord(const TagBytes& tag)
{
    QByteArray record = fixed(tag.marker, 3) + fixed(tag.title, 30) + fixed(tag.artist, 30) +
                        fixed(tag.album, 30) + fixed(tag.year, 4) + fixed(tag.comment, 30);
    record.append(static_cast<char>(tag.genre));
    return record;
}

// Some bytes standing for audio, then the tag.
inline QByteArray mp3Bytes(const TagBytes& tag, int audioSize = 2000, char audioByte = '\xFB')
{
    return QByteArray(audioSize, audioByte) + tagRecord(tag);
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
