#pragma once

#include "base/error.h"
#include "base/syscalls.h"
#include "fs/spellings.h"

#include <QString>

#include <memory>

namespace sorvane
{

// A folder held open while its files are read and renamed. Every name is looked up in it rather
// than by path, so a folder renamed or replaced meanwhile cannot redirect the rest of the work,
// and no path is built or converted per file.
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
    // Zeroes when the system cannot say.
    Identity identity() const;

    // Whether the file system keeps an inode number per file, the same after a rename and the
    // next mount: not FAT, exFAT or FUSE drives, whose numbers belong to names or mounts.
    bool keepsInodes() const;

    const QString& path() const { return m_path; }

    // A file's own name as the file system takes it, and back for showing.
    static QByteArray nativeName(const QString& name);
    static QString displayName(const char* name);

    // Whether both name the same folder of the same file system.
    bool sameAs(const OpenFolder& other) const;

    int fd() const { return m_fd.get(); }

    // The folder's watch for names made in it, started the first time it is asked for; null
    // where the system has none to give.
    NameWatch* nameWatch() const;

private:
    OpenFolder() = default;

    QString m_path;
    FileDescriptor m_fd;
    mutable NameWatch m_watch;
    mutable bool m_watchTried = false;
    mutable int m_keepsInodes = -1;
};

} // namespace sorvane
