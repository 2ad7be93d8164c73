#include "fs/movefile.h"

#include "base/stoppolicy.h"
#include "base/syscalls.h"
#include "fs/fileidentity.h"
#include "fs/openfolder.h"
#include "fs/spellings.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Every check below and the step it guards are two system calls. A folder's lock keeps every
// other Sorvane out of the folder for the whole move (FolderLock), so only another program can
// act between the two; what it does there before the check is seen, what it does in the
// microseconds between is not.

namespace sorvane
{

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

void record(const MoveOptions& options, Leftover kind, const char* name)
{
    if (options.records && options.records->before)
        options.records->before(kind, name);
}

bool recorded(const MoveOptions& options, Leftover kind, const char* name)
{
    return options.records && options.records->recorded && options.records->recorded(kind, name);
}

// Spelt exactly so in the folder's listing. A case-insensitive drive finds one entry under every
// spelling of its name; only the listing tells which one it has.
bool listedExactly(int dir, const char* name)
{
    const Listed listed = LookInListing(dir, name);
    return listed.exact && !listed.unreadable;
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
                          const OpenFolder& toFolder, const char* to, const MoveOptions& options)
{
    const int toDir = toFolder.fd();
    NameWatch* watch = toFolder.nameWatch();
    if (watch)
        watch->forget();
    // On record first: a kill from here on may leave the reservation behind.
    record(options, Leftover::Reservation, to);
    struct stat ours = {};
    {
        const FileDescriptor reservation(
            Sys.openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!reservation.isOpen())
            return errno;
        // Unknown, it cannot be told from another file later: it stays, on record, for the next
        // run to remove once it is proven empty.
        if (Sys.fstat(reservation.get(), &ours) != 0)
            return errno;
    }
    struct stat now = {};
    if (!lookUp(toDir, to, now) || !sameFile(now, ours) || !S_ISREG(now.st_mode) ||
        now.st_size != 0)
        return EEXIST;
    // Another program's file now holds the name under its own spelling: it stays, and so does
    // the name, which is no longer ours to remove.
    if (otherSpellingMayHoldIt(toFolder, watch, to))
        return EEXIST;
    if (Sys.renameat(fromFolder.fd(), from, toDir, to) == 0)
        return 0;
    const int code = errno;
    if (!otherSpellingMayHoldIt(toFolder, watch, to))
        RemoveIfStill(toDir, to, ours, true);
    return code;
}

// A hard link is made only where the name is free: the same "create only if absent".
int linkAndUnlink(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                  const char* to, const MoveOptions& options)
{
    const int fromDir = fromFolder.fd(), toDir = toFolder.fd();
    record(options, Leftover::SecondName, to);
    if (Sys.linkat(fromDir, from, toDir, to, 0) != 0) {
        const int code = errno;
        if (options.records && options.records->linkRefused)
            options.records->linkRefused();
        return code;
    }
    if (Sys.unlinkat(fromDir, from, 0) == 0)
        return 0;
    const int code = errno;
    // One name, the old one, rather than two, only where the drive shows one file under both
    // names with two links: a drive whose link counts are made up (sshfs shows 1) keeps both,
    // and the journal's record lets the next run or undo finish the move.
    struct stat source = {}, target = {};
    if (lookUp(fromDir, from, source) && lookUp(toDir, to, target) && sameFile(source, target) &&
        source.st_nlink >= 2 && listedExactly(fromDir, from) && listedExactly(toDir, to))
        RemoveIfStill(toDir, to, target, false);
    return code;
}

// One move that never replaces, with the strongest means the file system offers. What a folder's
// drive was found to refuse is not asked again there.
int moveOnce(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
             const char* to, const MoveOptions& options)
{
    if (toFolder.mayUse(OpenFolder::Means::NoReplaceFlag)) {
        if (Sys.renameat2(fromFolder.fd(), from, toFolder.fd(), to, RENAME_NOREPLACE) == 0)
            return 0;
        const int refused = errno;
        if (!noReplaceFlagRefused(refused))
            return refused;
        toFolder.refuses(OpenFolder::Means::NoReplaceFlag);
    }
    if (toFolder.mayUse(OpenFolder::Means::HardLinks)) {
        const int code = linkAndUnlink(fromFolder, from, toFolder, to, options);
        if (!hardLinkRefused(code))
            return code;
        toFolder.refuses(OpenFolder::Means::HardLinks);
    }
    return renameOverReservation(fromFolder, from, toFolder, to, options);
}

// Where a drive makes up inode numbers and link counts (sshfs), two names of one file are told
// by both being spelt so in the listing and holding the file's identity.
bool bothNamesHoldTheFile(int fromDir, const char* from, int toDir, const char* to,
                          const MoveOptions& options)
{
    return options.identity && listedExactly(fromDir, from) && listedExactly(toDir, to) &&
           IdentityAt(fromDir, from, *options.identity) == Found::Same &&
           IdentityAt(toDir, to, *options.identity) == Found::Same;
}

// The change of letter case on a drive that finds both spellings to be one entry: with the old
// name moved aside, the new one is free. A plain rename onto the other spelling is no way out:
// fusefat takes it for a different file and frees the file's clusters. The name aside ends in
// ".mp3" and is not hidden, so should the program be killed right here, the journal knows it and
// the next folder run renames the file from its tag.
int changeLetterCase(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                     const char* to, const MoveOptions& options)
{
    char aside[64];
    int code = EEXIST;
    for (int attempt = 0; attempt < 16 && code == EEXIST; ++attempt) {
        std::snprintf(aside, sizeof aside, "sorvane-%ld-%d.mp3", long(::getpid()), attempt);
        record(options, Leftover::Aside, aside);
        code = moveOnce(fromFolder, from, fromFolder, aside, options);
    }
    if (code != 0)
        return code;
    // Tried rather than looked up first: FUSE keeps a stale entry for the other spelling for a
    // while, which only a create or rename makes it ask the file system about again.
    code = moveOnce(fromFolder, aside, toFolder, to, options);
    if (code == 0)
        return 0;
    if (moveOnce(fromFolder, aside, fromFolder, from, options) != 0 && options.leftAs)
        *options.leftAs =
            aside; // the file is there, under the name aside: say so, never lose track
    return code;
}

// The new name led to a file. Whether it is the source itself under another spelling or link,
// or the empty reservation a killed move left, and if so, the move finished.
int settleExistingName(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                       const char* to, bool sameFolder, const MoveOptions& options)
{
    const int fromDir = fromFolder.fd(), toDir = toFolder.fd();
    struct stat source = {}, target = {};
    if (!lookUp(fromDir, from, source))
        return errno;
    if (!lookUp(toDir, to, target))
        return EEXIST;
    const bool otherSpelling = sameFolder && IsOtherSpelling(from, to);
    // The file under both names: a link the user made stays, and the file counts as named; a
    // move a journal shows killed between link and unlink is finished, its old name removed.
    if (!otherSpelling && sameFile(source, target) && source.st_nlink > 1) {
        if (!recorded(options, Leftover::SecondName, to))
            return EALREADY;
        return RemoveIfStill(fromDir, from, source, false) == 0 ? 0 : EEXIST;
    }
    if (!otherSpelling && !sameFile(source, target) &&
        recorded(options, Leftover::SecondName, to) &&
        bothNamesHoldTheFile(fromDir, from, toDir, to, options))
        return RemoveIfStill(fromDir, from, source, false) == 0 ? 0 : EEXIST;
    // The empty file a move killed after reserving the name left there, for this file.
    if (!sameFile(source, target) && S_ISREG(target.st_mode) && target.st_size == 0 &&
        source.st_size > 0 && recorded(options, Leftover::Reservation, to)) {
        if (RemoveIfStill(toDir, to, target, true) != 0)
            return EEXIST;
        return moveOnce(fromFolder, from, toFolder, to, options);
    }
    // Path-based FUSE file systems (fusefat, exfat-fuse) number names, not files: on a
    // case-insensitive one the other spelling of the same file gets a number of its own. There the
    // folder's listing tells: no entry is spelt exactly like the new name.
    const auto listedOnlyOtherwise = [&] {
        const Listed listed = LookInListing(toDir, to);
        return !listed.exact && !listed.unreadable;
    };
    if (!(sameFile(source, target) || (otherSpelling && listedOnlyOtherwise())))
        return EEXIST;
    return changeLetterCase(fromFolder, from, toFolder, to, options);
}

} // namespace

int RemoveIfStill(int dir, const char* name, const struct stat& expected, bool empty)
{
    struct stat now = {};
    if (!lookUp(dir, name, now))
        return errno;
    if (!sameFile(now, expected) || !S_ISREG(now.st_mode) || (empty && now.st_size != 0))
        return EEXIST;
    return Sys.unlinkat(dir, name, 0) == 0 ? 0 : errno;
}

int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to, const MoveOptions& options)
{
    // One guard over every step: a termination signal waits for the last of them, and one that
    // came before the first stops the move from starting.
    const MoveUnderWay move;
    if (!move.began())
        return ECANCELED;
    const int code = moveOnce(fromFolder, from, toFolder, to, options);
    if (code != EEXIST)
        return code;
    const bool sameFolder = &fromFolder == &toFolder || fromFolder.sameAs(toFolder);
    return settleExistingName(fromFolder, from, toFolder, to, sameFolder, options);
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

} // namespace sorvane
