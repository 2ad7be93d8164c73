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

// The page for this process: Windows' own; elsewhere from LC_ALL, then LC_CTYPE, then LANG, the
// first one set and not empty.
int SystemAnsiCodePage();

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
