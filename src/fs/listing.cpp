#include "fs/listing.h"

#include "base/syscalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace sorvane
{

Listing::Listing(int dir)
{
    const int fd = Sys.openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        m_error = errno ? errno : EIO;
        return;
    }
    m_entries = ::fdopendir(fd);
    if (!m_entries) {
        m_error = errno ? errno : EIO;
        Sys.close(fd);
    }
}

Listing::~Listing()
{
    if (m_entries)
        ::closedir(m_entries); // closes the listing's descriptor with it
}

const dirent* Listing::next()
{
    if (!m_entries || m_error != 0)
        return nullptr;
    for (;;) {
        errno = 0;
        const dirent* entry = Sys.readdir(m_entries);
        if (!entry) {
            m_error = errno;
            return nullptr;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            return entry;
    }
}

} // namespace sorvane
