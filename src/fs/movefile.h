#pragma once

#include <QString>

#include <functional>
#include <string>

struct stat;

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
// holding the new name is EEXIST (ERROR_ALREADY_EXISTS on Windows). When a step failed and the
// file could not be given its old name back, *leftAs is the name it has now.
struct MoveJournal;
int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to, std::string* leftAs = nullptr,
                    const MoveJournal* journal = nullptr);

// What the journal of a run has to do with its moves.
struct MoveJournal {
    // Told the name aside before a case-only move takes it, so it is on record first.
    std::function<void(const char* aside)> beforeAside;
    // Told before a new name is reserved with an empty file (drives without hard links).
    std::function<void()> beforeReserve;
    // Whether a journal records the move of this file (`source`) from `from` to `to`. Two links
    // to one file are a move killed between link and unlink only then (and the move is
    // finished); an empty file under the new name is the reservation of a killed move only then
    // (and is removed). Otherwise both stay as they are.
    std::function<bool(const char* from, const char* to, const struct stat& source, bool reserved)>
        recorded;
};

// Whether MoveNoReplaceAt's code means that a different file holds the new name.
bool IsTargetExists(int code);

// Whether it means that a termination signal came first, so the move did not begin.
bool IsStoppedBeforeMove(int code);

// Whether it means that the new name is already a second link to the file, which no journal
// records as a move: the file counts as named, and both names stay.
bool IsAlreadyNamed(int code);

} // namespace sorvane
