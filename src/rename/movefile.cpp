#include "rename/movefile.h"

#include "rename/openfolder.h"
#include "tag/error.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <atomic>
#include <cerrno>
#include <csignal>
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
                    const char* to)
{
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

void DeferTerminationDuringMoves() {}

#else

namespace
{

std::atomic<int> g_deferring{0};
volatile std::sig_atomic_t g_pendingSignal = 0;
const int TerminationSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

extern "C" void onTermination(int signal)
{
    if (g_deferring.load() > 0) {
        g_pendingSignal = signal;
        return;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Held while a move is between its steps; a termination signal that came meanwhile acts when the
// last one is released.
class TerminationDeferred
{
public:
    TerminationDeferred() { g_deferring.fetch_add(1); }
    ~TerminationDeferred()
    {
        if (g_deferring.fetch_sub(1) == 1 && g_pendingSignal != 0) {
            const int signal = g_pendingSignal;
            std::signal(signal, SIG_DFL);
            std::raise(signal);
        }
    }
    TerminationDeferred(const TerminationDeferred&) = delete;
    TerminationDeferred& operator=(const TerminationDeferred&) = delete;
};

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

// Without hard links the only rename is one that replaces. Reserving the new name with O_EXCL
// keeps every other program's file out of it (an O_EXCL create of theirs fails, a file of theirs
// makes ours fail); the rename then replaces only our own empty reservation, checked right
// before.
int renameOverReservation(int fromDir, const char* from, int toDir, const char* to)
{
    const TerminationDeferred deferred;
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
    if (Sys.renameat(fromDir, from, toDir, to) == 0)
        return 0;
    const int code = errno;
    if (stillOurReservation(toDir, to, ours))
        Sys.unlinkat(toDir, to, 0);
    return code;
}

// One move that never replaces, with the strongest means the file system offers.
int moveOnce(int fromDir, const char* from, int toDir, const char* to)
{
    if (Sys.renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    const int refused = errno;
    if (!noReplaceFlagRefused(refused))
        return refused;
    {
        // A hard link is made only where the name is free: the same "create only if absent".
        const TerminationDeferred deferred;
        if (Sys.linkat(fromDir, from, toDir, to, 0) == 0) {
            if (Sys.unlinkat(fromDir, from, 0) == 0)
                return 0;
            const int code = errno;
            Sys.unlinkat(toDir, to, 0); // one name, the old one, rather than two
            return code;
        }
    }
    const int code = errno;
    if (!hardLinkRefused(code))
        return code;
    return renameOverReservation(fromDir, from, toDir, to);
}

bool differOnlyInCase(const char* a, const char* b)
{
    const QString first = OpenFolder::displayName(a), second = OpenFolder::displayName(b);
    return first != second && first.compare(second, Qt::CaseInsensitive) == 0;
}

bool hasEntryNamed(int dir, const char* name)
{
    const int listing = Sys.openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0)
            ::close(listing);
        return true; // cannot tell: take the name as another file's
    }
    bool found = false;
    while (const dirent* entry = Sys.readdir(entries)) {
        if (std::strcmp(entry->d_name, name) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(entries);
    return found;
}

// The new name led to a file. Whether it is the source itself under another spelling or link,
// and if so, the move finished.
int settleExistingName(int fromDir, const char* from, int toDir, const char* to, bool sameFolder)
{
    struct stat source = {}, target = {};
    if (!lookUp(fromDir, from, source))
        return errno;
    if (!lookUp(toDir, to, target))
        return EEXIST;
    // Path-based FUSE file systems (fusefat, exfat-fuse) number names, not files: on a
    // case-insensitive one the other spelling of the same file gets a number of its own. There the
    // folder's listing tells: no entry is spelt exactly like the new name.
    const bool same = sameFile(source, target) ||
                      (sameFolder && differOnlyInCase(from, to) && !hasEntryNamed(toDir, to));
    if (!same)
        return EEXIST;

    // Either one entry that the file system finds under both spellings (a change of letter case),
    // or two links to one file (a move interrupted between link and unlink). With the old name
    // moved aside, the new one is free in the first case and still the file in the second. A plain
    // rename onto the other spelling is no way out: fusefat takes it for a different file and
    // frees the file's clusters. The name aside ends in ".mp3" and is not hidden, so should the
    // program be killed right here, the next folder run renames the file from its tag.
    const TerminationDeferred deferred;
    char aside[64];
    int code = EEXIST;
    for (int attempt = 0; attempt < 16 && code == EEXIST; ++attempt) {
        std::snprintf(aside, sizeof aside, "sorvane-%ld-%d.mp3", long(::getpid()), attempt);
        code = moveOnce(fromDir, from, fromDir, aside);
    }
    if (code != 0)
        return code;
    // Tried rather than looked up first: FUSE keeps a stale entry for the other spelling for a
    // while, which only a create or rename makes it ask the file system about again.
    code = moveOnce(fromDir, aside, toDir, to);
    if (code == 0)
        return 0;
    struct stat now = {};
    if (code == EEXIST && lookUp(toDir, to, now) && sameFile(now, source))
        return Sys.unlinkat(fromDir, aside, 0) == 0 ? 0 : errno;
    moveOnce(fromDir, aside, fromDir, from);
    return code;
}

} // namespace

int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to)
{
    const int code = moveOnce(fromFolder.fd(), from, toFolder.fd(), to);
    if (code != EEXIST)
        return code;
    const bool sameFolder = &fromFolder == &toFolder || fromFolder.sameAs(toFolder);
    return settleExistingName(fromFolder.fd(), from, toFolder.fd(), to, sameFolder);
}

bool IsTargetExists(int code)
{
    return code == EEXIST;
}

void DeferTerminationDuringMoves()
{
    struct sigaction action = {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    for (const int signal : TerminationSignals) {
        struct sigaction previous = {};
        // A signal the parent told us to ignore stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

#endif

namespace
{

// Folder and own name of a full path; the root folder keeps its separator.
std::pair<QString, QString> splitPath(const QString& path)
{
    const QFileInfo info(path);
    return {info.path(), info.fileName()};
}

} // namespace

void MoveFileNoReplace(const QString& source, const QString& target)
{
    const auto [sourceFolder, sourceName] = splitPath(source);
    const auto [targetFolder, targetName] = splitPath(target);
    int code = 0;
    try {
        const OpenFolder from(sourceFolder);
        const OpenFolder to(targetFolder);
        code = MoveNoReplaceAt(from, OpenFolder::nativeName(sourceName).constData(), to,
                               OpenFolder::nativeName(targetName).constData());
    } catch (const Error& error) {
        throw Error(QStringLiteral("Не удалось переименовать %1 в %2: %3")
                        .arg(QuotedPath(source), QuotedPath(target), error.message()));
    }
    if (code != 0) {
        const Outcome outcome{IsTargetExists(code) ? Failure::TargetExists : Failure::RenameFailed,
                              code};
        throw Error(QStringLiteral("Не удалось переименовать %1 в %2: %3.")
                        .arg(QuotedPath(source), QuotedPath(target), Reason(outcome)));
    }
}

} // namespace sorvane
