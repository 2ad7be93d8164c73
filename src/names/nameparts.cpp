#include "names/nameparts.h"

namespace sorvane
{

QString ComposeName(const NameParts& parts)
{
    static constexpr int Order[] = {NamePart::Artist, NamePart::Album, NamePart::Year,
                                    NamePart::Title};
    const QLatin1String extension(".mp3");
    // Sized first, so the name takes one allocation: the folder run composes one for every file.
    qsizetype length = extension.size();
    for (const int part : Order)
        length += parts.selected[part] ? 1 + parts.text[part].size() : 0;
    QString name;
    name.reserve(length);
    for (const int part : Order) {
        if (parts.selected[part])
            name.append(QLatin1Char('_')).append(parts.text[part]);
    }
    name.append(extension);
    return name.remove(0, 1); // the first "_", in place
}

} // namespace sorvane
