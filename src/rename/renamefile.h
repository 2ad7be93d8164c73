#pragma once

#include <QString>

namespace sorvane
{

class FieldModel;

// The selected parts in the order artist, album, year, title, joined by "_", then ".mp3".
// With nothing selected the result is "mp3", too short to be a name.
QString ComposeName(const FieldModel& model);

// Folder and name joined by the platform's separator; a folder that already ends with one gets
// no second, so both spellings name the same file.
QString JoinPath(const QString& folder, const QString& name);

enum class RenameOutcome {
    Renamed,
    AlreadyNamed,    // the file already has the composed name: nothing to do
    NothingSelected, // no part selected: nothing renamed, FailCount grew by one
};

// Renames the file of the path field to the composed name inside FolderPath. Never replaces a
// file, never moves one out of FolderPath on account of tag text. Throws Error when refused.
RenameOutcome RenameFile(FieldModel& model);

} // namespace sorvane
