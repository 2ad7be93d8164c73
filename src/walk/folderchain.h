#pragma once

#include "base/error.h"

#include <memory>
#include <utility>
#include <vector>

namespace sorvane
{

class FolderTree;
class OpenFolder;

// The folders of a tree opened again when their turn comes, each relative to its parent and
// checked to be still the folder the walk listed: 30,000 folders cannot all stay open. Folders
// are asked for in the tree's order; only the chain from the chosen folder down is held open.
class FolderChain
{
public:
    FolderChain(const OpenFolder& root, const FolderTree& tree);
    ~FolderChain();
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    // The folder, open; null when it vanished, is another folder now, or cannot be opened, with
    // why.
    const OpenFolder* open(int folder, Outcome& why);

private:
    const OpenFolder& m_root;
    const FolderTree& m_tree;
    std::vector<std::pair<int, std::unique_ptr<OpenFolder>>> m_chain; // below the root
};

} // namespace sorvane
