#pragma once

#include "base/syscalls.h"

#include <cerrno>

namespace testing
{

// Puts the real system calls back when the test is done with its replacements.
class SeamGuard
{
public:
    SeamGuard() : m_saved(sorvane::Sys) {}
    ~SeamGuard() { sorvane::Sys = m_saved; }
    SeamGuard(const SeamGuard&) = delete;
    SeamGuard& operator=(const SeamGuard&) = delete;

private:
    sorvane::SystemCalls m_saved;
};

// What FAT, exFAT and many FUSE file systems answer.
inline int refuseNoReplaceFlag(int, const char*, int, const char*, unsigned)
{
    errno = EINVAL;
    return -1;
}

inline int refuseHardLink(int, const char*, int, const char*, int)
{
    errno = EPERM;
    return -1;
}

} // namespace testing
