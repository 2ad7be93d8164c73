#include "tag/lossycopy.h"

#include "tag/codepage.h"
#include "tag/controlcharacter.h"

#include <algorithm>
#include <cstring>

namespace sorvane
{

namespace
{

QByteArrayView withoutPadding(QByteArrayView bytes)
{
    if (const void* nul = std::memchr(bytes.data(), '\0', std::size_t(bytes.size())))
        bytes = bytes.first(static_cast<const char*>(nul) - bytes.data());
    while (!bytes.isEmpty() && bytes.back() == ' ')
        bytes.chop(1);
    return bytes;
}

bool hasControl(QStringView text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() != 0 && IsControlCharacter(c.unicode()); });
}

bool copies(QByteArrayView field, int width, const QString& other, const TagTextDecoder& page)
{
    for (const char replacement : {'?', '\0'}) {
        const QByteArray encoded = page.encode(other, replacement);
        if (withoutPadding(
                QByteArrayView(encoded).first(std::min<qsizetype>(width, encoded.size()))) == field)
            return true;
    }
    return false;
}

} // namespace

bool IsLossyCopy(QByteArrayView field, int width, const QString& other, const QString& firstValue,
                 const TagTextDecoder& page)
{
    if (other.isEmpty())
        return false;
    const QByteArrayView shown =
        withoutPadding(field.first(std::min<qsizetype>(width, field.size())));
    if (copies(shown, width, other, page) ||
        (firstValue != other && !firstValue.isEmpty() && copies(shown, width, firstValue, page)))
        return true;
    return hasControl(page.decode(shown)) && !hasControl(other);
}

} // namespace sorvane
