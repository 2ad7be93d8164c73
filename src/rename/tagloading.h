#pragma once

#include <QString>

namespace sorvane
{

class FieldModel;

// Copies Tag into the six fields and selects title and artist where they show text, unless the
// record's title starts with six equal characters (a blank or filler title).
void LoadTagFields(FieldModel& model);

// The title and artist selections that loading a tag makes: recordTitle is the record's whole
// title field, NULs included; the texts are what the fields show of title and artist.
struct TitleArtistSelection {
    bool title = false;
    bool artist = false;
};
TitleArtistSelection SelectionForTag(const QString& recordTitle, const QString& titleText,
                                     const QString& artistText);

// ReadTagRecord on the path field, then LoadTagFields; on a failed read nothing is loaded.
void ReadTag(FieldModel& model);

} // namespace sorvane
