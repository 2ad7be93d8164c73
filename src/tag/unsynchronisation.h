#pragma once

#include <QtGlobal>

namespace sorvane
{

// Unsynchronisation (ID3v2.3 section 5, ID3v2.4 section 6.1) puts a zero byte after every 0xFF
// that could look like an MPEG sync to a player; undone here in place. The new size.
qsizetype RemoveUnsynchronisation(char* bytes, qsizetype size);

} // namespace sorvane
