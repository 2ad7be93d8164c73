#pragma once

#include <QString>

namespace sorvane
{

constexpr int GenreCount = 147;

// The name for a tag's genre byte, or an empty string for 147 and above.
QString GenreName(quint8 genre);

} // namespace sorvane
