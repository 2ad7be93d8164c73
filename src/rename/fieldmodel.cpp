#include "rename/fieldmodel.h"

namespace sorvane
{

QString FieldModel::upToNul(const QString& text)
{
    const auto nul = text.indexOf(QChar::Null);
    return nul < 0 ? text : text.left(nul);
}

} // namespace sorvane
