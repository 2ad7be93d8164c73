#include "run/dryrun.h"

#include "fs/listing.h"
#include "fs/openfolder.h"
#include "names/renamefailures.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

std::set<QByteArray> listNames(const OpenFolder& folder)
{
    std::set<QByteArray> names;
    Listing entries(folder.fd());
    while (const auto* entry = entries.next())
        names.insert(QByteArray(entry->d_name));
    return names;
}

} // namespace

RenameResult DryRun::rename(int folder, const OpenFolder& open, const char* from,
                            const QByteArray& to)
{
    auto found = m_names.find(folder);
    if (found == m_names.end())
        found = m_names.emplace(folder, listNames(open)).first;
    std::set<QByteArray>& names = found->second;
    RenameResult result;
    if (to == from) {
        result.alreadyNamed = true;
        return result;
    }
    if (names.count(to) != 0) {
        // A second link to the file itself counts as its name, as the real rename finds.
        struct stat source = {}, target = {};
        if (Sys.fstatat(open.fd(), from, &source, AT_SYMLINK_NOFOLLOW) == 0 &&
            Sys.fstatat(open.fd(), to.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
            source.st_dev == target.st_dev && source.st_ino == target.st_ino) {
            result.alreadyNamed = true;
            return result;
        }
        result.outcome = {&RenameFailure::TargetExists, EEXIST};
        return result;
    }
    names.erase(QByteArray(from));
    names.insert(to);
    return result;
}

} // namespace sorvane
