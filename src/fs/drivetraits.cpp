#include "fs/drivetraits.h"

#include "base/syscalls.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace sorvane
{

namespace
{

struct Entry {
    const char* type;
    bool keepsInodes;
    bool keepsTimes;
    bool setsTimeOnRename;
};

// Measured by renaming a file and mounting the drive again (tst_drives checks the FUSE ones):
// Linux's own disk file systems keep both; the kernel's vfat and exfat drivers number inodes by
// the directory entry's place, which a rename moves; of the FUSE drivers, fusefat keeps neither
// and sets the time at every rename, and sshfs keeps the server's times but shows inode numbers
// of its own. ntfs-3g and exfat-fuse both mount as plain "fuse" or "fuseblk", which cannot tell
// them apart: ntfs-3g keeps both, exfat-fuse the times only, so neither is claimed.
const Entry Table[] = {
    {"ext2", true, true, false},          {"ext3", true, true, false},
    {"ext4", true, true, false},          {"xfs", true, true, false},
    {"btrfs", true, true, false},         {"tmpfs", true, true, false},
    {"f2fs", true, true, false},          {"zfs", true, true, false},
    {"jfs", true, true, false},           {"reiserfs", true, true, false},
    {"bcachefs", true, true, false},      {"nfs", true, true, false},
    {"nfs4", true, true, false},          {"ntfs3", true, true, false},
    {"vfat", false, true, false},         {"msdos", false, true, false},
    {"exfat", false, true, false},        {"cifs", false, true, false},
    {"smb3", false, true, false},         {"fuse.sshfs", false, true, false},
    {"fuse.fusefat", false, false, true},
};

// The mount's type by its id, from mountinfo: "36 25 0:32 / /media/x rw - fuse.sshfs ...". Read
// afresh every time: a stick unplugged and another plugged in get the same mount id.
QByteArray typeOfMount(quint64 mountId)
{
    const FileDescriptor fd(Sys.openat(AT_FDCWD, "/proc/self/mountinfo", O_RDONLY | O_CLOEXEC, 0));
    if (!fd.isOpen())
        return QByteArray();
    QByteArray text;
    char buffer[65536];
    for (ssize_t got; (got = Sys.read(fd.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QByteArray();
        text.append(buffer, got);
    }
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.isEmpty() || dash < 0 || dash + 1 >= fields.size())
            continue;
        bool number = false;
        if (fields.first().toULongLong(&number) == mountId && number)
            return fields[dash + 1];
    }
    return QByteArray();
}

QByteArray typeOfMagic(long magic)
{
    static const std::pair<long, const char*> Magic[] = {
        {0xEF53, "ext4"},      {0x58465342, "xfs"},        {0x9123683E, "btrfs"},
        {0x01021994, "tmpfs"}, {0xF2F52010, "f2fs"},       {0x2FC12FC1, "zfs"},
        {0x3153464A, "jfs"},   {0x52654973, "reiserfs"},   {0xCA451A4E, "bcachefs"},
        {0x6969, "nfs"},       {0x7366746E, "ntfs3"},      {0x4D44, "vfat"},
        {0x2011BAB0, "exfat"}, {long(0xFF534D42), "cifs"}, {long(0xFE534D42), "smb3"}};
    for (const auto& [value, name] : Magic) {
        if (value == magic)
            return name;
    }
    return QByteArray();
}

constexpr long FuseMagic = 0x65735546;

} // namespace

DriveTraits TraitsOfType(const QByteArray& type)
{
    DriveTraits traits;
    traits.type = type;
    static const char* const Refusing[] = {"vfat",    "msdos", "exfat",     "fuse.fusefat",
                                           "fuseblk", "fuse",  "fuse.exfat"};
    for (const char* refusing : Refusing)
        traits.refusesWindowsCharacters |= type == refusing;
    for (const Entry& entry : Table) {
        if (type == entry.type) {
            traits.keepsInodes = entry.keepsInodes;
            traits.keepsTimes = entry.keepsTimes;
            traits.setsTimeOnRename = entry.setsTimeOnRename;
            traits.known = true;
        }
    }
    return traits;
}

DriveTraits TraitsOfDrive(int fd)
{
    struct statfs info = {};
    if (Sys.fstatfs(fd, &info) != 0)
        return DriveTraits();
    if (info.f_type != FuseMagic)
        return TraitsOfType(typeOfMagic(long(info.f_type)));
    struct statx mount = {};
    if (Sys.statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &mount) != 0 ||
        !(mount.stx_mask & STATX_MNT_ID))
        return TraitsOfType("fuse");
    const QByteArray type = typeOfMount(mount.stx_mnt_id);
    return TraitsOfType(type.isEmpty() ? QByteArray("fuse") : type);
}

} // namespace sorvane
