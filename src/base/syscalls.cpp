#include "base/syscalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{

SystemCalls RealSystemCalls()
{
    SystemCalls calls;
    calls.renameat2 = [](int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
        return ::renameat2(fromDir, from, toDir, to, flags);
    };
    calls.renameat = ::renameat;
    calls.linkat = ::linkat;
    calls.unlinkat = ::unlinkat;
    calls.openat = [](int dir, const char* name, int flags, mode_t mode) {
        return ::openat(dir, name, flags, mode);
    };
    calls.fstatat = ::fstatat;
    calls.fstat = ::fstat;
    calls.pread = ::pread;
    calls.close = ::close;
    calls.statx = ::statx;
    calls.fstatfs = ::fstatfs;
    calls.write = ::write;
    calls.fsync = ::fsync;
    calls.getdents64 = ::getdents64;
    calls.lseek = ::lseek;
    calls.inotify_init1 = ::inotify_init1;
    calls.inotify_add_watch = ::inotify_add_watch;
    calls.read = ::read;
    calls.flock = ::flock;
    calls.lockRange = [](int fd, int command, struct flock* range) {
        return ::fcntl(fd, command, range);
    };
    calls.mkdirat = ::mkdirat;
    calls.utimensat = ::utimensat;
    calls.fallocate = ::fallocate;
    calls.ftruncate = ::ftruncate;
    return calls;
}

SystemCalls Sys = RealSystemCalls();

} // namespace sorvane
