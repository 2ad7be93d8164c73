#include "rename/folderrun.h"

#include "base/stoppolicy.h"
#include "rename/dryrun.h"
#include "rename/fieldmodel.h"
#include "rename/folderchain.h"
#include "rename/journal.h"
#include "rename/movefile.h"
#include "rename/namerules.h"
#include "rename/openfolder.h"
#include "rename/renamefailures.h"
#include "rename/renamefile.h"
#include "rename/tagloading.h"
#include "rename/tagreader.h"
#include "tag/codepage.h"
#include "tag/tagfailures.h"
#include "tag/tagrecord.h"
#include "tag/tagtext.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace sorvane
{

namespace
{

// Files named, and their renames journaled, at a time.
constexpr int BatchSize = 256;

// What loading the tag into the fields would leave as name parts: LoadTagFields,
// SelectionForTag and SelectedParts are the same rule on the window's route (tagloading.cpp,
// renamefile.cpp). `blank` gets the parts left out for want of text in the tag, for the reason.
NameParts partsFromTag(const TagText& tag, bool albumSelected, bool yearSelected, unsigned& blank)
{
    NameParts parts;
    const auto text = [&tag](TagField::Index field) {
        return FieldModel::upToNul(tag.text[field]);
    };
    parts.text[FieldModel::Title] = text(TagField::Title);
    parts.text[FieldModel::Artist] = text(TagField::Artist);
    const TitleArtistSelection selection = SelectionForTag(
        tag.blankTestTitle, parts.text[FieldModel::Title], parts.text[FieldModel::Artist]);
    parts.selected[FieldModel::Title] = selection.title;
    parts.selected[FieldModel::Artist] = selection.artist;
    blank = (selection.title ? 0u : 1u << FieldModel::Title) |
            (parts.text[FieldModel::Artist].isEmpty() ? 1u << FieldModel::Artist : 0u);
    parts.selected[FieldModel::Album] = albumSelected;
    parts.selected[FieldModel::Year] = yearSelected;
    if (albumSelected)
        parts.text[FieldModel::Album] = text(TagField::Album);
    if (yearSelected)
        parts.text[FieldModel::Year] = text(TagField::Year);
    return parts;
}

} // namespace

FolderReport RenameFolder(FieldModel& model, const FolderRunOptions& options)
{
    const QString path = model.FolderPath();
    const OpenFolder root(path);
    return RenameTree(model, root, WalkFolder(root, false), options);
}

FolderReport RenameTree(FieldModel& model, const OpenFolder& root, FolderTree tree,
                        const FolderRunOptions& options)
{
    FolderReport report;
    report.folder = root.path();
    report.tree = std::move(tree);
    const FolderTree& files = report.tree;
    const int total = files.files.size();
    const bool albumSelected = model.Check1(FieldModel::Album) == 1;
    const bool yearSelected = model.Check1(FieldModel::Year) == 1;
    const TagTextDecoder& decoder = TagTextDecoder::system();
    std::optional<TagRead> lastTag;
    model.setFailCount(0);
    JournalWriter* journal = options.journal;
    const bool inodes = root.keepsInodes();
    const QByteArray rootPath = QFile::encodeName(root.path());
    const auto relative = [&files](int folder, const QByteArray& name) {
        const QByteArray path = files.relativePath(folder);
        return path.isEmpty() ? name : path + '/' + name;
    };
    int entryNumber = -1; // the journal's number for the file being moved
    int movingFolder = 0;
    MoveJournal moveJournal;
    moveJournal.beforeAside = [&](const char* aside) {
        if (journal && entryNumber >= 0)
            journal->writeAside(entryNumber, relative(movingFolder, aside));
    };
    moveJournal.beforeReserve = [&] {
        if (journal && entryNumber >= 0)
            journal->writeReserve(entryNumber);
    };
    moveJournal.recorded = [&](const char* from, const char* to, const struct stat& source,
                               bool reserved) {
        const QByteArray below = files.relativePath(movingFolder);
        return JournalsRecordMove(below.isEmpty() ? rootPath : rootPath + '/' + below, from, to,
                                  source, reserved);
    };
    {
        TagReader reader(root, files, options.readAhead);
        FolderChain chain(root, files);
        int folderIndex = -1;
        const OpenFolder* folder = nullptr;
        Outcome folderFailure;
        const auto stopAt = [&](int first) {
            report.stopped = true;
            for (int rest = first; rest < total; ++rest)
                report.notRenamed.push_back({rest, {&RenameFailure::NotReached, 0}});
        };
        // A batch of files is read and named first, and its renames reach the journal in one
        // write before the first of them is made; then the files go through in order, as they
        // would one by one.
        struct Planned {
            Outcome outcome;
            NameVerdict verdict;
            QByteArray to;  // the name, as the file system's bytes
            int entry = -1; // in the journal
            // The tag, kept until the file's turn: the fields show the last file the run reached.
            std::optional<TagRead> tag;
            int codePage = 0; // where its tag was read in a page not the locale's
        };
        std::vector<Planned> batch;
        DryRun dryRun;
        int journalFolder = -1;
        QByteArray journalPath; // of journalFolder, below the root
        bool stopped = false;
        for (int first = 0; first < total && !stopped; first += BatchSize) {
            const int end = std::min(total, first + BatchSize);
            batch.assign(std::size_t(end - first), Planned());
            for (int file = first; file < end; ++file) {
                Planned& planned = batch[std::size_t(file - first)];
                TagRead read = reader.next(file);
                planned.outcome = read.outcome;
                if (!planned.outcome.ok())
                    continue;
                const TagText& tag = read.tag;
                if (tag.kind == TagKind::None) {
                    planned.outcome = {&TagFailure::NoTag, 0};
                    continue;
                }
                if (tag.codePage != decoder.codePage())
                    planned.codePage = tag.codePage;
                unsigned blank = 0;
                const NameParts parts = partsFromTag(tag, albumSelected, yearSelected, blank);
                planned.verdict = DecideName(parts, blank);
                planned.outcome = planned.verdict.refused;
                if (planned.outcome.ok())
                    planned.to = OpenFolder::nativeName(planned.verdict.name);
                if (planned.outcome.ok() && journal && !options.dryRun) {
                    const int at = files.folderOf(file);
                    if (at != journalFolder) {
                        journalFolder = at;
                        journalPath = files.relativePath(at);
                    }
                    planned.entry = journal->add(journalPath, files.files.name(file),
                                                 OpenFolder::nativeName(planned.verdict.name),
                                                 {read.bytes.size, read.bytes.modified,
                                                  inodes ? qint64(read.bytes.inode) : -1});
                }
                planned.tag = std::move(read);
            }
            if (journal && !journal->flush()) {
                // Said at the end: the renames from here on cannot be taken back.
                report.journalFailure = SystemReason(errno);
                journal = nullptr;
            }
            for (int file = first; file < end; ++file) {
                if (StopRequested() ||
                    (options.observer && !options.observer->proceed(file, files))) {
                    stopAt(file);
                    stopped = true;
                    break;
                }
                Planned& planned = batch[std::size_t(file - first)];
                Outcome outcome = planned.outcome;
                if (planned.tag)
                    lastTag = std::move(planned.tag);
                qint32 newName = -1;
                bool alreadyNamed = false;
                if (outcome.ok()) {
                    if (const int now = files.folderOf(file); now != folderIndex) {
                        folderIndex = now;
                        folder = chain.open(folderIndex, folderFailure);
                    }
                    outcome = folder ? outcome : folderFailure;
                }
                if (outcome.ok()) {
                    entryNumber = planned.entry;
                    movingFolder = folderIndex;
                    const NameVerdict& verdict = planned.verdict;
                    const RenameResult result =
                        options.dryRun ? dryRun.rename(folderIndex, *folder, files.files.name(file),
                                                       planned.to)
                                       : RenameToName(*folder, files.files.name(file), *folder,
                                                      planned.to, &moveJournal);
                    if (result.outcome.failure == &RenameFailure::NotReached) {
                        stopAt(file);
                        stopped = true;
                        break;
                    }
                    if (!result.leftAs.isEmpty())
                        report.leftAside.emplace(file, result.leftAs);
                    outcome = result.outcome;
                    alreadyNamed = result.alreadyNamed;
                    if (outcome.ok() && !result.alreadyNamed) {
                        ++report.renamed;
                        if (verdict.shortened)
                            report.shortened.emplace_back(file, report.keepName(verdict.name));
                    } else if (!outcome.ok()) {
                        newName = report.keepName(verdict.name);
                    }
                    if (outcome.ok() && planned.codePage != 0)
                        report.readInPage.push_back(
                            {file, planned.codePage, report.keepName(verdict.name)});
                }
                // A refused name is shown as it was made, so the user sees what to fix.
                if (!planned.verdict.ok() && !planned.verdict.made.isEmpty())
                    newName = report.keepName(MarkedName(planned.verdict));
                if (!outcome.ok())
                    report.notRenamed.push_back({file, outcome, newName, planned.codePage});
                if (options.observer) {
                    if (planned.codePage != 0)
                        options.observer->readInPage(file, planned.codePage);
                    options.observer->fileDone(file, outcome,
                                               outcome.ok() || newName >= 0 ? planned.verdict.name
                                                                            : QString(),
                                               outcome.ok() && alreadyNamed);
                }
            }
        }
        report.readers = reader.readers();
    }
    if (journal && !journal->close(report.renamed))
        report.journalFailure = SystemReason(errno);
    if (options.journal)
        report.journal = options.journal->path();
    if (lastTag) {
        const TagText& tag = lastTag->tag;
        const TagBytes& bytes = lastTag->bytes;
        if (bytes.tailSize == TagLayout::RecordSize)
            Tag = ParseTagRecord(QByteArrayView(bytes.tail.data(), bytes.tailSize),
                                 TagTextDecoder::forPage(tag.codePage));
        LoadTagFields(model, tag);
        report.loaded = tag.kind;
    }
    model.setTxtFile(QString());
    model.setFailCount(
        int(std::min<std::size_t>(report.notRenamed.size(), std::numeric_limits<int>::max())));
    return report;
}

} // namespace sorvane
