#include "names/namerules.h"

#include "names/nameparts.h"
#include "names/renamefailures.h"

#include <QDir>

namespace sorvane
{

namespace
{

const QLatin1String Extension(".mp3");

bool onlySeparatorsAndSpaces(QStringView stem)
{
    return std::all_of(stem.begin(), stem.end(),
                       [](QChar c) { return c == QLatin1Char('_') || c == QLatin1Char(' '); });
}

// UTF-8 bytes of a code point.
int utf8Size(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

} // namespace

NameVerdict DecideName(const NameParts& parts)
{
    NameVerdict verdict;
    const bool anySelected = std::any_of(parts.selected.begin(), parts.selected.end(),
                                         [](bool selected) { return selected; });
    if (!anySelected) {
        verdict.refused = {&RenameFailure::NothingSelected, 0};
        return verdict;
    }
    QString name = ComposeName(parts);
    // One pass over the name: a separator anywhere refuses it before anything else, then the
    // first control character; meanwhile its length in UTF-8.
    const QChar separator = QDir::separator();
    char16_t control = 0;
    bool hasControl = false;
    qsizetype bytes = 0;
    for (const QChar c : std::as_const(name)) {
        // Qt takes "/" as a separator on every platform, so that one is refused everywhere.
        if (c == QLatin1Char('/') || c == separator) {
            verdict.refused = {&RenameFailure::NameHasSeparator, 0};
            return verdict;
        }
        const char16_t u = c.unicode();
        if (!hasControl && IsControlCharacter(u)) {
            hasControl = true;
            control = u;
        }
        bytes += u < 0x80              ? 1
                 : u < 0x800           ? 2
                 : c.isHighSurrogate() ? 4
                 : c.isLowSurrogate()  ? 0
                                       : 3;
    }
    if (hasControl) {
        verdict.refused = {&RenameFailure::NameHasControl, int(control)};
        return verdict;
    }
    qsizetype stemEnd = name.size() - Extension.size();
    const QStringView stem = QStringView(name).left(stemEnd);
    if (!stem.isEmpty() && onlySeparatorsAndSpaces(stem)) {
        verdict.refused = {&RenameFailure::NoTextForName, 0};
        return verdict;
    }
    if (name.startsWith(QLatin1Char('.'))) {
        verdict.refused = {&RenameFailure::NameIsHidden, 0};
        return verdict;
    }
    if (bytes > LongestName) {
        // The end of the stem is the last part: cut there, a whole character at a time.
        while (bytes > LongestName && stemEnd > 0) {
            qsizetype start = stemEnd - 1;
            if (name.at(start).isLowSurrogate() && start > 0)
                --start;
            bytes -= utf8Size(QStringView(name).mid(start, stemEnd - start).toUcs4().front());
            stemEnd = start;
        }
        while (stemEnd > 0 && (name.at(stemEnd - 1) == QLatin1Char(' ') ||
                               name.at(stemEnd - 1) == QLatin1Char('_')))
            --stemEnd;
        name = name.left(stemEnd) + Extension;
        verdict.shortened = true;
        if (stemEnd == 0 || onlySeparatorsAndSpaces(QStringView(name).left(stemEnd))) {
            verdict.refused = {&RenameFailure::NoTextForName, 0};
            return verdict;
        }
    }
    verdict.name = name;
    return verdict;
}

} // namespace sorvane
