#pragma once

#include "base/error.h"
#include "rename/foldersnapshot.h"
#include "tag/tagtext.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace sorvane
{

struct NotRenamed {
    int file; // in the snapshot
    Outcome outcome;
};

// What a folder run did: every file not renamed, in the order of the run, with its reason.
struct FolderReport {
    QString folder;
    FolderSnapshot files;
    std::vector<NotRenamed> notRenamed;
    // Files a failed step left under a name aside (RenameFailure::LeftAside): that name, by file.
    std::map<int, QByteArray> leftAside;
    // Files renamed to a name the rules shortened to 255 bytes, with that name, in run order.
    std::vector<std::pair<int, QString>> shortened;
    bool stopped = false; // by the user or a termination signal, before the first NotReached
    // The kind of tag the fields were last loaded from, when any file's tag was.
    std::optional<TagKind> loaded;
};

// The summary's details: the folder, then each file not renamed with its reason, or that the
// folder holds no MP3 files; empty when every file was renamed.
QString DetailsText(const FolderReport& report);

} // namespace sorvane
