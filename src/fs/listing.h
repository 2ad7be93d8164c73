#pragma once

#include <dirent.h>

#include <memory>

namespace sorvane
{

// The entries of an open folder, read from the folder's own descriptor from its first entry on:
// no second descriptor is opened and closed for it, which on a tree of thousands of folders is a
// good part of the walk. "." and ".." are left out. The descriptor must not be listed by two
// threads at once: a listing moves its offset.
class Listing
{
public:
    // Where the descriptor's offset stands: anywhere, as after an earlier listing, so the listing
    // rewinds it first; or still at the first entry, as on a descriptor its caller has just
    // opened and not listed, which saves a call for each folder of a tree.
    enum class Offset { Anywhere, AtStart };

    // Starts listing the folder `dir`; failed() with the system's code when it cannot be.
    explicit Listing(int dir, Offset offset = Offset::Anywhere);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }

    // The next entry, or null at the end or when reading failed (then failed()).
    const struct dirent64* next();

private:
    int m_dir;
    int m_error = 0;
    bool m_end = false;
    std::unique_ptr<char[]> m_buffer;
    long m_used = 0;
    long m_filled = 0;
};

} // namespace sorvane
