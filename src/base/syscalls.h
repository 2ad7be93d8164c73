#pragma once

#include <QtGlobal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace sorvane
{

// Every system call that reads a file or a folder or changes a name goes through this table. Tests
// and benchmarks replace entries to act like file systems that are not at hand (no
// RENAME_NOREPLACE, no hard links, no entry types in the listing) or like slow media. Nothing else
// writes it.
struct SystemCalls {
    int (*renameat2)(int fromDir, const char* from, int toDir, const char* to, unsigned flags);
    int (*renameat)(int fromDir, const char* from, int toDir, const char* to);
    int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
    int (*unlinkat)(int dir, const char* name, int flags);
    int (*openat)(int dir, const char* name, int flags, mode_t mode);
    int (*fstatat)(int dir, const char* name, struct stat* info, int flags);
    int (*fstat)(int fd, struct stat* info);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    int (*close)(int fd);
    int (*statx)(int dir, const char* name, int flags, unsigned mask, struct statx* info);
    int (*fstatfs)(int fd, struct statfs* info);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    int (*fsync)(int fd);
    // A folder's entries, a buffer of them at a time, from its descriptor's offset on.
    ssize_t (*getdents64)(int dir, void* buffer, size_t length);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*inotify_init1)(int flags);
    int (*inotify_add_watch)(int fd, const char* path, uint32_t mask);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    int (*flock)(int fd, int operation);
    // fcntl's record locks: F_OFD_SETLK and the like.
    int (*lockRange)(int fd, int command, struct flock* range);
    int (*mkdirat)(int dir, const char* name, mode_t mode);
    int (*utimensat)(int dir, const char* name, const struct timespec times[2], int flags);
    int (*fallocate)(int fd, int mode, off_t offset, off_t length);
    int (*ftruncate)(int fd, off_t length);
};

extern SystemCalls Sys;

// Nanoseconds since the epoch of a file's last change of contents: the one formula for it, and
// its inverse for utimensat, whose nanoseconds must lie in [0, 1e9) before 1970 too.
constexpr qint64 NsPerSecond = 1000000000;
inline qint64 ModifiedNs(const struct stat& info)
{
    return qint64(info.st_mtim.tv_sec) * NsPerSecond + info.st_mtim.tv_nsec;
}
inline struct timespec TimespecOfNs(qint64 ns)
{
    qint64 seconds = ns / NsPerSecond, rest = ns % NsPerSecond;
    if (rest < 0) {
        rest += NsPerSecond;
        --seconds;
    }
    return {time_t(seconds), long(rest)};
}

// The table as the C library gives it.
SystemCalls RealSystemCalls();

// Owns one descriptor: closed on every way out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            Sys.close(m_fd);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
};

} // namespace sorvane
