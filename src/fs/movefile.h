#pragma once

#include <functional>
#include <string>

struct stat;

namespace sorvane
{

class OpenFolder;
struct FileIdentity;

// What a move leaves on the way that a journal records before the step is taken, so a kill at
// any step is finished by the next run or undo.
enum class Leftover {
    Aside,       // the file under a temporary name "sorvane-PID-N.mp3"
    Reservation, // an empty file reserving a name, on drives without hard links
    SecondName,  // the file under both names, between link and unlink
};

// The journal's part in a move.
struct MoveRecords {
    // Told before the step that may leave `name` behind as that leftover; the step is taken
    // only once it returns.
    std::function<void(Leftover kind, const char* name)> before;
    // Told that a hard link was refused because the new name was taken: no second name came of
    // the SecondName told just before.
    std::function<void()> linkRefused;
    // Whether a journal of a run no longer alive records `name` as that leftover of a move of
    // this very file (the source of the move) to the same new name. Only then is an empty file
    // under the new name removed as a reservation, or the old name of a file found under both
    // removed to finish the move; otherwise both stay as they are.
    std::function<bool(Leftover kind, const char* name)> recorded;
};

struct MoveOptions {
    // What the source file is known by (size and digest of its bytes): on drives whose inode
    // numbers belong to names, two names of one file are told by it and the folder's listing.
    const FileIdentity* identity = nullptr;
    const MoveRecords* records = nullptr;
    // When a step failed and the file could not be given its old name back: the name it has now.
    std::string* leftAs = nullptr;
};

// Renames `from` in one open folder to `to` in another (or the same) and never replaces a
// different file that holds the new name, on any file system: the atomic RENAME_NOREPLACE where
// the file system has it, else a hard link and unlink, else a rename over a reservation of the
// new name made with O_EXCL. When the new name already leads to the same file, the move is
// finished: a change of letter case on a case-insensitive file system is carried out, and a move
// a journal shows was killed between link and unlink loses its old name. Never copies across file
// systems. Names are the file system's own bytes. Returns 0, or the system's error code; a
// different file holding the new name is EEXIST.
int MoveNoReplaceAt(const OpenFolder& fromFolder, const char* from, const OpenFolder& toFolder,
                    const char* to, const MoveOptions& options = {});

// Whether MoveNoReplaceAt's code means that a different file holds the new name.
bool IsTargetExists(int code);

// Whether it means that a termination signal came first, so the move did not begin.
bool IsStoppedBeforeMove(int code);

// Whether it means that the new name is already a second link to the file, which no journal
// records as a move: the file counts as named, and both names stay.
bool IsAlreadyNamed(int code);

// Removes the name only while it still holds exactly what Sorvane put there, as looked up right
// before: the same file, a regular one, and for a reservation still empty. 0 when removed, EEXIST
// when the name holds something else now, else the system's code.
int RemoveIfStill(int dir, const char* name, const struct stat& expected, bool empty);

} // namespace sorvane
