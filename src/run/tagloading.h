#pragma once

#include "names/nameparts.h"
#include "tag/tagtext.h"

#include <QString>

namespace sorvane
{

class FieldModel;

// Copies the tag into the six fields and selects title and artist where they show text, unless
// the title starts with six equal characters (a blank or filler title).
void LoadTagFields(FieldModel& model, const TagText& tag);

// The name parts loading the tag would leave in the fields, with album and year selected as
// given: the folder run's way to the same names without filling the fields for every file.
// `blank`, where given, gets the parts left out for want of text in the tag (a bit per part), so
// a refusal can name the part the tag lacks.
NameParts PartsFromTag(const TagText& tag, bool albumSelected, bool yearSelected,
                       unsigned* blank = nullptr);

// The title and artist selections that loading a tag makes: recordTitle is the title as the
// blank-title rule sees it (TagText::blankTestTitle); the texts are what the fields show of title
// and artist.
struct TitleArtistSelection {
    bool title = false;
    bool artist = false;
};
TitleArtistSelection SelectionForTag(const QString& recordTitle, const QString& titleText,
                                     const QString& artistText);

// ReadTagRecord on the path field, then LoadTagFields; on a failed read nothing is loaded.
// The tag read, TagKind::None when the file has none.
TagText ReadTag(FieldModel& model);

} // namespace sorvane
