#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <array>

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
// locale is often C.
void ChooseAnsiCodePage(int codePage);

// A Windows code page by a name people give it: "windows-1251", "cp1251", "1251", "932",
// "shift_jis"; 0 for a name that is none.
int CodePageForName(const QString& name);

class TagTextDecoder
{
public:
    explicit TagTextDecoder(int codePage);

    int codePage() const { return m_codePage; }

    // Single-byte pages give exactly one character per byte, NUL and undefined bytes included.
    // Double-byte pages decode the bytes as a whole, so a field may come out shorter.
    QString decode(QByteArrayView bytes) const;

    // The decoder for SystemAnsiCodePage(), set up once.
    static const TagTextDecoder& system();

private:
    int m_codePage;
    bool m_singleByte;
    std::array<char16_t, 256> m_table{};
    mutable QStringDecoder m_multiByte;
};

} // namespace sorvane
