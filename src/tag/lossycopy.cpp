#include "tag/lossycopy.h"

#include "base/controlcharacters.h"
#include "tag/codepage.h"

#include <algorithm>
#include <cstring>

namespace sorvane
{

namespace
{

QByteArrayView withoutPadding(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return bytes;
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
    // In the file's page, or in Latin-1, which Unicode-era taggers write whatever the user's
    // page: a Cyrillic title that windows-1251 could hold comes out as "?" all the same.
    const TagTextDecoder& latin1 = TagTextDecoder::forPage(1252);
    const int pages = page.codePage() == 1252 ? 1 : 2;
    for (int form = 0; form < 2 * pages; ++form) {
        const TagTextDecoder* in = form < 2 ? &page : &latin1;
        const char replacement = form % 2 == 0 ? '?' : '\0';
        const QByteArray encoded = in->encode(other, replacement);
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
