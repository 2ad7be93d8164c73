#pragma once

#include "base/error.h"
#include "names/nameparts.h"
#include "run/fieldmodel.h"

#include <QString>

namespace sorvane
{

class OpenFolder;
struct MoveOptions;

// The parts as the fields and selections stand now.
NameParts SelectedParts(const FieldModel& model);

// ComposeName over the fields and selections as they stand now.
QString ComposeName(const FieldModel& model);

// Folder and name joined by the platform's separator; a folder that already ends with one gets
// no second, so both spellings name the same file.
QString JoinPath(const QString& folder, const QString& name);

struct RenameResult {
    Outcome outcome;
    bool alreadyNamed = false; // the file has that name already and nothing was done
    QByteArray leftAs; // with RenameFailure::LeftAside: the name the file has now, in fromFolder
};

// Renames the file `from` of fromFolder to `name` in toFolder, a name DecideName allowed: the one
// rename that both a single file and the folder run go through. RenameFailure::NotReached when a
// termination signal came before the move began.
// `to` is the name as the file system's bytes (OpenFolder::nativeName).
RenameResult RenameToName(const OpenFolder& fromFolder, const char* from,
                          const OpenFolder& toFolder, const QByteArray& to,
                          const MoveOptions& options);

enum class RenameOutcome {
    Renamed,
    AlreadyNamed,    // the file already has the composed name: nothing to do
    NothingSelected, // no part selected: nothing renamed, FailCount grew by one
};

struct RenamedFile {
    RenameOutcome outcome = RenameOutcome::Renamed;
    QString name;           // the name it has now, when renamed or already named
    bool shortened = false; // the composed name was over 255 bytes and cut
    QString journalFailure; // why the rename could not be journaled, where it could not
    QString timeNotKept;    // why the drive's change of the file's time could not be undone
};

// A name refused for a character a drive may refuse ("/" by the name rules, the others by the
// drive): which one, and the name the file would get with such characters replaced
// (ReplaceUnsafe), where that name passes the rules.
class CharacterRefused : public Error
{
public:
    CharacterRefused(const QString& message, QChar character, const QString& replaced)
        : Error(message), m_character(character), m_replaced(replaced)
    {
    }
    QChar character() const { return m_character; }
    const QString& replaced() const { return m_replaced; }

private:
    QChar m_character;
    QString m_replaced;
};

// Renames the file of the path field to the composed name inside FolderPath, by the name rules
// (DecideName), holding the folder's lock. Never replaces a file, never moves one out of
// FolderPath on account of tag text. Throws Error when refused: CharacterRefused for a
// character a drive may refuse, FolderHeld when another Sorvane renames in the folder.
// `journaled`: written first to a journal of its own, so it can be taken back like a run.
// `replaceUnsafe`: the parts' characters a drive may refuse replaced first.
RenamedFile RenameFile(FieldModel& model, bool journaled = false, bool replaceUnsafe = false);

} // namespace sorvane
