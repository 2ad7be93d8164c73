#include "journal/runlist.h"

#include "base/syscalls.h"
#include "journal/evidence.h"
#include "journal/journalfiles.h"
#include "journal/journalreader.h"

#include <QDateTime>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <map>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace sorvane
{

namespace
{

// Older journals carry the time in their name only: "20261209-043629.123-...".
qint64 startedFromName(const QString& id)
{
    const QDateTime time =
        QDateTime::fromString(id.left(19), QStringLiteral("yyyyMMdd-HHmmss.zzz"));
    if (!time.isValid())
        return 0;
    QDateTime utc = time;
    utc.setTimeSpec(Qt::UTC);
    return utc.toMSecsSinceEpoch();
}

RunInfo infoOf(const QString& path)
{
    RunInfo run;
    run.path = path;
    run.id = JournalId(path);
    if (IsJournalLive(path)) {
        run.state = RunInfo::State::Live;
    }
    const JournalSummary summary = SummarizeJournal(path);
    const Journal& head = summary.head;
    run.kind = head.kind;
    run.folder = head.folder;
    run.started = head.started ? head.started : startedFromName(run.id);
    if (summary.refused) {
        run.state = RunInfo::State::Refused;
        run.reason = summary.reason;
        return run;
    }
    run.files = head.complete ? head.renamed : summary.entries;
    if (run.state == RunInfo::State::Live)
        return run;
    if (head.undone)
        run.state = RunInfo::State::Undone;
    else if (head.undoStarted)
        run.state = RunInfo::State::UndoUnfinished;
    else if (!head.complete)
        run.state = RunInfo::State::Interrupted;
    else
        run.state = RunInfo::State::Done;
    return run;
}

// The folders a run renamed in, from its journal.
std::set<QByteArray> foldersOf(const QString& path)
{
    std::set<QByteArray> folders;
    Journal journal;
    QString error;
    if (!ReadJournal(path, journal, error))
        return folders;
    for (const JournalEntry& entry : journal.entries) {
        if (!entry.named)
            folders.insert(EntryFolder(journal.folder, entry));
    }
    return folders;
}

} // namespace

bool RunInfo::undoable() const
{
    switch (state) {
    case State::Done:
    case State::Interrupted:
    case State::UndoUnfinished:
        return files > 0;
    case State::Live:
    case State::Undone:
    case State::Refused:
        break;
    }
    return false;
}

std::vector<RunInfo> ListRuns()
{
    std::vector<RunInfo> runs;
    const QStringList paths = JournalPaths();
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        RunInfo run = infoOf(*path);
        if (run.kind != JournalKind::Undo)
            runs.push_back(std::move(run));
    }
    return runs;
}

const RunInfo* NewestUndoable(const std::vector<RunInfo>& runs)
{
    for (const RunInfo& run : runs) {
        if (run.undoable())
            return &run;
    }
    return nullptr;
}

const RunInfo* NewerRunInTheWay(const std::vector<RunInfo>& runs, const RunInfo& run)
{
    std::set<QByteArray> mine;
    bool read = false;
    for (const RunInfo& newer : runs) {
        if (newer.path == run.path)
            break;
        const bool standing = newer.state == RunInfo::State::Live || newer.undoable();
        if (!standing)
            continue;
        if (!read) {
            mine = foldersOf(run.path);
            read = true;
        }
        for (const QByteArray& folder : foldersOf(newer.path)) {
            if (mine.count(folder) != 0)
                return &newer;
        }
    }
    return nullptr;
}

QString RunStateText(const RunInfo& run)
{
    switch (run.state) {
    case RunInfo::State::Live:
        return QStringLiteral("идёт сейчас");
    case RunInfo::State::Done:
        return QStringLiteral("выполнено");
    case RunInfo::State::Interrupted:
        return QStringLiteral("прервано");
    case RunInfo::State::UndoUnfinished:
        return QStringLiteral("отмена не завершена");
    case RunInfo::State::Undone:
        return QStringLiteral("отменено");
    case RunInfo::State::Refused:
        return QStringLiteral("отклонено: %1").arg(run.reason);
    }
    return QString();
}

QString RunTimeText(const RunInfo& run)
{
    if (run.started <= 0)
        return QStringLiteral("?");
    return QDateTime::fromMSecsSinceEpoch(run.started)
        .toLocalTime()
        .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

std::vector<FolderCheck> CheckFolders(const std::vector<QByteArray>& folders, int waitMs,
                                      std::vector<int>* errors)
{
    // Each folder once, by a few threads taking them in turn: a thread stuck on a dead mount
    // holds up only itself, and the caller waits no longer than it said.
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::vector<QByteArray> unique;
        std::vector<FolderCheck> checks;
        std::vector<int> errors;
        std::size_t next = 0;
        std::size_t left = 0;
    };
    const auto shared = std::make_shared<Shared>();
    std::map<QByteArray, std::size_t> index;
    std::vector<std::size_t> of;
    for (const QByteArray& folder : folders) {
        const auto [at, added] = index.emplace(folder, shared->unique.size());
        if (added)
            shared->unique.push_back(folder);
        of.push_back(at->second);
    }
    shared->checks.assign(shared->unique.size(), FolderCheck::NoAnswer);
    shared->errors.assign(shared->unique.size(), 0);
    shared->left = shared->unique.size();
    const auto work = [shared] {
        for (;;) {
            std::size_t i;
            QByteArray folder;
            {
                const std::lock_guard<std::mutex> lock(shared->mutex);
                if (shared->next >= shared->unique.size())
                    return;
                i = shared->next++;
                folder = shared->unique[i];
            }
            struct stat info = {};
            const bool present = Sys.fstatat(AT_FDCWD, folder.constData(), &info, 0) == 0 &&
                                 S_ISDIR(info.st_mode);
            const int error = present ? 0 : (errno ? errno : ENOTDIR);
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->checks[i] = present ? FolderCheck::Present : FolderCheck::Missing;
            shared->errors[i] = error;
            --shared->left;
            shared->done.notify_all();
        }
    };
    constexpr std::size_t Threads = 8;
    for (std::size_t t = 0; t < std::min(Threads, shared->unique.size()); ++t) {
        try {
            std::thread(work).detach();
        } catch (const std::system_error&) {
            if (t == 0)
                work(); // no thread to be had: asked here, unbounded
            break;
        }
    }
    std::vector<FolderCheck> checks;
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->done.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&shared] { return shared->left == 0; });
        for (const std::size_t i : of) {
            checks.push_back(shared->checks[i]);
            if (errors)
                errors->push_back(shared->errors[i]);
        }
    }
    return checks;
}

} // namespace sorvane
