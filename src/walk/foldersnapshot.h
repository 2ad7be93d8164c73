#pragma once

#include "fs/listing.h"

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

namespace sorvane
{

class OpenFolder;

// The MP3 files of a folder as listed before the first rename, so a renamed file never turns up
// again and directory order does not matter: regular files whose names end in ".mp3" in any letter
// case, sorted by their bytes; hidden (dot) files, folders, links and everything else left out.
// Names stay the file system's own bytes, packed one after another, so 300,000 of them take a
// few MiB and none is converted until it is shown.
class FolderSnapshot
{
public:
    int size() const { return int(m_entries.size()); }
    const char* name(int file) const { return m_names.data() + m_entries[file].offset; }
    // The name as it may be shown: control characters and bytes that are not UTF-8 as \xHH.
    QString displayName(int file) const;
    // The system's error code when the listing could not tell what the entry is, else 0.
    int typeError(int file) const { return m_entries[file].typeError; }

    void add(const char* name, std::size_t length, int typeError);
    // Sorts the entries from `first` on by their bytes.
    void sort(int first = 0);
    // Keeps the first `count` entries, which must have been added before all others; in place,
    // since a copy would hold 300,000 names twice.
    void keepFirst(int count);

private:
    struct Entry {
        quint32 offset;
        qint32 typeError;
    };
    std::vector<char> m_names;
    std::vector<Entry> m_entries;
};

// Throws Error naming the folder when it cannot be listed.
FolderSnapshot ListMp3Files(const OpenFolder& folder);

// Adds the MP3 files of the open folder to `files`, sorted, and where `subfolders` is given, puts
// the names of its folders there (not hidden ones, never links). 0, or the system's code when the
// folder could not be listed. `offset` is where the folder's descriptor stands (Listing).
int ListFolder(const OpenFolder& folder, FolderSnapshot& files,
               std::vector<std::string>* subfolders,
               Listing::Offset offset = Listing::Offset::Anywhere);

} // namespace sorvane
