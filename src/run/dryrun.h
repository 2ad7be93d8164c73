#pragma once

#include "run/renamefile.h"

#include <QByteArray>

#include <map>
#include <set>

namespace sorvane
{

class OpenFolder;

// The renames of a run worked out without making them, from the folders as they stand: a name
// held by another file (one the run has not moved yet included) is taken, a name an earlier file
// of the run took is taken, a name that already leads to the file is already its own. What only a
// rename finds out (permissions, a name the drive refuses, a file changed meanwhile) it cannot
// know.
class DryRun
{
public:
    // As RenameToName would answer for the file `from` of the folder the tree numbers `folder`.
    RenameResult rename(int folder, const OpenFolder& open, const char* from, const QByteArray& to);

private:
    std::map<int, std::set<QByteArray>> m_names; // each folder's names, listed when first needed
};

} // namespace sorvane
