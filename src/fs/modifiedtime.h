#pragma once

#include <QtGlobal>

namespace sorvane
{

class OpenFolder;

// Puts back the modification time a file had before a rename, on a drive that sets it to "now"
// at every rename (fusefat), so that a rename changes the name alone. A drive the table does not
// know is checked at its first rename in a folder, and left alone from then on if it kept the
// time. `setsTime`, where given, is told whether the drive changes a file's time at a rename, as
// far as is known. 0, or the system's code where the time could not be put back.
int KeepModifiedTime(const OpenFolder& folder, const char* name, qint64 before,
                     bool* setsTime = nullptr);

// Sets the file's modification time (and its access time with it) to `time`, ns since the epoch.
int PutModifiedTime(int dir, const char* name, qint64 time);

// Whether renames in the folder are known to set a file's time: from the table, or seen.
bool RenamesSetTime(const OpenFolder& folder);

} // namespace sorvane
