#pragma once

#include "tag/error.h"

#include <QString>

#include <map>
#include <vector>

namespace sorvane
{

class FieldModel;
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
    QString displayName(int file) const;
    // The system's error code when the listing could not tell what the entry is, else 0.
    int typeError(int file) const { return m_entries[file].typeError; }

    void add(const char* name, std::size_t length, int typeError);
    void sort();

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

struct NotRenamed {
    int file; // in the snapshot
    Outcome outcome;
};

// What a folder run did: every file not renamed, in the order of the run, with its reason.
struct FolderReport {
    QString folder;
    FolderSnapshot files;
    std::vector<NotRenamed> notRenamed;
    // Files a failed step left under a name aside (Failure::LeftAside): that name, by file.
    std::map<int, QByteArray> leftAside;
    bool stopped = false; // by the user or a termination signal, before the first NotReached
};

// The summary's details: the folder, then each file not renamed with its reason, or that the
// folder holds no MP3 files; empty when every file was renamed.
QString DetailsText(const FolderReport& report);

// Told before each file how far the run has come; answering false stops the run before it.
class RunObserver
{
public:
    virtual ~RunObserver() = default;
    virtual bool proceed(int done, const FolderSnapshot& files) = 0;
};

struct FolderRunOptions {
    RunObserver* observer = nullptr;
    // Read the next files' tags on a second thread while this one renames. The outcomes are the
    // same either way: renames never replace, so no file of the snapshot changes before its turn.
    bool readAhead = true;
};

// Renames every listed MP3 file of FolderPath whose last 128 bytes are an ID3v1 tag, from that
// tag, with the album and year selections as they stand. A file that cannot be read or renamed
// counts one in FailCount and the run goes on; FailCount ends as the number of files not renamed.
// A termination signal stops the run before the next file, as the observer's Cancel does.
// The fields end as the last tag read leaves them, and the path field empty. Throws Error, having
// touched nothing, when the folder cannot be opened or listed.
FolderReport RenameFolder(FieldModel& model, const FolderRunOptions& options = {});

} // namespace sorvane
