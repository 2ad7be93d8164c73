#pragma once

#include "base/controlcharacters.h"
#include "base/error.h"

#include <QString>

namespace sorvane
{

struct NameParts;

// The longest name Linux file systems take: 255 bytes (vfat, exFAT and ntfs-3g count 255 UTF-16
// units, which 255 bytes of UTF-8 never exceed).
constexpr int LongestName = 255;

struct NameVerdict {
    Outcome refused; // why the name may not be made
    QString name;    // the name to make, shortened where it was too long
    bool shortened = false;
    // The name as composed, refused or not, and where refused for a character, its index there.
    QString made;
    qsizetype refusedAt = -1;

    bool ok() const { return refused.ok(); }
};

// Whether the name composed from the parts may become a file's name, and which name: every
// rename, dry run and report asks here. Refused: nothing selected; a path separator; a control
// character; no text from the tag (nothing before ".mp3" but "_" and spaces); a name beginning
// with "." (".mp3" alone included). A name over 255 bytes loses bytes from the end of its last
// parts (the title first when it is ticked), at a character's boundary, with no space or "_"
// left at the cut.
// Where the name would have no text from the tag, the reason names the part the tag lacks: the
// first, in the order title, artist, album, year, that is selected and blank, or that is in
// `blankInTag` (a bit per NamePart index: a part left out because the tag had no text for it,
// as the blank-title rule leaves out the title).
NameVerdict DecideName(const NameParts& parts, unsigned blankInTag = 0);

// The composed name of a verdict for the details: control characters as \xHH, and the character
// the name was refused for between "⟦" and "⟧".
QString MarkedName(const NameVerdict& verdict);

} // namespace sorvane
