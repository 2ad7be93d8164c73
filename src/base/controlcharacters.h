#pragma once

namespace sorvane
{

// A control character by the one definition everything that reads, makes or prints a name uses:
// C0 (U+0000 to U+001F), DEL (U+007F) and C1 (U+0080 to U+009F), which bytes a code page leaves
// undefined decode to and which terminals take as the start of escape sequences.
constexpr bool IsControlCharacter(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace sorvane
