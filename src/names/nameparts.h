#pragma once

#include <QString>

#include <array>

namespace sorvane
{

// The four parts a name can be made of, numbered as the window's selections are: title, artist,
// album, year.
namespace NamePart
{
enum Index { Title = 0, Artist = 1, Album = 2, Year = 3, Count = 4 };
}

// The parts with their selections.
struct NameParts {
    std::array<QString, NamePart::Count> text{};
    std::array<bool, NamePart::Count> selected{};
};

// The selected parts in the order artist, album, year, title, joined by "_", then ".mp3".
// With nothing selected the result is "mp3", too short to be a name.
QString ComposeName(const NameParts& parts);

} // namespace sorvane
