#include "rename/folderrun.h"

#include "rename/fieldmodel.h"
#include "rename/openfolder.h"
#include "rename/renamefile.h"
#include "rename/stoppolicy.h"
#include "rename/tagloading.h"
#include "tag/codepage.h"
#include "tag/tagrecord.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#else
#include <QDirIterator>
#include <windows.h>
#endif

namespace sorvane
{

QString FolderSnapshot::displayName(int file) const
{
    return OpenFolder::displayName(name(file));
}

void FolderSnapshot::add(const char* name, std::size_t length, int typeError)
{
    m_entries.push_back({quint32(m_names.size()), qint32(typeError)});
    m_names.insert(m_names.end(), name, name + length);
    m_names.push_back('\0');
}

void FolderSnapshot::sort()
{
    const char* names = m_names.data();
    std::sort(m_entries.begin(), m_entries.end(), [names](const Entry& a, const Entry& b) {
        return std::strcmp(names + a.offset, names + b.offset) < 0;
    });
}

namespace
{

bool isListedName(const char* name, std::size_t length)
{
    return name[0] != '.' && length > 4 && qstrnicmp(name + length - 4, ".mp3", 4) == 0;
}

[[noreturn]] void throwListingFailed(const QString& folder, int code)
{
    throw Error(QStringLiteral("Не удалось прочитать папку %1: %2.")
                    .arg(QuotedPath(folder), SystemReason(code)));
}

} // namespace

#ifdef Q_OS_UNIX

FolderSnapshot ListMp3Files(const OpenFolder& folder)
{
    // A descriptor of its own for the listing: closedir closes it, the folder's stays open.
    const int listing = Sys.openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        const int code = errno;
        if (listing >= 0)
            ::close(listing);
        throwListingFailed(folder.path(), code);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(entries, ::closedir);

    FolderSnapshot files;
    for (;;) {
        errno = 0;
        const dirent* entry = Sys.readdir(entries);
        if (!entry) {
            if (errno != 0)
                throwListingFailed(folder.path(), errno);
            break;
        }
        const std::size_t length = std::strlen(entry->d_name);
        if (!isListedName(entry->d_name, length))
            continue;
        // The listing tells the type on most file systems; asking lstat for every entry would
        // cost a system call per file.
        unsigned char type = entry->d_type;
        int typeError = 0;
        if (type == DT_UNKNOWN) {
            struct stat info = {};
            if (Sys.fstatat(folder.fd(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                typeError = errno;
            else if (S_ISREG(info.st_mode))
                type = DT_REG;
        }
        if (typeError == 0 && type != DT_REG)
            continue;
        files.add(entry->d_name, length, typeError);
    }
    files.sort();
    return files;
}

#else

FolderSnapshot ListMp3Files(const OpenFolder& folder)
{
    const QDir dir(folder.path());
    if (!dir.isReadable())
        throwListingFailed(folder.path(), ERROR_ACCESS_DENIED);
    FolderSnapshot files;
    QDirIterator it(folder.path(), QDir::Files | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        const QByteArray name = OpenFolder::nativeName(it.fileName());
        if (isListedName(name.constData(), std::size_t(name.size())))
            files.add(name.constData(), std::size_t(name.size()), 0);
    }
    files.sort();
    return files;
}

#endif

namespace
{

struct TagRead {
    Outcome outcome;
    std::array<char, TagLayout::RecordSize> record;
};

TagRead readTag(const OpenFolder& folder, const FolderSnapshot& files, int file)
{
    TagRead read;
    if (const int typeError = files.typeError(file); typeError != 0)
        read.outcome = {Failure::TypeUnreadable, typeError};
    else
        read.outcome = folder.readTagRecord(files.name(file), read.record.data());
    return read;
}

// Gives the snapshot's tags in order, read on a second thread some files ahead of the renames,
// or read right when asked. The two threads meet only through two counters; either sleeps only
// when it has to wait, and is woken only when it can go on by a good stretch, so a run pays for a
// sleep and a wake-up now and then rather than for every file.
class TagReader
{
public:
    TagReader(const OpenFolder& folder, const FolderSnapshot& files, bool ahead)
        : m_folder(folder), m_files(files)
    {
        if (!ahead || files.size() < 2)
            return;
        try {
            m_thread = std::thread([this] { readAhead(); });
        } catch (const std::system_error&) {
            // No thread to be had: read in turn.
        }
    }

    ~TagReader()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        wake(m_readerWaiting, m_readerWakes);
        m_thread.join();
    }

    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    // The tag of `file`; files are asked for in order, none twice.
    TagRead next(int file)
    {
        if (!m_thread.joinable())
            return readTag(m_folder, m_files, file);
        waitUntil(m_renamerWaiting, m_renamerWakes, [&] { return m_read > file; });
        const TagRead read = m_ring[std::size_t(file) % RingSize];
        m_taken = file + 1;
        if (file + 1 >= m_readerNeeds)
            wake(m_readerWaiting, m_readerWakes);
        return read;
    }

private:
    static constexpr int RingSize = 512;
    static constexpr int Stretch = RingSize / 2; // free slots the reader waits for when full
    static constexpr int SpinsBeforeSleep = 4000;

    static void relax()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    void readAhead()
    {
        for (int file = 0; file < m_files.size(); ++file) {
            if (file - m_taken >= RingSize) {
                m_readerNeeds = file - RingSize + Stretch;
                waitUntil(m_readerWaiting, m_readerWakes,
                          [&] { return m_stop || m_taken >= m_readerNeeds; });
            }
            if (m_stop)
                return;
            // The slot is free: the renaming thread took it and will not look at it again.
            m_ring[std::size_t(file) % RingSize] = readTag(m_folder, m_files, file);
            m_read = file + 1;
            wake(m_renamerWaiting, m_renamerWakes);
        }
    }

    // Sleeps until the condition holds. The flag is raised under the lock before the condition
    // is looked at, and the other side looks at the flag after changing what the condition reads,
    // so no wake-up is missed.
    template <typename Condition>
    void waitUntil(std::atomic<bool>& waiting, std::condition_variable& wakes, Condition ready)
    {
        // The other thread is usually a file's system calls away: looking again for a few
        // microseconds costs less than sleeping and being woken.
        for (int spin = 0; spin < SpinsBeforeSleep; ++spin) {
            if (ready())
                return;
            relax();
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        waiting = true;
        wakes.wait(lock, ready);
        waiting = false;
    }

    void wake(const std::atomic<bool>& waiting, std::condition_variable& wakes)
    {
        if (!waiting)
            return;
        const std::lock_guard<std::mutex> lock(m_mutex);
        wakes.notify_one();
    }

    const OpenFolder& m_folder;
    const FolderSnapshot& m_files;
    std::array<TagRead, RingSize> m_ring{};
    std::atomic<int> m_read{0};        // files read so far
    std::atomic<int> m_taken{0};       // files handed over so far
    std::atomic<int> m_readerNeeds{0}; // the reader sleeps until this many are taken
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_readerWaiting{false};
    std::atomic<bool> m_renamerWaiting{false};
    std::mutex m_mutex;
    std::condition_variable m_readerWakes;
    std::condition_variable m_renamerWakes;
    std::thread m_thread;
};

QString fieldText(const TagTextDecoder& decoder, const char* record, int offset, int size)
{
    return FieldModel::upToNul(decoder.decode(QByteArrayView(record + offset, size)));
}

// What loading the record into the fields would leave as name parts, decoding only the fields
// that go into the name.
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
                report.notRenamed.push_back({rest, {Failure::NotReached, 0}});
        };
        for (int file = 0; file < files.size(); ++file) {
            if (StopRequested() || (options.observer && !options.observer->proceed(file, files))) {
                stopAt(file);
                break;
            }
            const TagRead read = reader.next(file);
            Outcome outcome = read.outcome;
            if (outcome.ok() && !HasTagMarker(QByteArrayView(read.record.data(), 3)))
                outcome = {Failure::NoTag, 0};
            if (outcome.ok()) {
                lastTag = read.record;
                const QString name = ComposeName(
                    partsFromTag(read.record.data(), decoder, albumSelected, yearSelected));
                const RenameResult result = RenameToName(folder, files.name(file), folder, name);
                if (result.outcome.failure == Failure::NotReached) {
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

QString DetailsText(const FolderReport& report)
{
    QString text = QStringLiteral("Папка %1.\n").arg(QuotedPath(report.folder));
    if (report.files.size() == 0)
        return text + QStringLiteral("В ней нет файлов MP3.");
    if (report.notRenamed.empty())
        return QString(); // "Готово!" says it all
    // Tens of thousands of lines share a handful of reasons: each is made once, and the text is
    // sized once, as it may take megabytes.
    std::map<std::pair<Failure, int>, QString> reasons;
    std::vector<const QString*> reasonOf; // per line; map entries stay where they are
    reasonOf.reserve(report.notRenamed.size());
    qsizetype length = text.size() + 20;
    for (const NotRenamed& file : report.notRenamed) {
        QString& reason = reasons[{file.outcome.failure, file.outcome.error}];
        if (reason.isNull())
            reason = Reason(file.outcome);
        reasonOf.push_back(&reason);
        length += qsizetype(std::strlen(report.files.name(file.file))) + reason.size() + 6;
    }
    text.reserve(length);
    text += QStringLiteral("Не переименованы:");
    for (std::size_t i = 0; i < report.notRenamed.size(); ++i) {
        const int file = report.notRenamed[i].file;
        if (const auto aside = report.leftAside.find(file); aside != report.leftAside.end()) {
            // Named as it is now, so the user finds it.
            text += QStringLiteral("\n«%1» (было «%2»)")
                        .arg(OpenFolder::displayName(aside->second.constData()),
                             report.files.displayName(file));
        } else {
            text += QStringLiteral("\n«") + report.files.displayName(file) + QStringLiteral("»");
        }
        text += QStringLiteral(": ") + *reasonOf[i] + QLatin1Char('.');
    }
    return text;
}

} // namespace sorvane
