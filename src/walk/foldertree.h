#pragma once

#include "base/error.h"
#include "fs/folderlock.h"
#include "walk/foldersnapshot.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace sorvane
{

class OpenFolder;

// One folder of a tree, in the order of the run: a folder's own files, then its subfolders in the
// byte order of their names, each the same way.
struct TreeFolder {
    qint32 parent = -1; // -1 for the chosen folder
    quint32 name = 0;   // where its own name starts in the tree's folder names
    quint64 device = 0, inode = 0;
    qint32 firstFile = 0; // its files are files[firstFile, firstFile + fileCount)
    qint32 fileCount = 0;
};

// A folder the walk did not enter, and why: another mount, one already walked (a loop, a bind
// mount inside itself), or one that could not be opened or listed.
struct SkippedFolder {
    qint32 parent;
    QByteArray name;
    Outcome why;
};

// The MP3 files of a folder and, where asked, of the folders below it, listed before the first
// rename. Names are packed as a single folder's are; a folder's path is kept once, as its own name
// under its parent's, not per file.
class FolderTree
{
public:
    FolderSnapshot files;
    std::vector<TreeFolder> folders;
    std::vector<SkippedFolder> skipped;
    bool cancelled = false; // the walk was stopped before its end; nothing is to be renamed
    // The lock of each folder with files to rename, by folder, taken before it was listed; the
    // run lets each go once it is done there.
    std::vector<FolderLock> locks;

    const char* folderName(int folder) const { return m_names.data() + folders[folder].name; }
    // The folder of a file, by the files' ranges.
    int folderOf(int file) const;
    // Paths relative to the chosen folder, raw ("Artist/Album") and as they may be shown.
    QByteArray relativePath(int folder) const;
    QString displayFolder(int folder) const;
    QString displayPath(int file) const;

    // The MP3 files listed below the chosen folder (not its own), and the folders holding them.
    int filesBelow() const;
    int foldersBelowWithFiles() const;
    // The chosen folder's own files only, as a run without subfolders takes them; the other
    // folders' locks are let go.
    void keepChosenFolderOnly();
    // Lets every folder's lock go.
    void releaseLocks();

    int addFolder(int parent, const char* name, quint64 device, quint64 inode);

    // The same folders with only the files given (their numbers in this tree, in order): for a
    // second pass over some files of a run. Nothing is locked or skipped in it.
    FolderTree subset(const std::vector<int>& keep) const;

private:
    std::vector<char> m_names;
};

// A folder's path below the root, made once for a run of its files, not once for each.
class FolderPath
{
public:
    const QByteArray& of(const FolderTree& tree, int folder)
    {
        if (folder != m_folder) {
            m_folder = folder;
            m_path = tree.relativePath(folder);
        }
        return m_path;
    }

private:
    int m_folder = -1;
    QByteArray m_path;
};

// Told of the walk's progress folder by folder; answering false stops it.
class WalkObserver
{
public:
    virtual ~WalkObserver() = default;
    virtual bool walking(int folders, int files, const QString& folder) = 0;
};

// Lists the chosen folder and, with `subfolders`, every folder below it: entered relative to its
// parent, never through a symbolic link; hidden folders left out; another mount, a folder already
// walked or one another Sorvane is renaming in not entered. Each folder is locked before it is
// listed (FolderLock). Throws Error, having listed nothing, when the chosen folder cannot be
// locked or listed; FolderHeld when another Sorvane holds it.
FolderTree WalkFolder(const OpenFolder& root, bool subfolders, WalkObserver* observer = nullptr);

// The chosen folder of a run, an undo or a single rename is being renamed in by another Sorvane.
class FolderHeld : public Error
{
public:
    explicit FolderHeld(const QString& folder);
};

// Takes the lock of the chosen folder; throws FolderHeld, or Error when it cannot be taken.
FolderLock LockChosenFolder(const OpenFolder& folder);

} // namespace sorvane
