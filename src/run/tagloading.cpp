#include "run/tagloading.h"

#include "run/fieldmodel.h"

namespace sorvane
{

namespace
{

// Taggers fill an unused title with NULs, spaces or a run of one character; six alike at the
// start is taken as no title at all. Tested on the record itself, NULs included.
bool titleLooksBlank(const QString& title)
{
    const auto count = qMin<qsizetype>(6, title.size());
    for (qsizetype k = 1; k < count; ++k) {
        if (title.at(k) != title.at(k - 1))
            return false;
    }
    return true;
}

} // namespace

void LoadTagFields(FieldModel& model, const TagText& tag)
{
    for (int field = 0; field < FieldModel::TextCount; ++field)
        model.setText1(field, tag.text[field]);
    const TitleArtistSelection selection = SelectionForTag(
        tag.blankTestTitle, model.Text1(FieldModel::Title), model.Text1(FieldModel::Artist));
    model.setCheck1(FieldModel::Title, selection.title ? 1 : 0);
    model.setCheck1(FieldModel::Artist, selection.artist ? 1 : 0);
}

NameParts PartsFromTag(const TagText& tag, bool albumSelected, bool yearSelected, unsigned* blank)
{
    // What the fields would show: each text up to its first NUL, as FieldModel stores it.
    const auto text = [&tag](TagField::Index field) {
        return FieldModel::upToNul(tag.text[field]);
    };
    NameParts parts;
    parts.text[NamePart::Title] = text(TagField::Title);
    parts.text[NamePart::Artist] = text(TagField::Artist);
    const TitleArtistSelection selection = SelectionForTag(
        tag.blankTestTitle, parts.text[NamePart::Title], parts.text[NamePart::Artist]);
    parts.selected[NamePart::Title] = selection.title;
    parts.selected[NamePart::Artist] = selection.artist;
    if (blank)
        *blank = (selection.title ? 0u : 1u << NamePart::Title) |
                 (parts.text[NamePart::Artist].isEmpty() ? 1u << NamePart::Artist : 0u);
    parts.selected[NamePart::Album] = albumSelected;
    parts.selected[NamePart::Year] = yearSelected;
    if (albumSelected)
        parts.text[NamePart::Album] = text(TagField::Album);
    if (yearSelected)
        parts.text[NamePart::Year] = text(TagField::Year);
    return parts;
}

TitleArtistSelection SelectionForTag(const QString& recordTitle, const QString& titleText,
                                     const QString& artistText)
{
    if (titleLooksBlank(recordTitle))
        return {};
    return {!titleText.isEmpty(), !artistText.isEmpty()};
}

TagText ReadTag(FieldModel& model)
{
    const TagText tag = ReadTagRecord(model.txtFile());
    LoadTagFields(model, tag);
    return tag;
}

} // namespace sorvane
