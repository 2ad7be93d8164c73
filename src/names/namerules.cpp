#include "names/namerules.h"

#include "names/nameparts.h"
#include "names/printablename.h"
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

// The part a name without text from the tag is refused for: the first blank one, the title first.
Outcome noText(const NameParts& parts, unsigned blankInTag)
{
    static constexpr int Order[] = {NamePart::Title, NamePart::Artist, NamePart::Album,
                                    NamePart::Year};
    for (const int part : Order) {
        const bool blank =
            parts.selected[part] && std::all_of(parts.text[part].begin(), parts.text[part].end(),
                                                [](QChar c) { return c == QLatin1Char(' '); });
        if (blank || (blankInTag & (1u << part)))
            return {&RenameFailure::NoPartText, part};
    }
    return {&RenameFailure::NoTextForName, 0};
}

} // namespace

NameVerdict DecideName(const NameParts& parts, unsigned blankInTag)
{
    NameVerdict verdict;
    const bool anySelected = std::any_of(parts.selected.begin(), parts.selected.end(),
                                         [](bool selected) { return selected; });
    if (!anySelected) {
        // Nothing ticked because the tag had nothing to tick is the tag's doing, not the user's.
        verdict.refused = blankInTag != 0 ? noText(parts, blankInTag)
                                          : Outcome{&RenameFailure::NothingSelected, 0};
        return verdict;
    }
    QString name = ComposeName(parts);
    verdict.made = name;
    // One pass over the name: a separator anywhere refuses it before anything else, then the
    // first control character; meanwhile its length in UTF-8.
    const QChar separator = QDir::separator();
    char16_t control = 0;
    qsizetype controlAt = -1;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        // Qt takes "/" as a separator on every platform, so that one is refused everywhere.
        if (c == QLatin1Char('/') || c == separator) {
            verdict.refused = {&RenameFailure::NameHasSeparator, 0};
            verdict.refusedAt = i;
            return verdict;
        }
        const char16_t u = c.unicode();
        if (controlAt < 0 && IsControlCharacter(u)) {
            controlAt = i;
            control = u;
        }
        bytes += u < 0x80              ? 1
                 : u < 0x800           ? 2
                 : c.isHighSurrogate() ? 4
                 : c.isLowSurrogate()  ? 0
                                       : 3;
    }
    if (controlAt >= 0) {
        verdict.refused = {&RenameFailure::NameHasControl, int(control)};
        verdict.refusedAt = controlAt;
        return verdict;
    }
    qsizetype stemEnd = name.size() - Extension.size();
    const QStringView stem = QStringView(name).left(stemEnd);
    // ".mp3" alone is a ticked part with an empty field: no text, before it would be hidden.
    if (onlySeparatorsAndSpaces(stem)) {
        verdict.refused = noText(parts, blankInTag);
        return verdict;
    }
    if (name.startsWith(QLatin1Char('.'))) {
        verdict.refused = {&RenameFailure::NameIsHidden, 0};
        verdict.refusedAt = 0;
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
            verdict.refused = noText(parts, blankInTag);
            return verdict;
        }
    }
    verdict.name = name;
    return verdict;
}

QString MarkedName(const NameVerdict& verdict)
{
    const QString& made = verdict.made;
    if (verdict.refusedAt < 0 || verdict.refusedAt >= made.size())
        return PrintableName(made.toUtf8());
    const qsizetype at = verdict.refusedAt;
    const qsizetype width = made.at(at).isHighSurrogate() && at + 1 < made.size() ? 2 : 1;
    return PrintableName(made.left(at).toUtf8()) + QStringLiteral("⟦") +
           PrintableName(made.mid(at, width).toUtf8()) + QStringLiteral("⟧") +
           PrintableName(made.mid(at + width).toUtf8());
}

} // namespace sorvane
