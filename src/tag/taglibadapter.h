#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace sorvane
{

class TagTextDecoder;

// The fields TagLib finds in an ID3v2 or APEv2 tag, as the tags hold them: title, artist,
// album, year, comment and genre, in that order. The genre is the first entry of the genre frame
// or item, number or text; the year the whole date.
struct TagLibFields {
    std::array<QString, 6> text;
    int version = 0; // ID3v2's major version: 2, 3 or 4
};

// Parses bytes already read, never a file: TagLib reads a whole tag at once and looks for it in
// ways a folder run over a share cannot pay for. On one thread only: TagLib 1.13 sets up its
// statics lazily. False where the bytes hold no tag TagLib can read.
// ID3v2 text in frames marked ISO-8859-1 is decoded with `decoder`, the code page ID3v1 text is
// read with: old Windows taggers wrote their own code page there.
bool ParseID3v2(const QByteArray& tag, const TagTextDecoder& decoder, TagLibFields& fields);
bool ParseApe(const QByteArray& tag, TagLibFields& fields);

// Puts Sorvane's handler for ID3v2's Latin-1 text in TagLib's place. Called at start-up, and by
// the first parse should start-up not have.
void InstallTagLibStringHandlers();

} // namespace sorvane
