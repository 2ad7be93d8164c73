#include "walk/folderchain.h"

#include "fs/openfolder.h"
#include "names/renamefailures.h"
#include "walk/foldertree.h"

namespace sorvane
{

FolderChain::FolderChain(const OpenFolder& root, const FolderTree& tree)
    : m_root(root), m_tree(tree)
{
}

FolderChain::~FolderChain() = default;

const OpenFolder* FolderChain::open(int folder, Outcome& why)
{
    if (folder == 0)
        return &m_root;
    const int parent = m_tree.folders[folder].parent;
    while (!m_chain.empty() && m_chain.back().first != parent && m_chain.back().first != folder)
        m_chain.pop_back();
    if (!m_chain.empty() && m_chain.back().first == folder)
        return m_chain.back().second.get();
    const OpenFolder* above = (m_chain.empty() && parent == 0) ? &m_root : nullptr;
    if (!above && !m_chain.empty() && m_chain.back().first == parent)
        above = m_chain.back().second.get();
    if (!above && !(above = open(parent, why)))
        return nullptr;
    int error = 0;
    std::unique_ptr<OpenFolder> opened =
        OpenFolder::child(*above, m_tree.folderName(folder), error);
    if (!opened) {
        why = error == ENOENT || error == ENOTDIR || error == ELOOP
                  ? Outcome{&RenameFailure::FolderChanged, 0}
                  : Outcome{&RenameFailure::FolderUnreadable, error};
        return nullptr;
    }
    OpenFolder::Identity identity;
    const TreeFolder& listed = m_tree.folders[folder];
    if (!opened->identity(identity, error)) {
        why = {&RenameFailure::FolderUnreadable, error};
        return nullptr;
    }
    if (identity.device != listed.device || identity.inode != listed.inode) {
        why = {&RenameFailure::FolderChanged, 0};
        return nullptr;
    }
    m_chain.emplace_back(folder, std::move(opened));
    return m_chain.back().second.get();
}

} // namespace sorvane
