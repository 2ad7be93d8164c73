#include "journal/startupscan.h"

#include "journal/journalfiles.h"
#include "journal/journalreader.h"
#include "journal/runlist.h"
#include "journal/undo.h"

namespace sorvane
{

namespace
{

constexpr int FolderCheckMs = 1000;

} // namespace

StartUpScan ScanJournalsAtStart()
{
    StartUpScan scan;
    std::vector<Journal> candidates;
    const QStringList paths = JournalPaths();
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        if (IsJournalLive(*path))
            continue;
        JournalSummary summary = SummarizeJournal(*path);
        if (summary.refused) {
            scan.refused.emplace_back(*path, summary.reason);
            continue;
        }
        const Journal& head = summary.head;
        // A journal of an undo from an older version: its run is undone again to finish it.
        if (head.kind == JournalKind::Undo || head.undone || head.dismissed)
            continue;
        if (head.complete && !head.undoStarted)
            continue;
        // Only the end of a complete journal was read; an unfinished undo needs all of it.
        QString error;
        if (summary.entries < 0 && !ReadJournal(*path, summary.head, error)) {
            scan.refused.emplace_back(*path, error);
            continue;
        }
        candidates.push_back(std::move(summary.head));
    }
    // A folder that does not answer is passed over: listed with its state by --runs, asked about
    // once it is back.
    std::vector<QByteArray> folders;
    for (const Journal& journal : candidates)
        folders.push_back(journal.folder);
    const std::vector<FolderCheck> checks = CheckFolders(folders, FolderCheckMs);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Journal& journal = candidates[i];
        if (checks[i] != FolderCheck::Present)
            continue;
        const int underNewNames = FilesUnderNewNames(journal);
        if (underNewNames == 0)
            scan.nothingToAsk.push_back(journal.path);
        else
            scan.interrupted.push_back({journal.path, journal.folder, journal.started,
                                        underNewNames, journal.undoStarted});
    }
    return scan;
}

} // namespace sorvane
