#pragma once

#include "base/error.h"
#include "tag/tagbytes.h"

#include <QString>

#ifdef Q_OS_UNIX
#include "base/syscalls.h"
#include "rename/spellings.h"
#endif

namespace sorvane
{

// A folder held open while its files are read and renamed. Every name is looked up in it rather
// than by path, so a folder renamed or replaced meanwhile cannot redirect the rest of the work,
// and no path is built or converted per file.
class OpenFolder
{
public:
    // Throws Error naming the folder when it cannot be opened.
    explicit OpenFolder(const QString& path);

    const QString& path() const { return m_path; }

    // A file's own name as the file system takes it, and back for showing.
    static QByteArray nativeName(const QString& name);
    static QString displayName(const char* name);

    // Whether both name the same folder of the same file system.
    bool sameAs(const OpenFolder& other) const;

    // What the file `name` (the file system's own bytes of it) holds of its tag.
    Outcome readTagBytes(const char* name, TagBytes& bytes) const;

#ifdef Q_OS_UNIX
    int fd() const
    {
        return m_fd.get();
    }

    // The folder's watch for names made in it, started the first time it is asked for; null
    // where the system has none to give.
    NameWatch* nameWatch() const;
#else
    QString filePath(const char* name) const;
#endif

private:
    QString m_path;
#ifdef Q_OS_UNIX
    FileDescriptor m_fd;
    mutable NameWatch m_watch;
    mutable bool m_watchTried = false;
#endif
};

} // namespace sorvane
