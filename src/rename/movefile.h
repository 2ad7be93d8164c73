#pragma once

#include <QString>

namespace sorvane
{

class OpenFolder;

// Renames `from` in one open folder to `to` in another (or the same) and never replaces a
// different file that holds the new name, on any file system: the atomic RENAME_NOREPLACE where
// the file system has it, else a hard link and unlink, else a rename over a reservation of the
// new name made with O_EXCL. When the new name already leads to the same file, the move is
// finished: a change of letter case on a case-insensitive file system is carried out, and a move
// interrupted between link and unlink loses its old name. Never copies across file systems.
// Names are the file system's own bytes. Returns 0, or the system's error code; a different file
// holding the new name is EEXIST (ERROR_ALREADY_EXISTS on Windows).
int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to);

// Whether MoveNoReplaceAt's code means that a different file holds the new name.
bool IsTargetExists(int code);

// The same move by full paths. Throws Error naming both paths and the reason.
void MoveFileNoReplace(const QString& source, const QString& target);

// Makes SIGTERM, SIGINT, SIGHUP and SIGQUIT wait while a move takes more than one step, so a
// desktop that ends the program mid-run cannot leave a file under two names or a reservation in
// place of a rename. The program installs it once; without it these signals act at once.
void DeferTerminationDuringMoves();

} // namespace sorvane
