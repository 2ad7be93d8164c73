#pragma once

#include <QByteArrayView>
#include <QString>

namespace sorvane
{

class TagTextDecoder;

// Whether an ID3v1 field is the copy a tagger made of another tag's text as well as the field
// could hold it, so that the other tag's text is the better one. Taggers that write both tags
// write the ID3v1 copy in one 8-bit page, the user's or Latin-1: a character the page cannot hold
// becomes "?" or is left out, and the text is cut at the field's width (30 bytes; 28 for a
// comment beside a track number), a trailing space included. So the other text is encoded both
// ways in the file's page and in Latin-1 (windows-1252),
// cut to `width`, and compared with the field, trailing NULs and spaces removed on both sides;
// `firstValue` (the first of several values) is compared too, as some copy only that. A field
// that holds control characters where the other text has none is a broken copy as well. An empty
// other text never replaces a field.
bool IsLossyCopy(QByteArrayView field, int width, const QString& other, const QString& firstValue,
                 const TagTextDecoder& page);

} // namespace sorvane
