#pragma once

#include "fs/fileidentity.h"
#include "fs/movefile.h"
#include "journal/journalformat.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace sorvane
{

// What the journals of runs no longer alive say a kill may have left behind: Sorvane's own
// reservations, names aside and second names, each tied to the move (old and new name, the
// file's identity) it was made for. Only journals that may hold such things are read: not held by
// a living process, and either without an end or with an undo begun and not ended. A journal a
// living process holds is never evidence.
class JournalEvidence
{
public:
    // The journals whose folders lie at, above or below `folder` (an absolute path).
    static JournalEvidence load(const QByteArray& folder);

    bool empty() const { return m_journals.empty(); }

    // An entry recording the move of the file `from` of the folder `folder` (absolute) to `to`,
    // the file's identity matching; null when none does.
    const JournalEntry* moveOf(const QByteArray& folder, QByteArrayView from, QByteArrayView to,
                               const FileIdentity& now) const;

    // Whether that entry records `name` (in the same folder) as that kind of leftover.
    static bool records(const JournalEntry& entry, Leftover kind, QByteArrayView name);

    // The leftovers on record in a folder: each empty file or name aside with the entry it was
    // made for, names as the file system's bytes.
    struct Left {
        QByteArray name;
        const JournalEntry* entry;
        QByteArray entryFolder; // the absolute folder of the entry's names
    };
    std::vector<Left> leftoversIn(const QByteArray& folder) const;

private:
    std::vector<std::unique_ptr<Journal>> m_journals;
    // entries by the absolute folder of their names
    std::multimap<QByteArray, const JournalEntry*> m_byFolder;
};

// The absolute folder an entry's names lie in, from the journal's folder.
QByteArray EntryFolder(const QByteArray& journalFolder, const JournalEntry& entry);

// The name's last component.
QByteArray BaseName(const QByteArray& relative);

} // namespace sorvane
