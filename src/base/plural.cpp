#include "base/plural.h"

namespace sorvane
{

PluralForm RussianPlural(qint64 count)
{
    const qint64 n = count < 0 ? -count : count;
    const qint64 lastTwo = n % 100, last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return PluralForm::Many;
    if (last == 1)
        return PluralForm::One;
    if (last >= 2 && last <= 4)
        return PluralForm::Few;
    return PluralForm::Many;
}

QString Plural(qint64 count, const char* one, const char* few, const char* many)
{
    const PluralForm form = RussianPlural(count);
    const char* text = form == PluralForm::One ? one : form == PluralForm::Few ? few : many;
    return QString::fromUtf8(text).arg(count);
}

} // namespace sorvane
