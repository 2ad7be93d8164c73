#pragma once

#include <QtGlobal>

#include "base/syscalls.h"

namespace sorvane
{

// Other spellings of one name in a folder. On a case-insensitive file system reached through FUSE
// (fusefat, exfat-fuse) the kernel caches attributes per spelling: after another program saved a
// file onto "NOVA.mp3", a lookup of "Nova.mp3" may still show the empty file Sorvane reserved
// there. The folder's listing is not cached, so it tells the truth.

// The same name in another letter case, not the same bytes.
bool IsOtherSpelling(const char* a, const char* b);

struct Listed {
    bool exact = false;         // an entry spelt exactly like the name
    bool otherSpelling = false; // an entry spelt like it in another letter case
    bool unreadable = false;    // the folder could not be listed: nothing is known
};
Listed LookInListing(int dir, const char* name);

// Names made in a folder since the watch last forgot, from the kernel's inotify, which sees every
// create and rename made through this system's mount. A listing per name costs a FUSE drive as
// much again as the rename itself (2.5 times the run on exfat-fuse at 2,000 files); the watch
// costs one read.
class NameWatch
{
public:
    // Starts watching the folder; false where the system cannot, and the caller lists instead.
    bool start(int dir);
    bool started() const { return m_fd.isOpen(); }

    // Drops what was seen so far.
    void forget();

    enum class Seen { Nothing, OtherSpelling, Unsure };
    // Whether a name in another spelling of `name` was made since forget(). Unsure when the
    // kernel's queue overflowed and events were lost.
    Seen otherSpellingMade(const char* name);

private:
    FileDescriptor m_fd;
};

} // namespace sorvane
