#include "fs/spellings.h"

#include "fs/listing.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace sorvane
{

bool IsOtherSpelling(const char* a, const char* b)
{
    if (std::strcmp(a, b) == 0)
        return false;
    return QFile::decodeName(a).compare(QFile::decodeName(b), Qt::CaseInsensitive) == 0;
}

Listed LookInListing(int dir, const char* name)
{
    Listed listed;
    Listing entries(dir);
    while (const auto* entry = entries.next()) {
        if (std::strcmp(entry->d_name, name) == 0)
            listed.exact = true;
        else if (IsOtherSpelling(entry->d_name, name))
            listed.otherSpelling = true;
    }
    listed.unreadable = entries.failed();
    return listed;
}

bool NameWatch::start(int dir)
{
    FileDescriptor fd(Sys.inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd.isOpen())
        return false;
    // inotify takes a path only; the folder's own descriptor names it whatever it is called now.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", dir);
    if (Sys.inotify_add_watch(fd.get(), path, IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0)
        return false;
    m_fd = std::move(fd);
    return true;
}

void NameWatch::forget()
{
    alignas(inotify_event) char buffer[8192];
    while (Sys.read(m_fd.get(), buffer, sizeof buffer) > 0) {
    }
}

NameWatch::Seen NameWatch::otherSpellingMade(const char* name)
{
    Seen seen = Seen::Nothing;
    alignas(inotify_event) char buffer[8192];
    ssize_t got;
    while ((got = Sys.read(m_fd.get(), buffer, sizeof buffer)) > 0) {
        for (const char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->mask & IN_Q_OVERFLOW)
                seen = Seen::Unsure;
            else if (event->len > 0 && seen == Seen::Nothing && IsOtherSpelling(event->name, name))
                seen = Seen::OtherSpelling;
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return Seen::Unsure;
    return seen;
}

} // namespace sorvane
