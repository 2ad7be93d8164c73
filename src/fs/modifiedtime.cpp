#include "fs/modifiedtime.h"

#include "base/syscalls.h"
#include "fs/fileidentity.h"
#include "fs/openfolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace sorvane
{

bool RenamesSetTime(const OpenFolder& folder)
{
    return folder.traits().setsTimeOnRename || folder.renameTime() == OpenFolder::RenameTime::Set;
}

int KeepModifiedTime(const OpenFolder& folder, const char* name, qint64 before, bool* setsTime)
{
    const DriveTraits& traits = folder.traits();
    if (setsTime)
        *setsTime = false;
    if (before < 0 || (traits.known && !traits.setsTimeOnRename))
        return 0;
    if (!RenamesSetTime(folder)) {
        if (folder.renameTime() == OpenFolder::RenameTime::Kept)
            return 0;
        struct stat now = {};
        if (Sys.fstatat(folder.fd(), name, &now, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        if (ModifiedNs(now) == before) {
            folder.sawRenameTime(OpenFolder::RenameTime::Kept);
            return 0;
        }
        folder.sawRenameTime(OpenFolder::RenameTime::Set);
    }
    if (setsTime)
        *setsTime = true;
    return PutModifiedTime(folder.fd(), name, before);
}

int PutModifiedTime(int dir, const char* name, qint64 time)
{
    // Both times given: fusefat takes an access time left out (UTIME_OMIT) as a request to leave
    // the modification time alone too, and says it did what was asked. A file's access time is
    // its modification time's day on FAT anyway.
    const struct timespec when = TimespecOfNs(time);
    const struct timespec times[2] = {when, when};
    return Sys.utimensat(dir, name, times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

} // namespace sorvane
