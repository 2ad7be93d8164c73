#pragma once

#include "base/error.h"
#include "base/syscalls.h"
#include "fs/drivetraits.h"
#include "fs/spellings.h"

#include <QString>

#include <atomic>
#include <memory>

namespace sorvane
{

// The path of the entry `name` in the folder `folder`, as messages and dialogs show it. Joined
// by hand: QDir takes a name beginning with ':' for a resource's whole path.
QString ChildPath(const QString& folder, const QString& name);

// A folder held open while its files are read and renamed. Every name is looked up in it rather
// than by path, so a folder renamed or replaced meanwhile cannot redirect the rest of the work,
// and no path is built or converted per file. Reader threads share a run's folders with the
// renaming thread: what a const method fills in is atomic, or touched by the renaming thread
// alone (the name watch).
class OpenFolder
{
public:
    // Throws Error naming the folder when it cannot be opened.
    explicit OpenFolder(const QString& path);

    // The folder `name` inside `parent`, entered only as a folder of its own, never through a
    // symbolic link; null with the system's code in `error` when it cannot be.
    static std::unique_ptr<OpenFolder> child(const OpenFolder& parent, const char* name,
                                             int& error);

    // What tells one folder from another: device and inode, and the mount it is on where the
    // system says (a bind mount keeps the device; a btrfs subvolume changes it on one mount).
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        quint64 mount = 0;
        bool knowsMount = false;
        bool sameFolder(const Identity& other) const
        {
            return device == other.device && inode == other.inode;
        }
        bool sameMount(const Identity& other) const
        {
            return knowsMount && other.knowsMount ? mount == other.mount : device == other.device;
        }
    };
    // False, with the system's code in `error`, when the system cannot say.
    bool identity(Identity& identity, int& error) const;

    // What the drive keeps of a file across rename and remount; asked of the system when the
    // folder is opened by path: a folder opened below another is taken to be on its drive (the
    // walk enters no other mount).
    const DriveTraits& traits() const { return m_traits; }

    const QString& path() const { return m_path; }

    // A file's own name as the file system takes it, and back for showing.
    static QByteArray nativeName(const QString& name);
    static QString displayName(const char* name);

    // Whether both name the same folder of the same file system.
    bool sameAs(const OpenFolder& other) const;

    int fd() const { return m_fd.get(); }

    // The folder's watch for names made in it, started the first time it is asked for; null
    // where the system has none to give. Only the renaming thread watches.
    NameWatch* nameWatch() const;

    // Ways to rename without replacing that the drive may refuse; once it has, moves in the folder
    // skip straight past them.
    enum class Means { NoReplaceFlag, HardLinks };
    bool mayUse(Means means) const;
    void refuses(Means means) const;

    // What a rename was seen to do to a file's modification time here, on a drive the table does
    // not know.
    enum class RenameTime { Unknown, Kept, Set };
    RenameTime renameTime() const { return RenameTime(m_renameTime.load()); }
    void sawRenameTime(RenameTime seen) const { m_renameTime.store(int(seen)); }

private:
    OpenFolder() = default;

    QString m_path;
    FileDescriptor m_fd;
    mutable NameWatch m_watch;
    mutable bool m_watchStarted = false; // by the renaming thread alone
    DriveTraits m_traits;
    mutable std::atomic<bool> m_noReplaceRefused{false};
    mutable std::atomic<bool> m_hardLinksRefused{false};
    mutable std::atomic<int> m_renameTime{0};
};

} // namespace sorvane
