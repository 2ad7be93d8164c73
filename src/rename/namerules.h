#pragma once

#include "base/error.h"

#include <QString>

namespace sorvane
{

struct NameParts;

// The longest name Linux file systems take: 255 bytes (vfat, exFAT and ntfs-3g count 255 UTF-16
// units, which 255 bytes of UTF-8 never exceed).
constexpr int LongestName = 255;

// A control character by the one definition everything that makes or prints a name uses: C0
// (U+0000 to U+001F), DEL (U+007F) and C1 (U+0080 to U+009F), which bytes a code page leaves
// undefined decode to and which terminals take as the start of escape sequences.
constexpr bool IsControlCharacter(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

struct NameVerdict {
    Outcome refused; // why the name may not be made
    QString name;    // the name to make, shortened where it was too long
    bool shortened = false;

    bool ok() const { return refused.ok(); }
};

// Whether the name composed from the parts may become a file's name, and which name: every
// rename, dry run and report asks here. Refused: nothing selected; a path separator; a control
// character; no text from the tag (nothing before ".mp3" but "_" and spaces); a name beginning
// with "." (".mp3" alone included). A name over 255 bytes loses bytes from the end of its last
// parts (the title first when it is ticked), at a character's boundary, with no space or "_"
// left at the cut.
NameVerdict DecideName(const NameParts& parts);

} // namespace sorvane
