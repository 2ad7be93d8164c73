#pragma once

#include "fs/fileidentity.h"
#include "run/folderreport.h"

#include <QString>

#include <vector>

namespace sorvane
{

class FieldModel;
class JournalWriter;
class OpenFolder;

// Told before each file how far the run has come; answering false stops the run before it.
class RunObserver
{
public:
    virtual ~RunObserver() = default;
    virtual bool proceed(int done, const FolderTree& tree) = 0;
    // What became of a file, as it becomes of it: renamed to `newName`, had that name already, or
    // not renamed for `outcome`'s reason (`newName` then the name that was to be made, if any).
    virtual void fileDone(int, const Outcome&, const QString&, bool) {}
    // Before fileDone: the file's tag was read in this page, not the locale's (ChooseCodePage).
    virtual void readInPage(int, int) {}
};

struct FolderRunOptions {
    RunObserver* observer = nullptr;
    // Read the next files' tags on a second thread while this one renames. The outcomes are the
    // same either way: renames never replace, so no file of the snapshot changes before its turn.
    bool readAhead = true;
    // Where the run's renames are written ahead, to be taken back; none for a run that cannot
    // have one. The run closes it.
    JournalWriter* journal = nullptr;
    // Rename nothing: work out what the run would do with the folders as they stand (DryRun).
    bool dryRun = false;
    // Characters a drive may refuse, replaced by the one table (ReplaceUnsafe) before the names
    // are decided: in every part, or as the folder's drive needs ("/" everywhere, the others on
    // drives that refuse them).
    enum class Replacement { None, Table, ByDrive } replace = Replacement::None;
    // A second pass: each file must still be the one of the first pass, by its identity, and
    // each folder is locked when the run comes to it.
    const std::vector<FileIdentity>* expected = nullptr;
};

// Renames every listed MP3 file of FolderPath that has a tag, from that tag (ID3v1, else ID3v2,
// else APEv2), with the album and year selections as they stand. A file that cannot be read or
// renamed counts one in FailCount and the run goes on; FailCount ends as the number of files not
// renamed. A termination signal stops the run before the next file, as the observer's Cancel does.
// The fields end as the last tag read leaves them, and the path field empty. Throws Error, having
// touched nothing, when the folder cannot be opened or listed.
FolderReport RenameFolder(FieldModel& model, const FolderRunOptions& options = {});

// The same run over a tree walked from `root` (WalkFolder), folder after folder: every file is
// renamed in its own folder, which is opened again relative to its parent and checked to be
// the folder listed; the files of one that changed or vanished are not renamed.
FolderReport RenameTree(FieldModel& model, const OpenFolder& root, FolderTree tree,
                        const FolderRunOptions& options = {});

// The files a run refused for a character a drive may refuse (FolderReport::replaceable),
// renamed again, each in its folder, with such characters replaced by the one table: by the same
// rename that never replaces, under the folders' locks, each file only if it is still the one
// the first run saw. Journaled as a run of its own through options.journal. Throws FolderHeld
// when another Sorvane holds the chosen folder.
FolderReport RenameReplaceable(FieldModel& model, const OpenFolder& root, const FolderReport& first,
                               FolderRunOptions options);

} // namespace sorvane
