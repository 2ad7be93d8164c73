#pragma once

#include <QByteArray>

namespace sorvane
{

// What a drive keeps of a file across a rename and its next mount, by the kind of file system the
// folder is on (statfs, and for FUSE drives the type /proc/self/mountinfo names). Only what is
// known is claimed: a drive not in the table keeps nothing as far as Sorvane is concerned, and a
// file there is known again by its size and the digest of its bytes alone.
struct DriveTraits {
    QByteArray type;          // "ext4", "fuse.sshfs", ...; empty when the system could not say
    bool keepsInodes = false; // the same inode number after a rename and a remount
    bool keepsTimes = false;  // the modification time unchanged by a rename
    // Known to set a file's modification time to "now" at every rename (fusefat); drives not in
    // the table are checked at their first rename.
    bool setsTimeOnRename = false;
    bool known = false; // in the table at all
    // Refuses names with the characters Windows refuses ("\\ | : ? * \" < >): FAT and exFAT, and
    // the FUSE drivers that mount them as plain "fuseblk" (ntfs-3g looks the same there).
    bool refusesWindowsCharacters = false;
};

// The traits of the drive the open folder `fd` is on.
DriveTraits TraitsOfDrive(int fd);

// The table's entry for a type as mountinfo names it (for tests and the table's own test).
DriveTraits TraitsOfType(const QByteArray& type);

} // namespace sorvane
