#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <string>

namespace sorvane
{

// A file's name (its own bytes) as text that holds no control character and hides no byte: each
// control character (IsControlCharacter) and each byte that is not UTF-8 shows as \xHH, one per
// byte. With `quoted`, backslash and double quote show as \\ and \", so the name can stand
// between double quotes on a terminal and no name can fake a separator.
QString PrintableName(QByteArrayView name, bool quoted = false);
// The same as UTF-8 bytes, appended.
void AppendPrintable(QByteArray& out, QByteArrayView name, bool quoted);
void AppendPrintable(std::string& out, QByteArrayView name, bool quoted);

// The bytes of a name printed with `quoted`, exactly: \\, \" and \xHH undone. False where the
// text is not such a name.
bool ParsePrintableName(QStringView text, QByteArray& name);

} // namespace sorvane
