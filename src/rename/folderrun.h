#pragma once

#include <QString>

#include <vector>

namespace sorvane
{

class FieldModel;

struct ListedFile {
    QString name;
    // False when the name's bytes do not survive the trip through text (not valid in the file
    // name encoding): such a file cannot be opened by its text name and is left as it is.
    bool representable = true;
};

// A snapshot of the regular files in the folder whose names end in ".mp3" in any letter case,
// hidden (dot) files, folders, links and everything else left out, sorted by name. Taken before
// the first rename, so a renamed file never turns up again and directory order does not matter.
// Throws Error when the folder cannot be listed.
std::vector<ListedFile> ListMp3Files(const QString& folder);

// Renames every listed MP3 file of FolderPath from its own tag, using the album and year
// selections as they stand. A file that cannot be read or renamed counts one in FailCount and
// the run goes on. Throws Error, having touched nothing, when the folder cannot be listed.
// Returns FailCount.
int RenameFolder(FieldModel& model);

} // namespace sorvane
