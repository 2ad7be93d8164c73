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
        // Only the end of a complete journal was read; an unfinished undo needs all of it.
        QString error;
        if (head.complete && head.undoStarted && !head.undone && summary.entries < 0 &&
            !ReadJournal(*path, summary.head, error)) {
            scan.refused.emplace_back(*path, error);
            continue;
        }
        // A journal of an undo from an older version: its run is undone again to finish it.
        if (head.kind == JournalKind::Undo || head.undone)
            continue;
        const bool interrupted = !head.complete;
        if ((!interrupted && !head.undoStarted) || head.dismissed)
            continue;
        if (CheckFolders({head.folder}, FolderCheckMs).front() != FolderCheck::Present)
            continue; // listed with its state by --runs; asked about once the folder is back
        const int underNewNames = FilesUnderNewNames(head);
        if (underNewNames == 0) {
            scan.nothingToAsk.push_back(*path);
            continue;
        }
        if (underNewNames > 0)
            scan.interrupted.push_back(
                {*path, head.folder, head.started, underNewNames, head.undoStarted});
    }
    return scan;
}

} // namespace sorvane
