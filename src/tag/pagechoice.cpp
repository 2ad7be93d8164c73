#include "tag/pagechoice.h"

#include "tag/codepage.h"

#include <algorithm>

namespace sorvane
{

namespace
{

// The one other page tried for a locale's page; 0 for none.
int alternativeTo(int localePage)
{
    switch (localePage) {
    case 1251: // Cyrillic
    case 1253: // Greek
        return 1252;
    case 1252: // Western, and C
        return 1251;
    default:
        return 0;
    }
}

struct Verdict {
    bool wrongWord = false;
    bool undefinedByte = false;
};

bool isAsciiLetter(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

// Reads the bytes in `page` word by word. Words end at ASCII characters that are not letters
// only: a byte that one page reads as a sign ("і" of windows-1251 is "³" in windows-1252) must
// not cut a word in two.
Verdict judge(const TagTextDecoder& page, QByteArrayView bytes)
{
    Verdict verdict;
    const bool western = page.codePage() == 1252;
    QChar::Script script = QChar::Script_Unknown;
    int highLetters = 0;
    bool asciiLetter = false;
    const auto endWord = [&] {
        if (western && highLetters >= 3 && !asciiLetter)
            verdict.wrongWord = true;
        script = QChar::Script_Unknown;
        highLetters = 0;
        asciiLetter = false;
    };
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        verdict.undefinedByte = verdict.undefinedByte || page.undefined(byte);
        if (byte < 0x80 && !isAsciiLetter(byte)) {
            endWord();
            continue;
        }
        const QChar character = page.character(byte);
        if (!character.isLetter())
            continue;
        const QChar::Script own = character.script();
        if (own != QChar::Script_Common && own != QChar::Script_Inherited) {
            if (script == QChar::Script_Unknown)
                script = own;
            else if (script != own)
                verdict.wrongWord = true;
        }
        highLetters += byte >= 0xC0 ? 1 : 0;
        asciiLetter = asciiLetter || byte < 0x80;
    }
    endWord();
    return verdict;
}

Verdict judgeAll(const TagTextDecoder& page, const EightBitTexts& texts)
{
    Verdict all;
    for (const QByteArrayView text : texts) {
        const Verdict one = judge(page, text);
        all.wrongWord = all.wrongWord || one.wrongWord;
        all.undefinedByte = all.undefinedByte || one.undefinedByte;
    }
    return all;
}

} // namespace

int ChooseCodePage(int localePage, const EightBitTexts& texts, bool choose)
{
    const int other = alternativeTo(localePage);
    if (!choose || other == 0)
        return localePage;
    // ASCII reads alike in every page: most files end here.
    const bool eightBit = std::any_of(texts.begin(), texts.end(), [](QByteArrayView text) {
        return std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
    });
    if (!eightBit || !judgeAll(TagTextDecoder::forPage(localePage), texts).wrongWord)
        return localePage;
    const Verdict verdict = judgeAll(TagTextDecoder::forPage(other), texts);
    return verdict.wrongWord || verdict.undefinedByte ? localePage : other;
}

} // namespace sorvane
