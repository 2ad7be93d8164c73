#include "fs/listing.h"

#include "base/syscalls.h"

#include <cerrno>
#include <cstring>

namespace sorvane
{

namespace
{

// As much as the C library's own listing asks for at once.
constexpr long BufferBytes = 32 * 1024;

} // namespace

Listing::Listing(int dir, Offset offset) : m_dir(dir)
{
    // From the start, whoever listed the folder before: a listing that began at its end would be
    // taken for an empty folder.
    if (offset == Offset::Anywhere && Sys.lseek(dir, 0, SEEK_SET) != 0) {
        m_error = errno ? errno : EIO;
        return;
    }
    // Not zeroed: the kernel writes what is read, and zeroing 32 KiB for every folder was half of
    // a walk's work.
    m_buffer.reset(new char[std::size_t(BufferBytes)]);
}

Listing::~Listing() = default;

const struct dirent64* Listing::next()
{
    if (!m_buffer || m_error != 0)
        return nullptr;
    for (;;) {
        if (m_used >= m_filled) {
            if (m_end)
                return nullptr;
            const ssize_t got = Sys.getdents64(m_dir, m_buffer.get(), std::size_t(BufferBytes));
            if (got < 0) {
                m_error = errno ? errno : EIO;
                return nullptr;
            }
            if (got == 0) {
                m_end = true;
                return nullptr;
            }
            m_used = 0;
            m_filled = long(got);
        }
        const auto* entry = reinterpret_cast<const struct dirent64*>(m_buffer.get() + m_used);
        // A record the kernel would never give ends the listing as a failure, not as a read past
        // the buffer.
        if (entry->d_reclen == 0 || m_used + entry->d_reclen > m_filled) {
            m_error = EIO;
            return nullptr;
        }
        m_used += entry->d_reclen;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            return entry;
    }
}

} // namespace sorvane
