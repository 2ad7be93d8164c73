#pragma once

#include "base/error.h"
#include "tag/codepage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace sorvane
{

// The 128-byte ID3v1 record as it lies at the very end of an MP3 file: no alignment, text fields
// fixed-width and not terminated.
namespace TagLayout
{
constexpr int MarkerOffset = 0, MarkerSize = 3;
constexpr int TitleOffset = 3, TitleSize = 30;
constexpr int ArtistOffset = 33, ArtistSize = 30;
constexpr int AlbumOffset = 63, AlbumSize = 30;
constexpr int YearOffset = 93, YearSize = 4;
constexpr int CommentOffset = 97, CommentSize = 30;
constexpr int GenreOffset = 127, GenreSize = 1;
constexpr int RecordSize = 128;
static_assert(MarkerSize + TitleSize + ArtistSize + AlbumSize + YearSize + CommentSize +
                  GenreSize ==
              RecordSize);
static_assert(GenreOffset + GenreSize == RecordSize);
} // namespace TagLayout

// Text fields keep every byte as a character, zero bytes as NUL and padding as spaces: what shows
// of them is decided when they are loaded into the window.
struct ID3v1Tag {
    ID3v1Tag();

    QString Marker;
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    quint8 Genre = 0;
};

// The one record the program shares; every successful read replaces all of it.
extern ID3v1Tag Tag;

// Whether a record is an ID3v1 tag at all: it begins with the three bytes "TAG". Files without
// one end in audio or another kind of tag, which must never become a name.
bool HasTagMarker(QByteArrayView record);

// Interprets a 128-byte record; the marker is taken as it is, never checked.
ID3v1Tag ParseTagRecord(QByteArrayView record, const TagTextDecoder& decoder);

} // namespace sorvane
