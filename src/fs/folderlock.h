#pragma once

#include "base/syscalls.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace sorvane
{

// One Sorvane at a time in a folder. A run, an undo and a single rename hold the lock of every
// folder they rename in, from before they list it until their last rename and repair there: a
// flock on a file in the user's runtime folder named after the open folder's device and inode,
// which stay the same while it is open, even on FUSE drives that number inodes by path. It keeps
// out the same user's other Sorvane processes on this machine, not other users or machines.
class FolderLock
{
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class Taken { Yes, Held, Failed };
    // Takes the lock of the open folder `folder`, never waiting: Held when another process (or
    // another lock of this one) holds it; Failed with the system's code in `error` when it cannot
    // be taken at all.
    static Taken take(int folder, FolderLock& lock, int& error);

    bool held() const { return m_fd.isOpen(); }
    void release();

private:
    FileDescriptor m_fd;
    std::shared_ptr<const FileDescriptor> m_dir; // the lock folder, one descriptor for all
    QByteArray m_name;
};

// Where the locks are: $XDG_RUNTIME_DIR/sorvane/locks, else /run/user/UID/sorvane/locks, else a
// folder of the user's own in /tmp.
QString LockFolderPath();

// Why a folder's lock could not be taken, for the user.
QString LockFailureReason(int error);

} // namespace sorvane
