#include "run/folderrun.h"

#include "base/stoppolicy.h"
#include "fs/fileidentity.h"
#include "fs/folderlock.h"
#include "fs/modifiedtime.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "fs/spellings.h"
#include "journal/evidence.h"
#include "journal/journalwriter.h"
#include "journal/moverecords.h"
#include "names/namerules.h"
#include "names/renamefailures.h"
#include "names/unsafecharacters.h"
#include "run/dryrun.h"
#include "run/fieldmodel.h"
#include "run/renamefile.h"
#include "run/tagloading.h"
#include "run/tagreader.h"
#include "tag/codepage.h"
#include "tag/tagfailures.h"
#include "tag/tagrecord.h"
#include "tag/tagtext.h"
#include "walk/folderchain.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

// Files named, and their renames journaled, at a time.
constexpr int BatchSize = 256;

// A file of a batch, read and named, waiting for its turn.
struct Planned {
    Outcome outcome;
    NameVerdict verdict;
    QByteArray to;  // the name, as the file system's bytes
    int entry = -1; // in the journal
    FileIdentity identity;
    qint64 modified = -1; // its time when read, to put back where a rename changes it
    int codePage = 0;     // where its tag was read in a page not the locale's
    // Where the name holds a character a drive may refuse: the name with such characters
    // replaced, should it be refused for one.
    QString replaced;
    // The tag, kept until the file's turn: the fields show the last file the run reached.
    std::optional<TagRead> tag;
};

// One run over a tree: batches of files read and named first, their renames journaled in one
// write, then moved one by one in the tree's order, each folder's lock let go once the run has
// left it.
class TreeRun
{
public:
    TreeRun(FieldModel& model, const OpenFolder& root, FolderTree tree,
            const FolderRunOptions& options)
        : m_model(model), m_root(root), m_options(options), m_journal(options.journal),
          m_rootPath(QFile::encodeName(QDir::cleanPath(root.path()))),
          m_albumSelected(model.Check1(FieldModel::Album) == 1),
          m_yearSelected(model.Check1(FieldModel::Year) == 1)
    {
        m_report.folder = root.path();
        m_report.tree = std::move(tree);
        if (!options.dryRun)
            m_evidence = JournalEvidence::load(m_rootPath);
    }

    FolderReport run()
    {
        m_model.setFailCount(0);
        const FolderTree& files = m_report.tree;
        const int total = files.files.size();
        {
            TagReader reader(m_root, files, m_options.readAhead);
            FolderChain chain(m_root, files);
            for (int first = 0; first < total && !m_stopped; first += BatchSize) {
                const int end = std::min(total, first + BatchSize);
                plan(reader, first, end);
                writeAhead();
                for (int file = first; file < end && !m_stopped; ++file)
                    turn(chain, file);
            }
            m_report.readers = reader.readers();
        }
        // Every rename and repair is done: no folder stays locked behind the summary.
        m_report.tree.releaseLocks();
        if (m_journal && !m_journal->close(m_report.renamed))
            journalFailed();
        if (m_options.journal)
            m_report.journal = m_options.journal->path();
        loadLastTag();
        m_model.setTxtFile(QString());
        m_model.setFailCount(int(
            std::min<std::size_t>(m_report.notRenamed.size(), std::numeric_limits<int>::max())));
        return std::move(m_report);
    }

private:
    const FolderTree& tree() const { return m_report.tree; }

    QByteArray absolute(int folder) const
    {
        const QByteArray below = tree().relativePath(folder);
        return below.isEmpty() ? m_rootPath : m_rootPath + '/' + below;
    }

    // The parts with the characters replaced that the run was asked to replace.
    NameParts replacing(const NameParts& parts) const
    {
        using Replacement = FolderRunOptions::Replacement;
        switch (m_options.replace) {
        case Replacement::None:
            break;
        case Replacement::Table:
            return ReplaceUnsafe(parts);
        case Replacement::ByDrive:
            return m_root.traits().refusesWindowsCharacters ? ReplaceUnsafe(parts)
                                                            : ReplaceSeparators(parts);
        }
        return parts;
    }

    // Reads and names the files of a batch, and gathers their journal entries.
    void plan(TagReader& reader, int first, int end)
    {
        const FolderTree& files = tree();
        m_batch.assign(std::size_t(end - first), Planned());
        m_batchFirst = first;
        for (int file = first; file < end; ++file) {
            Planned& planned = m_batch[std::size_t(file - first)];
            TagRead read = reader.next(file);
            planned.outcome = read.outcome;
            if (!planned.outcome.ok())
                continue;
            const TagText& tag = read.tag;
            if (tag.kind == TagKind::None) {
                planned.outcome = {&TagFailure::NoTag, 0};
                continue;
            }
            if (tag.codePage != m_decoder.codePage())
                planned.codePage = tag.codePage;
            unsigned blank = 0;
            const NameParts parts =
                replacing(PartsFromTag(tag, m_albumSelected, m_yearSelected, &blank));
            planned.verdict = DecideName(parts, blank);
            planned.outcome = planned.verdict.refused;
            if (HasUnsafeCharacter(planned.verdict.made)) {
                const NameVerdict other = DecideName(ReplaceUnsafe(parts), blank);
                if (other.ok())
                    planned.replaced = other.name;
            }
            const TagBytes& bytes = read.bytes;
            planned.modified = bytes.modified;
            planned.identity = read.identity;
            planned.tag = std::move(read);
            // A second pass renames only the file the first one saw.
            if (m_options.expected &&
                !SameIdentity((*m_options.expected)[std::size_t(file)], planned.identity))
                planned.outcome = {&RenameFailure::FileChanged, 0};
            if (!planned.outcome.ok())
                continue;
            planned.to = OpenFolder::nativeName(planned.verdict.name);
            // A file that has its name already is not moved, so not journaled either.
            const char* name = files.files.name(file);
            if (m_journal && !m_options.dryRun && planned.to != name) {
                planned.entry = m_journal->add(m_plannedPath.of(files, files.folderOf(file)), name,
                                               planned.to, planned.identity, planned.modified);
            }
        }
    }

    // The batch's renames reach the journal in one write before the first of them is made.
    void writeAhead()
    {
        if (m_journal && !m_journal->flush())
            journalFailed();
    }

    void journalFailed()
    {
        // Said at the end: the renames from here on cannot be taken back.
        if (m_report.journalFailure.isEmpty())
            m_report.journalFailure =
                SystemReason(m_options.journal ? m_options.journal->error() : 0);
        m_journal = nullptr;
    }

    void stopAt(int first)
    {
        m_report.stopped = true;
        m_stopped = true;
        for (int rest = first; rest < tree().files.size(); ++rest)
            m_report.notRenamed.push_back({rest, {&RenameFailure::NotReached, 0}});
    }

    // The folder of the file, open; on the way, the folder left behind is let go and the
    // leftovers of killed moves in the new one are cleared away.
    const OpenFolder* enter(FolderChain& chain, int folder)
    {
        if (folder == m_folderIndex)
            return m_folder;
        if (m_folderIndex > 0)
            m_report.tree.locks[std::size_t(m_folderIndex)].release();
        m_folderIndex = folder;
        m_folder = chain.open(folder, m_folderFailure);
        // A second pass had no walk: its folders are locked as it comes to them.
        if (m_folder && m_options.expected && !m_report.tree.locks[std::size_t(folder)].held()) {
            int error = 0;
            switch (
                FolderLock::take(m_folder->fd(), m_report.tree.locks[std::size_t(folder)], error)) {
            case FolderLock::Taken::Yes:
                break;
            case FolderLock::Taken::Held:
                m_folderFailure = {&RenameFailure::FolderHeld, 0};
                m_folder = nullptr;
                break;
            case FolderLock::Taken::Failed:
                m_folderFailure = {&RenameFailure::FolderNotLocked, error};
                m_folder = nullptr;
                break;
            }
        }
        if (m_folder && !m_evidence.empty())
            clearLeftovers(folder, *m_folder);
        return m_folder;
    }

    // Empty files and names aside that an earlier run, killed, left here for a file that is now
    // found under another of its names: proven Sorvane's and empty, they go.
    void clearLeftovers(int folder, const OpenFolder& open)
    {
        for (const JournalEvidence::Left& left : m_evidence.leftoversIn(absolute(folder))) {
            struct stat info = {};
            if (Sys.fstatat(open.fd(), left.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode) || info.st_size != 0 || left.entry->identity.size <= 0 ||
                !fileIsElsewhere(open, *left.entry, left.name) ||
                !LookInListing(open.fd(), left.name.constData()).exact)
                continue;
            if (RemoveIfStill(open.fd(), left.name.constData(), info, true) != 0)
                continue;
            m_report.leftoversRemoved.emplace_back(folder, left.name);
            const TreeFolder& listed = tree().folders[std::size_t(folder)];
            const FolderSnapshot& files = tree().files;
            for (int file = listed.firstFile; file < listed.firstFile + listed.fileCount; ++file) {
                if (left.name == files.name(file))
                    m_removed.insert(file);
            }
        }
    }

    static bool fileIsElsewhere(const OpenFolder& open, const JournalEntry& entry,
                                const QByteArray& leftover)
    {
        std::vector<QByteArray> names = {BaseName(entry.oldName), BaseName(entry.newName)};
        for (const QByteArray& aside : entry.asides)
            names.push_back(BaseName(aside));
        return std::any_of(names.begin(), names.end(), [&](const QByteArray& name) {
            return name != leftover &&
                   IdentityAt(open.fd(), name.constData(), entry.identity) == Found::Same;
        });
    }

    // One file's turn: moved to its name, or counted with its reason.
    void turn(FolderChain& chain, int file)
    {
        const FolderTree& files = tree();
        if (StopRequested() || (m_options.observer && !m_options.observer->proceed(file, files))) {
            stopAt(file);
            return;
        }
        Planned& planned = m_batch[std::size_t(file - m_batchFirst)];
        if (planned.tag)
            m_lastTag = std::move(planned.tag);
        Outcome outcome = planned.outcome;
        // Entered whatever became of the read: its leftovers are cleared on the way in.
        const OpenFolder* folder = enter(chain, files.folderOf(file));
        if (m_removed.count(file) != 0)
            return; // an earlier run's leftover, removed and listed as such
        if (outcome.ok() && !folder)
            outcome = m_folderFailure;
        qint32 newName = -1;
        bool alreadyNamed = false;
        if (outcome.ok()) {
            const RenameResult result = move(*folder, file, planned);
            if (result.outcome.failure == &RenameFailure::NotReached) {
                stopAt(file);
                return;
            }
            if (!result.leftAs.isEmpty())
                m_report.leftAside.emplace(file, result.leftAs);
            outcome = result.outcome;
            alreadyNamed = result.alreadyNamed;
            if (!outcome.ok())
                newName = m_report.keepName(planned.verdict.name);
            else if (!alreadyNamed)
                renamed(*folder, file, planned);
            else if (m_journal && planned.entry >= 0)
                m_journal->addRecord("named", planned.entry);
        }
        // A refused name is shown as it was made, so the user sees what to fix.
        if (!planned.verdict.ok() && !planned.verdict.made.isEmpty())
            newName = m_report.keepName(MarkedName(planned.verdict));
        if (!outcome.ok()) {
            NotRenamed failed{file, outcome, newName, planned.codePage};
            if (refusedForCharacter(folder, file, outcome, planned)) {
                failed.replaced = m_report.keepName(planned.replaced);
                m_report.replaceable.push_back({file, planned.identity});
            }
            m_report.notRenamed.push_back(failed);
        }
        if (m_options.observer) {
            if (planned.codePage != 0)
                m_options.observer->readInPage(file, planned.codePage);
            m_options.observer->fileDone(
                file, outcome, outcome.ok() || newName >= 0 ? planned.verdict.name : QString(),
                outcome.ok() && alreadyNamed);
        }
    }

    // Whether the name was refused for a character a drive may refuse, which another name, with
    // such characters replaced, would not be.
    bool refusedForCharacter(const OpenFolder* folder, int file, const Outcome& outcome,
                             const Planned& planned) const
    {
        if (planned.replaced.isEmpty())
            return false;
        bool sourceThere = true;
        if (outcome.error == ENOENT && folder) {
            struct stat info = {};
            sourceThere =
                Sys.fstatat(folder->fd(), tree().files.name(file), &info, AT_SYMLINK_NOFOLLOW) == 0;
        }
        return RefusedForCharacter(outcome, planned.verdict.made, sourceThere);
    }

    RenameResult move(const OpenFolder& folder, int file, const Planned& planned)
    {
        const char* from = tree().files.name(file);
        if (m_options.dryRun)
            return m_dryRun.rename(m_folderIndex, folder, from, planned.to);
        // Paths are made only where a record or a look at the evidence needs them.
        const MoveRecords records = RecordMovesOf(
            m_journal, planned.entry,
            m_journal && planned.entry >= 0 ? m_movedPath.of(tree(), m_folderIndex) : QByteArray(),
            [this] { journalFailed(); },
            [this, from, &planned](Leftover kind, const char* name) {
                if (m_evidence.empty())
                    return false;
                const JournalEntry* entry =
                    m_evidence.moveOf(absolute(m_folderIndex), from, planned.to, planned.identity);
                return entry && JournalEvidence::records(*entry, kind, name);
            });
        MoveOptions options;
        options.identity = &planned.identity;
        options.records = &records;
        return RenameToName(folder, from, folder, planned.to, options);
    }

    void renamed(const OpenFolder& folder, int file, const Planned& planned)
    {
        ++m_report.renamed;
        if (planned.verdict.shortened)
            m_report.shortened.emplace_back(file, m_report.keepName(planned.verdict.name));
        if (planned.codePage != 0)
            m_report.readInPage.push_back(
                {file, planned.codePage, m_report.keepName(planned.verdict.name)});
        if (m_options.dryRun)
            return;
        bool setsTime = false;
        if (const int error =
                KeepModifiedTime(folder, planned.to.constData(), planned.modified, &setsTime))
            m_report.timeNotKept.emplace_back(file, error);
        // So an undo puts back the times of files whose rename a kill left unfinished too.
        if (setsTime && m_journal && !m_journal->markSetsTime())
            journalFailed();
    }

    // The fields show the tag of the last file the run reached, as a run in turn leaves them.
    void loadLastTag()
    {
        if (!m_lastTag)
            return;
        const TagText& tag = m_lastTag->tag;
        const TagBytes& bytes = m_lastTag->bytes;
        if (bytes.tailSize == TagLayout::RecordSize)
            Tag = ParseTagRecord(QByteArrayView(bytes.tail.data(), bytes.tailSize),
                                 TagTextDecoder::forPage(tag.codePage));
        LoadTagFields(m_model, tag);
        m_report.loaded = tag.kind;
    }

    FieldModel& m_model;
    const OpenFolder& m_root;
    const FolderRunOptions& m_options;
    JournalWriter* m_journal;
    const QByteArray m_rootPath;
    const bool m_albumSelected;
    const bool m_yearSelected;
    const TagTextDecoder& m_decoder = TagTextDecoder::system();
    JournalEvidence m_evidence;
    FolderReport m_report;
    std::vector<Planned> m_batch;
    int m_batchFirst = 0;
    bool m_stopped = false;
    int m_folderIndex = -1;
    const OpenFolder* m_folder = nullptr;
    Outcome m_folderFailure;
    // Planning runs a batch ahead of the moves, so each keeps its own.
    FolderPath m_plannedPath, m_movedPath;
    std::set<int> m_removed; // files that were an earlier run's leftovers
    std::optional<TagRead> m_lastTag;
    DryRun m_dryRun;
};

} // namespace

FolderReport RenameFolder(FieldModel& model, const FolderRunOptions& options)
{
    const OpenFolder root(model.FolderPath());
    return RenameTree(model, root, WalkFolder(root, false), options);
}

FolderReport RenameTree(FieldModel& model, const OpenFolder& root, FolderTree tree,
                        const FolderRunOptions& options)
{
    return TreeRun(model, root, std::move(tree), options).run();
}

FolderReport RenameReplaceable(FieldModel& model, const OpenFolder& root, const FolderReport& first,
                               FolderRunOptions options)
{
    std::vector<int> files;
    std::vector<FileIdentity> expected;
    for (const Replaceable& file : first.replaceable) {
        files.push_back(file.file);
        expected.push_back(file.identity);
    }
    FolderTree tree = first.tree.subset(files);
    tree.locks.front() = LockChosenFolder(root);
    options.replace = FolderRunOptions::Replacement::Table;
    options.expected = &expected;
    return RenameTree(model, root, std::move(tree), options);
}

} // namespace sorvane
