#pragma once

#include "tag/tagtext.h"

#include <QString>

namespace sorvane
{

class FieldModel;

// Copies the tag into the six fields and selects title and artist where they show text, unless
// the title starts with six equal characters (a blank or filler title). The folder run takes
// the same rule another way, without the fields (partsFromTag in folderrun.cpp); SelectionForTag
// is the part both share, and tst_oneroute holds the two routes to the same names.
void LoadTagFields(FieldModel& model, const TagText& tag);

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
