#include "names/unsafecharacters.h"

#include "names/renamefailures.h"

#include <cerrno>

namespace sorvane
{

QChar FirstUnsafeCharacter(QStringView text)
{
    // Every name of a run is looked through: a test per character, no search.
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '/':
        case '\\':
        case '|':
        case ':':
        case '?':
        case '*':
        case '"':
        case '<':
        case '>':
            return c;
        default:
            break;
        }
    }
    return QChar();
}

bool HasUnsafeCharacter(QStringView text)
{
    return !FirstUnsafeCharacter(text).isNull();
}

namespace
{

QString replaced(const QString& part, bool separatorOnly)
{
    // A part without such a character is left as it is, spaces and all.
    if (separatorOnly ? !part.contains(QLatin1Char('/')) : !HasUnsafeCharacter(part))
        return part;
    QString out;
    out.reserve(part.size() + 4);
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QChar c = part.at(i);
        if (separatorOnly && c != QLatin1Char('/')) {
            out += c;
            continue;
        }
        switch (c.unicode()) {
        case '/':
        case '\\':
        case '|':
            out += QLatin1Char('-');
            break;
        case ':':
            if (i + 1 < part.size() && part.at(i + 1) == QLatin1Char(' '))
                out += QLatin1String(" -"); // the space after it stays
            else
                out += QLatin1Char('-');
            break;
        case '?':
        case '*':
            break;
        case '"':
            out += QLatin1Char('\'');
            break;
        case '<':
            out += QLatin1Char('(');
            break;
        case '>':
            out += QLatin1Char(')');
            break;
        default:
            out += c;
        }
    }
    // Two spaces in a row, as "A ? B" leaves them, become one; none stays at the end.
    QString tidy;
    tidy.reserve(out.size());
    for (const QChar c : std::as_const(out)) {
        if (c == QLatin1Char(' ') && tidy.endsWith(QLatin1Char(' ')))
            continue;
        tidy += c;
    }
    while (tidy.endsWith(QLatin1Char(' ')))
        tidy.chop(1);
    return tidy;
}

} // namespace

QString ReplaceUnsafe(const QString& part)
{
    return replaced(part, false);
}

NameParts ReplaceUnsafe(const NameParts& parts)
{
    NameParts out = parts;
    for (QString& text : out.text)
        text = replaced(text, false);
    return out;
}

NameParts ReplaceSeparators(const NameParts& parts)
{
    NameParts out = parts;
    for (QString& text : out.text)
        text = replaced(text, true);
    return out;
}

bool RefusedForCharacter(const Outcome& outcome, const QString& name, bool sourceStillThere)
{
    if (outcome.failure == &RenameFailure::NameHasSeparator)
        return true;
    if (outcome.failure != &RenameFailure::RenameFailed || !HasUnsafeCharacter(name))
        return false;
    return outcome.error == EINVAL || outcome.error == EPERM ||
           (outcome.error == ENOENT && sourceStillThere);
}

} // namespace sorvane
