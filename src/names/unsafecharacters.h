#pragma once

#include "base/error.h"
#include "names/nameparts.h"

#include <QString>

namespace sorvane
{

// The characters a drive may refuse in a name, and the one table Sorvane replaces them by when
// the user asks, the same on every drive: "/", "\" and "|" become "-"; ": " becomes " - " and any
// other ":" "-"; "?" and "*" go; '"' becomes "'"; "<" and ">" become "(" and ")". Then, in a part
// that held one, spaces at its end go and two spaces in a row become one; a part without any is
// left as it is. The result passes the name rules as any name does.
QString ReplaceUnsafe(const QString& part);
NameParts ReplaceUnsafe(const NameParts& parts);
// The same for "/" alone, which every drive refuses, leaving the other characters.
NameParts ReplaceSeparators(const NameParts& parts);

// Whether the text holds a character of the table.
bool HasUnsafeCharacter(QStringView text);
// The first such character, or a null QChar.
QChar FirstUnsafeCharacter(QStringView text);

// Whether a name was refused for a character of the table: for its "/" (the name rules), or by
// the drive (EINVAL, EPERM, or ENOENT while the file itself is still there) for a name holding
// one of the others.
bool RefusedForCharacter(const Outcome& outcome, const QString& name, bool sourceStillThere);

} // namespace sorvane
