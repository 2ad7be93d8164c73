#pragma once

#include <dirent.h>

namespace sorvane
{

// The entries of an open folder, read through a descriptor of the listing's own, so the folder's
// stays open; closed on every way out. "." and ".." are left out.
class Listing
{
public:
    // Starts listing the folder `dir`; failed() with the system's code when it cannot be.
    explicit Listing(int dir);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }

    // The next entry, or null at the end or when reading failed (then failed()).
    const dirent* next();

private:
    DIR* m_entries = nullptr;
    int m_error = 0;
};

} // namespace sorvane
