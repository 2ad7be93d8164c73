#include "walk/foldertree.h"

#include "fs/openfolder.h"
#include "names/printablename.h"
#include "names/renamefailures.h"

#include <algorithm>
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

    // Lists the open folder, then walks its subfolders. False when the observer stopped it.
    bool walk(const OpenFolder& folder, int index, int depth)
    {
        std::vector<std::string> subfolders;
        const int code = ListFolder(folder, m_tree.files, &subfolders);
        m_tree.folders[index].fileCount = m_tree.files.size() - m_tree.folders[index].firstFile;
        if (code != 0) {
            if (index == 0)
                throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                                .arg(QuotedPath(folder.path()), SystemReason(code)));
            skip(m_tree.folders[index].parent, m_tree.folderName(index),
                 {&RenameFailure::FolderUnreadable, code});
        }
        if (m_observer &&
            !m_observer->walking(int(m_tree.folders.size()), m_tree.files.size(), folder.path()))
            return false;
        for (const std::string& name : subfolders) {
            int error = 0;
            const std::unique_ptr<OpenFolder> child =
                OpenFolder::child(folder, name.c_str(), error);
            if (!child) {
                skip(index, name.c_str(), {&RenameFailure::FolderUnreadable, error});
                continue;
            }
            // A folder seen before is a loop (a bind mount of the tree inside itself is also
            // another mount, but "walked already" says more).
            const OpenFolder::Identity identity = child->identity();
            if (m_visited.count({identity.device, identity.inode}) != 0) {
                skip(index, name.c_str(), {&RenameFailure::FolderWalked, 0});
                continue;
            }
            if (!identity.sameMount(m_root)) {
                skip(index, name.c_str(), {&RenameFailure::OtherMount, 0});
                continue;
            }
            m_visited.insert({identity.device, identity.inode});
            if (depth + 1 > DeepestFolder) {
                skip(index, name.c_str(), {&RenameFailure::FolderTooDeep, 0});
                continue;
            }
            const int childIndex =
                m_tree.addFolder(index, name.c_str(), identity.device, identity.inode);
            if (!walk(*child, childIndex, depth + 1))
                return false;
        }
        return true;
    }

    void visit(const OpenFolder::Identity& identity)
    {
        m_visited.insert({identity.device, identity.inode});
    }

private:
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

FolderTree WalkFolder(const OpenFolder& root, bool subfolders, WalkObserver* observer)
{
    FolderTree tree;
    const OpenFolder::Identity identity = root.identity();
    tree.addFolder(-1, "", identity.device, identity.inode);
    if (!subfolders) {
        tree.files = ListMp3Files(root);
        tree.folders.front().fileCount = tree.files.size();
        return tree;
    }
    Walk walk(tree, observer, identity);
    walk.visit(identity);
    if (!walk.walk(root, 0, 0)) {
        tree.cancelled = true;
        tree.files = FolderSnapshot();
        tree.folders.resize(1);
        tree.folders.front().fileCount = 0;
        tree.skipped.clear();
    }
    return tree;
}

} // namespace sorvane
