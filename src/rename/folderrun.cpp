#include "rename/folderrun.h"

#include "base/stoppolicy.h"
#include "rename/fieldmodel.h"
#include "rename/folderchain.h"
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

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace sorvane
{

namespace
{

// What loading the tag into the fields would leave as name parts: LoadTagFields,
// SelectionForTag and SelectedParts are the same rule on the window's route (tagloading.cpp,
// renamefile.cpp).
NameParts partsFromTag(const TagText& tag, bool albumSelected, bool yearSelected)
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
    // Only what goes into the name is decoded: the folder run reads one tag for every file.
    const unsigned wanted = TagField::bit(TagField::Title) | TagField::bit(TagField::Artist) |
                            (albumSelected ? TagField::bit(TagField::Album) : 0) |
                            (yearSelected ? TagField::bit(TagField::Year) : 0);
    std::optional<TagBytes> lastTag;
    model.setFailCount(0);
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
        for (int file = 0; file < total; ++file) {
            if (StopRequested() || (options.observer && !options.observer->proceed(file, files))) {
                stopAt(file);
                break;
            }
            const TagRead read = reader.next(file);
            if (const int now = files.folderOf(file); now != folderIndex) {
                folderIndex = now;
                folder = chain.open(folderIndex, folderFailure);
            }
            Outcome outcome = folder ? read.outcome : folderFailure;
            TagText tag;
            if (outcome.ok()) {
                tag = ParseTagBytes(read.bytes, decoder, wanted);
                if (tag.kind == TagKind::None)
                    outcome = {&TagFailure::NoTag, 0};
            }
            qint32 newName = -1;
            if (outcome.ok()) {
                lastTag = read.bytes;
                const NameVerdict verdict =
                    DecideName(partsFromTag(tag, albumSelected, yearSelected));
                outcome = verdict.refused;
                if (verdict.ok()) {
                    const RenameResult result =
                        RenameToName(*folder, files.files.name(file), *folder, verdict.name);
                    if (result.outcome.failure == &RenameFailure::NotReached) {
                        stopAt(file);
                        break;
                    }
                    if (!result.leftAs.isEmpty())
                        report.leftAside.emplace(file, result.leftAs);
                    outcome = result.outcome;
                    if (outcome.ok() && !result.alreadyNamed) {
                        ++report.renamed;
                        if (verdict.shortened)
                            report.shortened.emplace_back(file, report.keepName(verdict.name));
                    } else if (!outcome.ok()) {
                        newName = report.keepName(verdict.name);
                    }
                }
            }
            if (!outcome.ok())
                report.notRenamed.push_back({file, outcome, newName});
        }
    }
    if (lastTag) {
        const TagText tag = ParseTagBytes(*lastTag, decoder);
        if (lastTag->tailSize == TagLayout::RecordSize)
            Tag = ParseTagRecord(QByteArrayView(lastTag->tail.data(), lastTag->tailSize), decoder);
        LoadTagFields(model, tag);
        report.loaded = tag.kind;
    }
    model.setTxtFile(QString());
    model.setFailCount(
        int(std::min<std::size_t>(report.notRenamed.size(), std::numeric_limits<int>::max())));
    return report;
}

} // namespace sorvane
