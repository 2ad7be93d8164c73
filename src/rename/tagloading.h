#pragma once

#include <QString>

namespace sorvane
{

class FieldModel;

// Copies Tag into the six fields and selects title and artist where they show text, unless the
// record's title starts with six equal characters (a blank or filler title). The folder run takes
// the same rule another way, without the fields (partsFromTag in folderrun.cpp); SelectionForTag
// is the part both share, and tst_oneroute holds the two routes to the same names.
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
// Whether the file's last 128 bytes are an ID3v1 tag.
bool ReadTag(FieldModel& model);

} // namespace sorvane
