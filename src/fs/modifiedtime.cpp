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
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {time_t(before / 1000000000), long(before % 1000000000)}};
    return Sys.utimensat(folder.fd(), name, times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

} // namespace sorvane
