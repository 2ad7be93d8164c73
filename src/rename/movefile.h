#pragma once

#include <QString>

namespace sorvane
{

// Renames source to target within one file system and never replaces an existing target: the
// existence check and the rename are one step, so no other program can slip a file in between.
// Never copies: a target on another volume fails like any refused rename.
// Throws Error naming both paths and the reason.
void MoveFileNoReplace(const QString& source, const QString& target);

} // namespace sorvane
