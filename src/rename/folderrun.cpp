#include "rename/folderrun.h"

#include "base/stoppolicy.h"
#include "rename/fieldmodel.h"
#include "rename/openfolder.h"
#include "rename/renamefailures.h"
#include "rename/renamefile.h"
#include "rename/tagloading.h"
#include "rename/tagreader.h"
#include "tag/codepage.h"
#include "tag/tagfailures.h"
#include "tag/tagrecord.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace sorvane
{

namespace
{

QString fieldText(const TagTextDecoder& decoder, const char* record, int offset, int size)
{
    return FieldModel::upToNul(decoder.decode(QByteArrayView(record + offset, size)));
}

// What loading the record into the fields would leave as name parts, decoding only the fields
// that go into the name: LoadTagFields, SelectionForTag and SelectedParts are the same rule on
// the window's route (tagloading.cpp, renamefile.cpp).
NameParts partsFromTag(const char* record, const TagTextDecoder& decoder, bool albumSelected,
                       bool yearSelected)
{
    using namespace TagLayout;
    NameParts parts;
    const QString recordTitle = decoder.decode(QByteArrayView(record + TitleOffset, TitleSize));
    parts.text[FieldModel::Title] = FieldModel::upToNul(recordTitle);
    parts.text[FieldModel::Artist] = fieldText(decoder, record, ArtistOffset, ArtistSize);
    const TitleArtistSelection selection =
        SelectionForTag(recordTitle, parts.text[FieldModel::Title], parts.text[FieldModel::Artist]);
    parts.selected[FieldModel::Title] = selection.title;
    parts.selected[FieldModel::Artist] = selection.artist;
    parts.selected[FieldModel::Album] = albumSelected;
    parts.selected[FieldModel::Year] = yearSelected;
    if (albumSelected)
        parts.text[FieldModel::Album] = fieldText(decoder, record, AlbumOffset, AlbumSize);
    if (yearSelected)
        parts.text[FieldModel::Year] = fieldText(decoder, record, YearOffset, YearSize);
    return parts;
}

} // namespace

FolderReport RenameFolder(FieldModel& model, const FolderRunOptions& options)
{
    FolderReport report;
    report.folder = model.FolderPath();
    const OpenFolder folder(report.folder);
    report.files = ListMp3Files(folder);
    const FolderSnapshot& files = report.files;
    const bool albumSelected = model.Check1(FieldModel::Album) == 1;
    const bool yearSelected = model.Check1(FieldModel::Year) == 1;
    const TagTextDecoder& decoder = TagTextDecoder::system();
    std::optional<std::array<char, TagLayout::RecordSize>> lastTag;
    model.setFailCount(0);
    {
        TagReader reader(folder, files, options.readAhead);
        const auto stopAt = [&](int first) {
            report.stopped = true;
            for (int rest = first; rest < files.size(); ++rest)
                report.notRenamed.push_back({rest, {&RenameFailure::NotReached, 0}});
        };
        for (int file = 0; file < files.size(); ++file) {
            if (StopRequested() || (options.observer && !options.observer->proceed(file, files))) {
                stopAt(file);
                break;
            }
            const TagRead read = reader.next(file);
            Outcome outcome = read.outcome;
            if (outcome.ok() && !HasTagMarker(QByteArrayView(read.record.data(), 3)))
                outcome = {&TagFailure::NoTag, 0};
            if (outcome.ok()) {
                lastTag = read.record;
                const QString name = ComposeName(
                    partsFromTag(read.record.data(), decoder, albumSelected, yearSelected));
                const RenameResult result = RenameToName(folder, files.name(file), folder, name);
                if (result.outcome.failure == &RenameFailure::NotReached) {
                    stopAt(file);
                    break;
                }
                if (!result.leftAs.isEmpty())
                    report.leftAside.emplace(file, result.leftAs);
                outcome = result.outcome;
            }
            if (!outcome.ok())
                report.notRenamed.push_back({file, outcome});
        }
    }
    if (lastTag) {
        Tag = ParseTagRecord(QByteArrayView(lastTag->data(), lastTag->size()), decoder);
        LoadTagFields(model);
    }
    model.setTxtFile(QString());
    model.setFailCount(
        int(std::min<std::size_t>(report.notRenamed.size(), std::numeric_limits<int>::max())));
    return report;
}

} // namespace sorvane
