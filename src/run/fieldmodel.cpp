#include "run/fieldmodel.h"

namespace sorvane
{

QString FieldModel::upToNul(QString text)
{
    if (const auto nul = text.indexOf(QChar::Null); nul >= 0)
        text.truncate(nul);
    return text;
}

} // namespace sorvane
