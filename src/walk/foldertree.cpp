#include "walk/foldertree.h"

#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "names/printablename.h"
#include "names/renamefailures.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

namespace sorvane
{

int FolderTree::folderOf(int file) const
{
    // The last folder whose files start at or before `file` and that has files.
    const auto after = std::upper_bound(
        folders.begin(), folders.end(), file,
        [](int wanted, const TreeFolder& folder) { return wanted < folder.firstFile; });
    auto it = after;
    while (it != folders.begin()) {
        --it;
        if (file < it->firstFile + it->fileCount)
            return int(it - folders.begin());
    }
    return 0;
}

QByteArray FolderTree::relativePath(int folder) const
{
    QByteArray path;
    for (int at = folder; at > 0; at = folders[at].parent)
        path.prepend(path.isEmpty() ? QByteArray(folderName(at))
                                    : QByteArray(folderName(at)) + '/');
    return path;
}

QString FolderTree::displayFolder(int folder) const
{
    return PrintableName(relativePath(folder));
}

QString FolderTree::displayPath(int file) const
{
    const QByteArray folder = relativePath(folderOf(file));
    return PrintableName(folder.isEmpty() ? QByteArray(files.name(file))
                                          : folder + '/' + files.name(file));
}

int FolderTree::filesBelow() const
{
    return folders.empty() ? 0 : files.size() - folders.front().fileCount;
}

int FolderTree::foldersBelowWithFiles() const
{
    return int(std::count_if(folders.begin() + (folders.empty() ? 0 : 1), folders.end(),
                             [](const TreeFolder& folder) { return folder.fileCount > 0; }));
}

void FolderTree::keepChosenFolderOnly()
{
    if (folders.empty())
        return;
    // The chosen folder was listed first.
    files.keepFirst(folders.front().fileCount);
    folders.resize(1);
    skipped.clear();
    if (locks.size() > 1)
        locks.resize(1);
}

void FolderTree::releaseLocks()
{
    for (FolderLock& lock : locks)
        lock.release();
}

FolderTree FolderTree::subset(const std::vector<int>& keep) const
{
    FolderTree kept;
    kept.m_names = m_names;
    kept.folders = folders;
    kept.locks.resize(folders.size());
    std::size_t next = 0;
    for (std::size_t folder = 0; folder < folders.size(); ++folder) {
        TreeFolder& listed = kept.folders[folder];
        listed.firstFile = kept.files.size();
        const int end = folders[folder].firstFile + folders[folder].fileCount;
        while (next < keep.size() && keep[next] < end) {
            const char* name = files.name(keep[next]);
            kept.files.add(name, std::strlen(name), files.typeError(keep[next]));
            ++next;
        }
        listed.fileCount = kept.files.size() - listed.firstFile;
    }
    return kept;
}

int FolderTree::addFolder(int parent, const char* name, quint64 device, quint64 inode)
{
    TreeFolder folder;
    folder.parent = parent;
    folder.name = quint32(m_names.size());
    folder.device = device;
    folder.inode = inode;
    folder.firstFile = files.size();
    m_names.insert(m_names.end(), name, name + std::strlen(name) + 1);
    folders.push_back(folder);
    locks.emplace_back();
    return int(folders.size()) - 1;
}

namespace
{

// Deeper than this, a tree is a loop the file system hides or a mistake; each level holds a
// descriptor open while its folders are walked.
constexpr int DeepestFolder = 256;

class Walk
{
public:
    Walk(FolderTree& tree, WalkObserver* observer, const OpenFolder::Identity& root)
        : m_tree(tree), m_observer(observer), m_root(root)
    {
    }

    // Lists the open folder, locked, then walks its subfolders. False when the observer stopped
    // it. `offset` says whether the folder was opened for the walk (the chosen one may have been
    // listed before).
    bool walk(const OpenFolder& folder, int index, int depth, Listing::Offset offset)
    {
        std::vector<std::string> subfolders;
        const int code = ListFolder(folder, m_tree.files, &subfolders, offset);
        TreeFolder& listed = m_tree.folders[index];
        listed.fileCount = m_tree.files.size() - listed.firstFile;
        if (code != 0) {
            if (index == 0)
                throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                                .arg(QuotedPath(folder.path()), SystemReason(code)));
            skip(listed.parent, m_tree.folderName(index), {&RenameFailure::FolderUnreadable, code});
        }
        // Nothing to rename here: no reason to keep others out. The chosen folder stays locked
        // for the whole run.
        if (listed.fileCount == 0 && index != 0)
            m_tree.locks[index].release();
        if (m_observer &&
            !m_observer->walking(int(m_tree.folders.size()), m_tree.files.size(), folder.path()))
            return false;
        for (const std::string& name : subfolders) {
            if (!enter(folder, index, name.c_str(), depth))
                return false;
        }
        return true;
    }

    void visit(const OpenFolder::Identity& identity)
    {
        m_visited.insert({identity.device, identity.inode});
    }

private:
    // Opens, checks and locks one subfolder, then walks it. False when the observer stopped the
    // walk.
    bool enter(const OpenFolder& parent, int index, const char* name, int depth)
    {
        int error = 0;
        const std::unique_ptr<OpenFolder> child = OpenFolder::child(parent, name, error);
        OpenFolder::Identity identity;
        if (!child || !child->identity(identity, error)) {
            skip(index, name, {&RenameFailure::FolderUnreadable, error});
            return true;
        }
        // A folder seen before is a loop (a bind mount of the tree inside itself is also
        // another mount, but "walked already" says more).
        if (m_visited.count({identity.device, identity.inode}) != 0) {
            skip(index, name, {&RenameFailure::FolderWalked, 0});
            return true;
        }
        if (!identity.sameMount(m_root)) {
            skip(index, name, {&RenameFailure::OtherMount, 0});
            return true;
        }
        m_visited.insert({identity.device, identity.inode});
        if (depth + 1 > DeepestFolder) {
            skip(index, name, {&RenameFailure::FolderTooDeep, 0});
            return true;
        }
        // Another Sorvane's folder is left alone, with everything below it.
        FolderLock lock;
        switch (FolderLock::take(identity.device, identity.inode, lock, error)) {
        case FolderLock::Taken::Yes:
            break;
        case FolderLock::Taken::Held:
            skip(index, name, {&RenameFailure::FolderHeld, 0});
            return true;
        case FolderLock::Taken::Failed:
            skip(index, name, {&RenameFailure::FolderNotLocked, error});
            return true;
        }
        const int childIndex = m_tree.addFolder(index, name, identity.device, identity.inode);
        m_tree.locks[childIndex] = std::move(lock);
        // Opened above and not listed yet: its offset is at the first entry.
        return walk(*child, childIndex, depth + 1, Listing::Offset::AtStart);
    }

    void skip(int parent, const char* name, Outcome why)
    {
        m_tree.skipped.push_back({parent, QByteArray(name), why});
    }

    FolderTree& m_tree;
    WalkObserver* m_observer;
    OpenFolder::Identity m_root;
    std::set<std::pair<quint64, quint64>> m_visited;
};

} // namespace

FolderHeld::FolderHeld(const QString& folder)
    : Error(
          QStringLiteral("Папку %1 сейчас переименовывает другой Sorvane.").arg(QuotedPath(folder)))
{
}

FolderLock LockChosenFolder(const OpenFolder& folder)
{
    FolderLock lock;
    int error = 0;
    switch (FolderLock::take(folder.fd(), lock, error)) {
    case FolderLock::Taken::Yes:
        break;
    case FolderLock::Taken::Held:
        throw FolderHeld(folder.path());
    case FolderLock::Taken::Failed:
        throw Error(QStringLiteral("Папка %1 не тронута: %2.")
                        .arg(QuotedPath(folder.path()), LockFailureReason(error)));
    }
    return lock;
}

FolderTree WalkFolder(const OpenFolder& root, bool subfolders, WalkObserver* observer)
{
    FolderTree tree;
    OpenFolder::Identity identity;
    int error = 0;
    if (!root.identity(identity, error))
        throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                        .arg(QuotedPath(root.path()), SystemReason(error)));
    FolderLock lock = LockChosenFolder(root);
    tree.addFolder(-1, "", identity.device, identity.inode);
    tree.locks.front() = std::move(lock);
    if (!subfolders) {
        tree.files = ListMp3Files(root);
        tree.folders.front().fileCount = tree.files.size();
        return tree;
    }
    Walk walk(tree, observer, identity);
    walk.visit(identity);
    if (!walk.walk(root, 0, 0, Listing::Offset::Anywhere)) {
        tree.cancelled = true;
        tree.files = FolderSnapshot();
        tree.folders.resize(1);
        tree.folders.front().fileCount = 0;
        tree.skipped.clear();
        tree.releaseLocks();
        tree.locks.resize(1);
    }
    return tree;
}

} // namespace sorvane
