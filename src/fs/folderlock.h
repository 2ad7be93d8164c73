#pragma once

#include "base/syscalls.h"

#include <QString>

#include <utility>

namespace sorvane
{

// One Sorvane at a time in a folder. A run, an undo and a single rename hold the lock of every
// folder they rename in, from before they list it until their last rename and repair there: a
// lock of one byte, at the open folder's inode number, in a file of the user's runtime folder
// named after its device and the inode's low bits. Device and inode stay the same while the
// folder is open, even on FUSE drives that number inodes by path. It keeps out the same user's
// other Sorvane processes on this machine, not other users or machines.
class FolderLock
{
public:
    FolderLock() = default;
    FolderLock(FolderLock&& other) noexcept = default;
    FolderLock& operator=(FolderLock&& other) noexcept
    {
        release(); // let go of this one's before taking the other's
        m_fd = std::move(other.m_fd);
        return *this;
    }

    enum class Taken { Yes, Held, Failed };
    // Takes the lock of the open folder `folder`, never waiting: Held when another process (or
    // another lock of this one) holds it; Failed with the system's code in `error` when it cannot
    // be taken at all.
    static Taken take(int folder, FolderLock& lock, int& error);
    // The same for the folder of that device and inode, where they are known already.
    static Taken take(quint64 device, quint64 inode, FolderLock& lock, int& error);

    bool held() const { return m_fd.isOpen(); }
    void release();

    // The inode's bits that give the locked byte's offset; the rest name the lock file.
    static constexpr int InodeOffsetBits = 62;
    // How many lock files a device's folders are spread over.
    static constexpr unsigned LockFiles = 1024;

private:
    FileDescriptor m_fd; // closed, it lets go
};

// Where the locks are: $XDG_RUNTIME_DIR/sorvane/locks, else /run/user/UID/sorvane/locks, else a
// folder of the user's own in /tmp.
QString LockFolderPath();

// Why a folder's lock could not be taken, for the user.
QString LockFailureReason(int error);

} // namespace sorvane
