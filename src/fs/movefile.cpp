#include "fs/movefile.h"

#include "base/stoppolicy.h"
#include "fs/openfolder.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorvane
{

#ifdef Q_OS_WIN

int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to, std::string*, const MoveJournal*)
{
    const MoveUnderWay move;
    if (!move.began())
        return ERROR_CANCELLED;
    // No MOVEFILE_REPLACE_EXISTING and no MOVEFILE_COPY_ALLOWED. NTFS and FAT take a change of
    // letter case as a rename of the same file.
    const QString source = fromFolder.filePath(from);
    const QString target = toFolder.filePath(to);
    if (::MoveFileExW(reinterpret_cast<const wchar_t*>(source.utf16()),
                      reinterpret_cast<const wchar_t*>(target.utf16()), 0))
        return 0;
    return static_cast<int>(::GetLastError());
}

bool IsTargetExists(int code)
{
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
}

bool IsStoppedBeforeMove(int code)
{
    return code == ERROR_CANCELLED;
}

bool IsAlreadyNamed(int)
{
    return false;
}

#else

namespace
{

bool noReplaceFlagRefused(int code)
{
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP;
}

// FAT, exFAT and many FUSE file systems have no hard links.
bool hardLinkRefused(int code)
{
    return code == EPERM || code == EOPNOTSUPP || code == ENOSYS;
}

bool lookUp(int dir, const char* name, struct stat& info)
{
    return Sys.fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name still holds the empty file we created to reserve it, and nothing else.
bool stillOurReservation(int dir, const char* name, const struct stat& ours)
{
    struct stat now = {};
    return lookUp(dir, name, now) && S_ISREG(now.st_mode) && sameFile(now, ours) &&
           now.st_size == 0;
}

// Whether another spelling of the name may have taken the reservation's place, which a lookup
// by our own spelling cannot be trusted to show on a FUSE drive. The watch says whether anything
// of the kind happened since the reservation was made; the listing decides.
bool otherSpellingMayHoldIt(const OpenFolder& folder, NameWatch* watch, const char* name)
{
    if (watch && watch->otherSpellingMade(name) == NameWatch::Seen::Nothing)
        return false;
    const Listed listed = LookInListing(folder.fd(), name);
    return listed.otherSpelling || listed.unreadable;
}

// Without hard links the only rename is one that replaces. Reserving the new name with O_EXCL
// keeps every other program's file out of it (an O_EXCL create of theirs fails, a file of theirs
// makes ours fail); the rename then replaces only our own empty reservation, checked right
// before. A few microseconds stay open between that check and the rename.
int renameOverReservation(const OpenFolder& fromFolder, const char* from,
                          const OpenFolder& toFolder, const char* to, const MoveJournal* journal)
{
    const int toDir = toFolder.fd();
    NameWatch* watch = toFolder.nameWatch();
    if (watch)
        watch->forget();
    // On record first: a kill from here on may leave the reservation behind.
    if (journal && journal->beforeReserve)
        journal->beforeReserve();
    struct stat ours = {};
    {
        const FileDescriptor reservation(
            Sys.openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!reservation.isOpen())
            return errno;
        if (::fstat(reservation.get(), &ours) != 0) {
            const int code = errno;
            Sys.unlinkat(toDir, to, 0);
            return code;
        }
    }
    if (!stillOurReservation(toDir, to, ours))
        return EEXIST;
    // Another program's file now holds the name under its own spelling: it stays, and so does
    // the name, which is no longer ours to remove.
    if (otherSpellingMayHoldIt(toFolder, watch, to))
        return EEXIST;
    if (Sys.renameat(fromFolder.fd(), from, toDir, to) == 0)
        return 0;
    const int code = errno;
    if (stillOurReservation(toDir, to, ours) && !otherSpellingMayHoldIt(toFolder, watch, to))
        Sys.unlinkat(toDir, to, 0);
    return code;
}

// One move that never replaces, with the strongest means the file system offers.
int moveOnce(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
             const char* to, const MoveJournal* journal)
{
    const int fromDir = fromFolder.fd(), toDir = toFolder.fd();
    if (Sys.renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    const int refused = errno;
    if (!noReplaceFlagRefused(refused))
        return refused;
    // A hard link is made only where the name is free: the same "create only if absent".
    if (Sys.linkat(fromDir, from, toDir, to, 0) == 0) {
        if (Sys.unlinkat(fromDir, from, 0) == 0)
            return 0;
        const int code = errno;
        Sys.unlinkat(toDir, to, 0); // one name, the old one, rather than two
        return code;
    }
    const int code = errno;
    if (!hardLinkRefused(code))
        return code;
    return renameOverReservation(fromFolder, from, toFolder, to, journal);
}

// The new name led to a file. Whether it is the source itself under another spelling or link,
// and if so, the move finished.
int settleExistingName(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                       const char* to, bool sameFolder, std::string* leftAs,
                       const MoveJournal* journal)
{
    const int fromDir = fromFolder.fd(), toDir = toFolder.fd();
    struct stat source = {}, target = {};
    if (!lookUp(fromDir, from, source))
        return errno;
    if (!lookUp(toDir, to, target))
        return EEXIST;
    const auto recorded = [&](bool reserved) {
        return journal && journal->recorded && journal->recorded(from, to, source, reserved);
    };
    // Two links to one file: a move killed between link and unlink, which the journal of that
    // move says; or a link the user made, which stays.
    if (sameFile(source, target) && source.st_nlink > 1 && !recorded(false))
        return EALREADY;
    // The empty file a move killed after reserving the name left there; the journal says the
    // name was reserved for this file.
    if (!sameFile(source, target) && S_ISREG(target.st_mode) && target.st_size == 0 &&
        source.st_size > 0 && recorded(true)) {
        if (Sys.unlinkat(toDir, to, 0) != 0)
            return EEXIST;
        return moveOnce(fromFolder, from, toFolder, to, journal);
    }
    // Path-based FUSE file systems (fusefat, exfat-fuse) number names, not files: on a
    // case-insensitive one the other spelling of the same file gets a number of its own. There the
    // folder's listing tells: no entry is spelt exactly like the new name.
    const auto listedOnlyOtherwise = [&] {
        const Listed listed = LookInListing(toDir, to);
        return !listed.exact && !listed.unreadable;
    };
    const bool same = sameFile(source, target) ||
                      (sameFolder && IsOtherSpelling(from, to) && listedOnlyOtherwise());
    if (!same)
        return EEXIST;

    // Either one entry that the file system finds under both spellings (a change of letter case),
    // or two links to one file (a move interrupted between link and unlink). With the old name
    // moved aside, the new one is free in the first case and still the file in the second. A plain
    // rename onto the other spelling is no way out: fusefat takes it for a different file and
    // frees the file's clusters. The name aside ends in ".mp3" and is not hidden, so should the
    // program be killed right here, the next folder run renames the file from its tag.
    char aside[64];
    int code = EEXIST;
    for (int attempt = 0; attempt < 16 && code == EEXIST; ++attempt) {
        std::snprintf(aside, sizeof aside, "sorvane-%ld-%d.mp3", long(::getpid()), attempt);
        if (journal && journal->beforeAside)
            journal->beforeAside(aside);
        code = moveOnce(fromFolder, from, fromFolder, aside, journal);
    }
    if (code != 0)
        return code;
    // Tried rather than looked up first: FUSE keeps a stale entry for the other spelling for a
    // while, which only a create or rename makes it ask the file system about again.
    code = moveOnce(fromFolder, aside, toFolder, to, journal);
    if (code == 0)
        return 0;
    struct stat now = {};
    if (code == EEXIST && lookUp(toDir, to, now) && sameFile(now, source))
        return Sys.unlinkat(fromDir, aside, 0) == 0 ? 0 : errno;
    if (moveOnce(fromFolder, aside, fromFolder, from, journal) != 0 && leftAs)
        *leftAs = aside; // the file is there, under the name aside: say so, never lose track
    return code;
}

} // namespace

int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to, std::string* leftAs, const MoveJournal* journal)
{
    // One guard over every step: a termination signal waits for the last of them, and one that
    // came before the first stops the move from starting.
    const MoveUnderWay move;
    if (!move.began())
        return ECANCELED;
    const int code = moveOnce(fromFolder, from, toFolder, to, journal);
    if (code != EEXIST)
        return code;
    const bool sameFolder = &fromFolder == &toFolder || fromFolder.sameAs(toFolder);
    return settleExistingName(fromFolder, from, toFolder, to, sameFolder, leftAs, journal);
}

bool IsTargetExists(int code)
{
    return code == EEXIST;
}

bool IsStoppedBeforeMove(int code)
{
    return code == ECANCELED;
}

bool IsAlreadyNamed(int code)
{
    return code == EALREADY;
}

#endif

} // namespace sorvane
