#pragma once

#include <QByteArrayView>

#include <array>

namespace sorvane
{

// The 8-bit texts of one file that are read as names: its ID3v1 fields and the ID3v2 frames
// marked ISO-8859-1. Views into bytes that outlive the choice.
class EightBitTexts
{
public:
    void add(QByteArrayView text)
    {
        if (m_count < int(m_texts.size()) && !text.isEmpty())
            m_texts[std::size_t(m_count++)] = text;
    }
    const QByteArrayView* begin() const { return m_texts.data(); }
    const QByteArrayView* end() const { return m_texts.data() + m_count; }

private:
    std::array<QByteArrayView, 24> m_texts{};
    int m_count = 0;
};

// The page a file's 8-bit text is read with. Collections hold files tagged on Russian and on
// Western Windows side by side, so the page is chosen per file: the locale's, unless that page
// makes a word look wrong and the one other page tried for it (windows-1252 for a Cyrillic or
// Greek locale, windows-1251 for a Western one) makes none look wrong and leaves no byte
// undefined. Words end at ASCII spaces, digits and signs. A word looks wrong when it mixes letters
// of two scripts ("Bjцrk"), or, read as
// windows-1252, has three or more letters from bytes 0xC0 to 0xFF and no ASCII letter, which is
// how windows-1251 reads as Latin-1 ("Ãðóïïà"). Double-byte pages, other locales, and a page
// forced on the command line are never switched.
int ChooseCodePage(int localePage, const EightBitTexts& texts, bool choose = true);

} // namespace sorvane
