#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <array>
#include <utility>

namespace sorvane
{

// Tags carry 8-bit text in whatever code page the tagging program used, which in practice is the
// Windows ANSI code page of its user. Linux has none, so the locale picks the page Windows would
// pick for the same language (e.g. "ru_RU.UTF-8" gives 1251).
int AnsiCodePageForLocale(const QByteArray& localeName);

// The page for this process: one chosen on the command line; else Windows' own; elsewhere from
// LC_ALL, then LC_CTYPE, then LANG, the first one set and not empty.
int SystemAnsiCodePage();

// Chooses the page for this process, before anything is decoded: over ssh or from cron the
// locale is often C. A page chosen so is used for every file, with no choice per file.
void ChooseAnsiCodePage(int codePage);
bool AnsiCodePageForced();

// Whether a page gives one character per byte: all but 932, 936, 949 and 950.
bool IsSingleBytePage(int codePage);

// "windows-1251", "shift_jis": the name people know a page by.
QString CodePageName(int codePage);

// A Windows code page by a name people give it: "windows-1251", "cp1251", "1251", "932",
// "shift_jis"; 0 for a name that is none.
int CodePageForName(const QString& name);

class TagTextDecoder
{
public:
    explicit TagTextDecoder(int codePage);

    int codePage() const { return m_codePage; }

    bool singleByte() const { return m_singleByte; }

    // Single-byte pages give exactly one character per byte, NUL and undefined bytes included.
    // Double-byte pages decode the bytes as a whole, so a field may come out shorter. Safe on
    // several threads at once.
    QString decode(QByteArrayView bytes) const;

    // On a single-byte page: the character of one byte, and whether the page leaves the byte
    // undefined (it then decodes to the control character of the same number).
    QChar character(unsigned char byte) const { return QChar(m_table[byte]); }
    bool undefined(unsigned char byte) const
    {
        return byte >= 0x80 && byte <= 0x9F && m_table[byte] == byte;
    }

    // The text in this page as a tagger writing 8-bit text would put it: each character the page
    // cannot hold becomes `replacement`, or is left out where that is 0.
    QByteArray encode(QStringView text, char replacement) const;

    // The decoder for SystemAnsiCodePage(), set up once.
    static const TagTextDecoder& system();
    // A decoder for any page CodePageForName knows, set up once.
    static const TagTextDecoder& forPage(int codePage);

private:
    // On a single-byte page: the byte that gives the character, or -1.
    int byteOf(char32_t point) const;

    int m_codePage;
    bool m_singleByte;
    std::array<char16_t, 256> m_table{};
    // The characters the bytes above ASCII give, each with the lowest byte that gives it, in the
    // characters' order: encoding looks a character up instead of trying every byte.
    std::array<std::pair<char16_t, unsigned char>, 128> m_bytesOf{};
    int m_bytesOfCount = 0;
    QByteArray m_name; // for QStringDecoder, one per thread on double-byte pages
};

} // namespace sorvane
