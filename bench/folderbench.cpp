// Folder-run throughput against the least a program can do for the same work, measured side by
// side in one process on fresh copies of the same synthetic collection.
//
//   build/bench/folderbench [N ...] [--dir PARENT] [--reps R] [--only METHOD[,METHOD...]]
//                           [--tree FOLDERS] [--id3v2-half] [--realistic] [--slow-us U]
//                           [--latency-us U]
//   build/bench/folderbench --write N DIR [--tree FOLDERS] [--id3v2-half] [--realistic]
//   build/bench/folderbench --floor DIR
//
// Prints, for each N, the time per file of the floor (plain POSIX calls), the ratio to it of the
// folder run over the in-memory field model and through the real window, each reading tags in
// turn and reading them ahead, and the peak resident memory of every run.
//
// --tree FOLDERS spreads the N files over FOLDERS folders two levels deep (a00001/b01/...), and
// every run walks the tree (the floor too: it lists every folder first). --id3v2-half gives every
// second file an ID3v2.3 tag at its start instead of an ID3v1 record at its end. --realistic makes
// a collection as taggers leave one: album folders of 12 files, ID3v2.3 and 2.4 tags in the
// encodings the mutagen and eyeD3 libraries write, 1-4 KiB of padding, a cover of 20-300 KiB in
// 84% of the files (before the text frames in a third of those), an ID3v1 copy in a quarter.
// The floor reads the last 128 bytes, and where there is no ID3v1 record or its title or artist
// fills the field, walks the ID3v2 frame headers from a first read of 4 KiB, skipping every
// frame but TIT2 and TPE1 by its size.
// --slow-us U makes every rename, the floor's included, wait U microseconds first, as on a slow
// USB stick. --latency-us U makes every file-system call of every run wait U microseconds first,
// in the calling thread, as a round trip to a network share would. --only METHOD (floor, model,
// window, model-ahead, window-ahead), or several separated by commas, runs those methods alone
// and prints, for each, its time per file, its wall and CPU time against the floor's (where the
// floor ran: the medians' ratio, and the least run's against the floor's least), its bytes read
// and file-system calls per file, and its peak memory. --write makes one collection and exits,
// for runs timed from outside; --floor DIR runs the floor over DIR and prints its time, for the
// same. Besides time, every run's CPU time (all threads), bytes read and file-system calls per
// file are counted.
//
// Collections are written and synced to their own file system (syncfs, never the whole machine's
// sync) before each timed run, so no run pays for writing back the collection it renames.

#include "base/syscalls.h"
#include "fs/openfolder.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/scripteddialogs.h"
#include "support/tagfiles.h"
#include "ui/frmmain.h"
#include "walk/foldertree.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

constexpr int AudioSize = 3 * 1024;

long g_slowMicros = 0;
long g_latencyMicros = 0;
int g_treeFolders = 0;
bool g_id3v2Half = false;
bool g_realistic = false;

void waitMicros(long micros)
{
    if (micros > 0) {
        const timespec wait = {micros / 1000000, (micros % 1000000) * 1000};
        ::nanosleep(&wait, nullptr);
    }
}

std::atomic<long> g_calls{0};
std::atomic<long long> g_bytesRead{0};

void counted()
{
    g_calls.fetch_add(1, std::memory_order_relaxed);
}

// Every file-system call of every run, the floor's and Sorvane's (through its table of system
// calls), waits the round trip first, and is counted.
struct Calls {
    static int openat(int dir, const char* name, int flags, mode_t mode)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::openat(dir, name, flags, mode);
    }
    static int fstat(int fd, struct stat* info)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::fstat(fd, info);
    }
    static int fstatat(int dir, const char* name, struct stat* info, int flags)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::fstatat(dir, name, info, flags);
    }
    static ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
    {
        counted();
        waitMicros(g_latencyMicros);
        const ssize_t got = ::pread(fd, buffer, count, offset);
        g_bytesRead.fetch_add(got > 0 ? got : 0, std::memory_order_relaxed);
        return got;
    }
    static ssize_t write(int fd, const void* buffer, size_t count)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::write(fd, buffer, count);
    }
    static int fsync(int fd)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::fsync(fd);
    }
    static int close(int fd)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::close(fd);
    }
    static int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
    {
        counted();
        waitMicros(g_latencyMicros + g_slowMicros);
        return ::renameat2(fromDir, from, toDir, to, flags);
    }
    static int renameat(int fromDir, const char* from, int toDir, const char* to)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::renameat(fromDir, from, toDir, to);
    }
    static int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::linkat(fromDir, from, toDir, to, flags);
    }
    static int unlinkat(int dir, const char* name, int flags)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::unlinkat(dir, name, flags);
    }
    static int statx(int dir, const char* name, int flags, unsigned mask, struct statx* info)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::statx(dir, name, flags, mask, info);
    }
    // The floor's listing costs a round trip per folder, not per entry.
    static dirent* readdir(DIR* dir) { return ::readdir(dir); }
    // The program's: one per batch of entries the kernel hands over.
    static ssize_t getdents64(int dir, void* buffer, size_t length)
    {
        counted();
        waitMicros(g_latencyMicros);
        return ::getdents64(dir, buffer, length);
    }
    // Moving a descriptor's offset asks nothing of the drive, a network share's included.
    static off_t lseek(int fd, off_t offset, int whence)
    {
        counted();
        return ::lseek(fd, offset, whence);
    }
    static int inotify_init1(int flags)
    {
        counted();
        return ::inotify_init1(flags);
    }
    static int fstatfs(int fd, struct statfs* info)
    {
        counted();
        return ::fstatfs(fd, info);
    }

    static void install()
    {
        sorvane::SystemCalls& sys = sorvane::Sys;
        sys.openat = openat;
        sys.fstat = fstat;
        sys.fstatat = fstatat;
        sys.pread = pread;
        sys.close = close;
        sys.renameat2 = renameat2;
        sys.renameat = renameat;
        sys.linkat = linkat;
        sys.unlinkat = unlinkat;
        sys.statx = statx;
        sys.getdents64 = getdents64;
        sys.lseek = lseek;
        sys.write = write;
        sys.fsync = fsync;
        sys.inotify_init1 = inotify_init1;
        sys.fstatfs = fstatfs;
    }
};

// Where the i-th file goes: the collection's folder, or one of g_treeFolders folders two levels
// below it.
fs::path folderOf(const fs::path& dir, int i, int n)
{
    if (g_treeFolders <= 0)
        return dir;
    const int folder = int(qint64(i) * g_treeFolders / n);
    char top[16], below[16];
    std::snprintf(top, sizeof top, "a%05d", folder / 10);
    std::snprintf(below, sizeof below, "b%02d", folder % 10);
    return dir / top / below;
}

// One file of the realistic collection: its name in the folder, and its bytes.
QByteArray realisticFile(int i, std::minstd_rand& random)
{
    const int album = i / 12;
    const int tagOf = (i % 25 == 13) ? i - 1 : i; // collides with the file before it
    QByteArray title = (i % 9 == 4) ? "The Longest Song Title Number " + QByteArray::number(tagOf) +
                                          " Ever Put on Record"
                                    : "Song " + QByteArray::number(tagOf);
    if (i % 25 == 7)
        title.clear(); // no title: not renamed
    const QByteArray artist = "Artist " + QByteArray::number(album / 4);
    const QByteArray albumName = "Album " + QByteArray::number(album);
    const int major = random() % 2 ? 3 : 4;
    // eyeD3 writes Latin-1 where it can, mutagen UTF-8 (2.4) or UTF-16 (2.3).
    const char encoding = char(major == 4 ? (random() % 3 ? 3 : 0) : (random() % 2 ? 1 : 0));
    const auto frame = [&](const char* id, const QByteArray& value) {
        return testing::Frame{id, testing::text(encoding, QString::fromLatin1(value))};
    };
    QList<testing::Frame> frames;
    const bool cover = random() % 100 < 84;
    const bool coverFirst = cover && random() % 3 == 0;
    testing::Frame picture{"APIC",
                           QByteArray("\0image/jpeg\0\3\0", 14) +
                               QByteArray(int(20 * 1024 + random() % (280 * 1024)), char(0xD8))};
    if (coverFirst)
        frames << picture;
    if (!title.isEmpty())
        frames << frame("TIT2", title);
    frames << frame("TPE1", artist) << frame("TALB", albumName)
           << frame("TRCK", QByteArray::number(i % 12 + 1))
           << frame(major == 4 ? "TDRC" : "TYER", "2001") << frame("TCON", "Rock");
    if (cover && !coverFirst)
        frames << picture;
    QByteArray bytes = testing::id3v2Tag(major, frames, int(1024 + random() % (3 * 1024))) +
                       QByteArray(16 * 1024, char(0xFB));
    if (i % 4 == 1)
        bytes += testing::tagRecord({title.left(30), artist, albumName, "2001"});
    return bytes;
}

// A fresh collection of n files, made one file at a time so the benchmark holds none of it in
// memory. Every tenth file has a blank title, every tenth shares its tag with the file before it,
// so its name collides. The folder must be new or empty: nothing already there is removed.
bool writeCollection(const fs::path& dir, int n)
{
    fs::create_directories(dir);
    if (!fs::is_empty(dir)) {
        std::fprintf(stderr, "%s: not empty, not written into\n", dir.c_str());
        return false;
    }
    std::minstd_rand random(20261209);
    for (int i = 0; i < n && g_realistic; ++i) {
        const int album = i / 12;
        char folder[64], name[32];
        std::snprintf(folder, sizeof folder, "Artist %03d/Album %04d", album / 4, album);
        std::snprintf(name, sizeof name, "%02d track.mp3", i % 12 + 1);
        const QByteArray bytes = realisticFile(i, random);
        fs::create_directories(dir / folder);
        std::ofstream out(dir / folder / name, std::ios::binary);
        out.write(bytes.constData(), bytes.size());
    }
    for (int i = 0; i < n && !g_realistic; ++i) {
        const int tagOf = (i % 10 == 5) ? i - 1 : i;
        testing::V1Tag tag;
        tag.title = (i % 10 == 7) ? QByteArray() : "Song " + QByteArray::number(tagOf);
        tag.artist = "Artist " + QByteArray::number(tagOf % 97);
        tag.album = "Album";
        tag.year = "2001";
        char name[32];
        std::snprintf(name, sizeof name, "track%06d.mp3", i);
        QByteArray bytes;
        if (g_id3v2Half && i % 2 == 1) {
            bytes = testing::id3v2Tag(3,
                                      {{"TIT2", testing::text(0, QString::fromLatin1(tag.title))},
                                       {"TPE1", testing::text(0, QString::fromLatin1(tag.artist))},
                                       {"TALB", testing::text(0, "Album")},
                                       {"TYER", testing::text(0, "2001")}},
                                      256) +
                    QByteArray(AudioSize, char(i));
        } else {
            bytes = testing::mp3Bytes(tag, AudioSize, char(i));
        }
        const fs::path folder = folderOf(dir, i, n);
        fs::create_directories(folder);
        std::ofstream out(folder / name, std::ios::binary);
        out.write(bytes.constData(), bytes.size());
    }
    return true;
}

// A text frame's value as the names are written: Latin-1 and UTF-8 as they are, UTF-16 (all
// names of the bench are ASCII) by its low bytes.
std::string frameText(const char* body, quint32 size)
{
    std::string text;
    if (size < 1)
        return text;
    const char encoding = body[0];
    if (encoding == 1 || encoding == 2) {
        const quint32 start = encoding == 1 ? 3 : 1;
        const int low = encoding == 1 && quint8(body[1]) == 0xFE ? 1 : 0;
        for (quint32 at = start; at + 1 < size; at += 2) {
            if (body[at] == 0 && body[at + 1] == 0)
                break;
            text += body[at + low];
        }
        return text;
    }
    text.assign(body + 1, strnlen(body + 1, size - 1));
    return text;
}

// TIT2 and TPE1 of the ID3v2.3 or 2.4 tag at the start of the file: frame headers walked from a
// first read of 4 KiB, every other frame skipped by its size, a read wherever the next header
// or a wanted body lies past what was read.
void framesOf(int fd, std::string& title, std::string& artist)
{
    static thread_local std::vector<char> buffer(8192);
    ssize_t got = Calls::pread(fd, buffer.data(), 4096, 0);
    if (got < 10 || std::memcmp(buffer.data(), "ID3", 3) != 0)
        return;
    const bool v4 = buffer[3] == 4;
    const auto size = [v4](const char* p) {
        return v4 ? quint32(p[0] & 0x7F) << 21 | quint32(p[1] & 0x7F) << 14 |
                        quint32(p[2] & 0x7F) << 7 | quint32(p[3] & 0x7F)
                  : quint32(quint8(p[0])) << 24 | quint32(quint8(p[1])) << 16 |
                        quint32(quint8(p[2])) << 8 | quint32(quint8(p[3]));
    };
    const off_t end = 10 + off_t(quint32(buffer[6] & 0x7F) << 21 | quint32(buffer[7] & 0x7F) << 14 |
                                 quint32(buffer[8] & 0x7F) << 7 | quint32(buffer[9] & 0x7F));
    off_t start = 0; // the file offset of buffer[0]
    off_t at = 10;
    while (at + 10 <= end && (title.empty() || artist.empty())) {
        if (at + 10 > start + got) {
            start = at;
            got = Calls::pread(fd, buffer.data(), 4096, at);
            if (got < 10)
                return;
        }
        const char* header = buffer.data() + (at - start);
        if (header[0] == 0)
            return;
        const quint32 length = size(header + 4);
        const bool wantedTitle = std::memcmp(header, "TIT2", 4) == 0;
        const bool wantedArtist = std::memcmp(header, "TPE1", 4) == 0;
        if (wantedTitle || wantedArtist) {
            if (at + 10 + off_t(length) > start + got) {
                buffer.resize(std::max<std::size_t>(buffer.size(), length + 4096));
                start = at;
                got = Calls::pread(fd, buffer.data(), 10 + length + 4096, at);
                if (got < 10 + ssize_t(length))
                    return;
                header = buffer.data();
            }
            (wantedTitle ? title : artist) = frameText(header + 10, length);
        }
        at += 10 + off_t(length);
    }
}

// The floor: list (every folder of a tree, first), read the last 128 bytes (or the first 4 KiB
// of a file without them), compose artist_title.mp3, rename without replacing.
int floorRun(const std::string& root)
{
    // Every folder's path below the root and its files, depth first, a folder's files before
    // its folders, as the program walks; no folder stays open (a tree may hold thousands).
    struct Folder {
        std::string path;
        std::vector<std::string> names;
    };
    std::vector<Folder> folders;
    const int rootFd = Calls::openat(AT_FDCWD, root.c_str(), O_RDONLY | O_DIRECTORY, 0);
    std::function<void(int, const std::string&)> walk = [&](int fd, const std::string& path) {
        Folder folder{path, {}};
        std::vector<std::string> subfolders;
        DIR* d = ::fdopendir(Calls::openat(fd, ".", O_RDONLY | O_DIRECTORY, 0));
        while (const dirent* e = Calls::readdir(d)) {
            const std::size_t len = std::strlen(e->d_name);
            if (e->d_name[0] == '.')
                continue;
            if (e->d_type == DT_DIR)
                subfolders.emplace_back(e->d_name);
            else if (e->d_type == DT_REG && len > 4 && strcasecmp(e->d_name + len - 4, ".mp3") == 0)
                folder.names.emplace_back(e->d_name);
        }
        waitMicros(g_latencyMicros);
        ::closedir(d);
        std::sort(folder.names.begin(), folder.names.end());
        std::sort(subfolders.begin(), subfolders.end());
        folders.push_back(std::move(folder));
        for (const std::string& name : subfolders) {
            const int child =
                Calls::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
            walk(child, path.empty() ? name : path + '/' + name);
            Calls::close(child);
        }
    };
    walk(rootFd, std::string());
    int failures = 0;
    char record[4096];
    for (const Folder& folder : folders) {
        if (folder.names.empty())
            continue;
        const int dir = folder.path.empty()
                            ? rootFd
                            : Calls::openat(rootFd, folder.path.c_str(), O_RDONLY | O_DIRECTORY, 0);
        for (const std::string& name : folder.names) {
            const int fd = Calls::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC, 0);
            struct stat st;
            if (fd < 0 || Calls::fstat(fd, &st) != 0 || st.st_size < 128 ||
                Calls::pread(fd, record, 128, st.st_size - 128) != 128) {
                if (fd >= 0)
                    Calls::close(fd);
                ++failures;
                continue;
            }
            std::string title, artist;
            // A record whose title and artist fit their fields says all; a full one may be cut.
            if (std::memcmp(record, "TAG", 3) == 0 && std::memchr(record + 3, 0, 30) &&
                std::memchr(record + 33, 0, 30)) {
                title.assign(record + 3, strnlen(record + 3, 30));
                artist.assign(record + 33, strnlen(record + 33, 30));
            } else {
                framesOf(fd, title, artist);
            }
            Calls::close(fd);
            if (title.empty()) {
                ++failures;
                continue;
            }
            const std::string target = artist + '_' + title + ".mp3";
            if (Calls::renameat2(dir, name.c_str(), dir, target.c_str(), RENAME_NOREPLACE) != 0)
                ++failures;
        }
        if (dir != rootFd)
            Calls::close(dir);
    }
    Calls::close(rootFd);
    return failures;
}

// Freed memory goes back to the system first, so a run's peak is its own, not what the run before
// left in the allocator.
void resetPeakMemory()
{
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Writes back what the collection left dirty on its own file system only: a whole-machine sync()
// flushes every other program's data too, and took minutes on a busy ext4.
void syncOwnFileSystem(const fs::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

double cpuSeconds()
{
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char* const MethodNames[] = {"floor", "model", "window", "model-ahead", "window-ahead"};
constexpr int MethodCount = int(std::size(MethodNames));

} // namespace

int main(int argc, char* argv[])
{
    // The floor alone starts no Qt: timed from outside, it pays for nothing but its own calls.
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0) {
        Calls::install();
        QElapsedTimer timer;
        timer.start();
        const int failures = floorRun(argv[2]);
        std::printf("floor: %.3f s, %d not renamed\n", timer.nsecsElapsed() / 1e9, failures);
        return 0;
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<int> sizes;
    fs::path parent = fs::current_path();
    int reps = 0; // 3 below 100,000 files, else 1
    int only = -1;
    std::pair<int, std::string> write = {0, std::string()};
    std::vector<bool> chosen(MethodCount, true);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--write") == 0 && i + 2 < argc) {
            write = {std::atoi(argv[i + 1]), argv[i + 2]};
            i += 2;
        } else if (std::strcmp(argv[i], "--tree") == 0 && i + 1 < argc) {
            g_treeFolders = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--id3v2-half") == 0) {
            g_id3v2Half = true;
        } else if (std::strcmp(argv[i], "--realistic") == 0) {
            g_realistic = true;

        } else if (std::strcmp(argv[i], "--latency-us") == 0 && i + 1 < argc) {
            g_latencyMicros = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            parent = argv[++i];
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            const std::string list = std::string(",") + argv[++i] + ",";
            chosen.assign(MethodCount, false);
            int count = 0;
            for (int m = 0; m < MethodCount; ++m) {
                if (list.find(std::string(",") + MethodNames[m] + ",") != std::string::npos) {
                    chosen[std::size_t(m)] = true;
                    only = count++ == 0 ? m : -2;
                }
            }
        } else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--slow-us") == 0 && i + 1 < argc) {
            g_slowMicros = std::atol(argv[++i]);
        } else {
            sizes.push_back(std::atoi(argv[i]));
        }
    }
    if (!write.second.empty()) {
        const bool written = writeCollection(write.second, write.first);
        syncOwnFileSystem(write.second);
        return written ? 0 : 1;
    }
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    Calls::install();
    // Work in a fresh folder of our own, so cleaning up can never touch what --dir already held.
    std::string pattern = (parent / "folderbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror(pattern.c_str());
        return 1;
    }
    const fs::path base = pattern;
    struct RemoveOnExit {
        fs::path path;
        ~RemoveOnExit() { fs::remove_all(path); }
    } cleanup{base};

    // The program's summary makes no text of its details until the user copies or saves them; the
    // test's dialogs would, and so time and keep it.
    struct BenchDialogs : testing::ScriptedDialogs {
        sorvane::SummaryChoice showSummary(QWidget*, const sorvane::Summary&) override
        {
            return sorvane::SummaryChoice::Close;
        }
    } dialogs;
    sorvane::frmMain window(dialogs);
    window.show();
    QCoreApplication::processEvents();

    if (only == -1) {
        std::printf("%8s %9s %9s | %7s %7s %7s %7s | %-34s\n", "N", "floor us", "best us", "model",
                    "window", "m-ahead", "w-ahead", "peak MiB: floor model window m-a w-a");
    }
    const fs::path dir = base / "run";
    for (const int n : sizes) {
        std::vector<double> times[MethodCount], cpus[MethodCount], bytes[MethodCount],
            calls[MethodCount];
        double peaks[MethodCount] = {};
        int expectedFailures = -1;
        const int runs = reps > 0 ? reps : n >= 100000 ? 1 : 3;
        for (int rep = 0; rep < runs; ++rep) {
            // Rotate the order so no method always runs on the warmest cache.
            for (int k = 0; k < MethodCount; ++k) {
                const int method = (rep + k) % MethodCount;
                if (!chosen[std::size_t(method)])
                    continue;
                // Every run starts alike: the last run's folder deleted, a fresh one written, both
                // synced. Keeping them all instead would fill tmpfs at 300,000 files.
                fs::remove_all(dir);
                if (!writeCollection(dir, n))
                    return 1;
                syncOwnFileSystem(dir);
                const bool ahead = method >= 3;
                int failures = 0;
                QElapsedTimer timer;
                resetPeakMemory();
                g_calls = 0;
                g_bytesRead = 0;
                const double cpuBefore = cpuSeconds();
                timer.start();
                if (method == 0) {
                    failures = floorRun(dir.native());
                } else if (method == 1 || method == 3) {
                    // The window's route without the window: walk, then run over the tree.
                    sorvane::MemoryFieldModel model;
                    const sorvane::OpenFolder root(QString::fromStdString(dir.native()));
                    sorvane::FolderRunOptions options;
                    options.readAhead = ahead;
                    failures = int(
                        sorvane::RenameTree(model, root, sorvane::WalkFolder(root, true), options)
                            .notRenamed.size());
                } else {
                    window.setReadAhead(ahead);
                    dialogs.folderAnswers.enqueue(QString::fromStdString(dir.native()));
                    dialogs.answers.enqueue(sorvane::Answer::Yes);
                    window.FolderRun();
                    failures = window.FailCount();
                }
                times[method].push_back(timer.nsecsElapsed() / 1e9);
                cpus[method].push_back(cpuSeconds() - cpuBefore);
                bytes[method].push_back(double(g_bytesRead) / n);
                calls[method].push_back(double(g_calls) / n);
                peaks[method] = std::max(peaks[method], peakMemoryMiB());
                if (expectedFailures >= 0 && failures != expectedFailures) {
                    std::fprintf(stderr, "N=%d: %s counted %d failures, another %d\n", n,
                                 MethodNames[method], failures, expectedFailures);
                    return 1;
                }
                expectedFailures = failures;
            }
        }
        if (only != -1) {
            // Each method run, with the floor's ratios where the floor ran too.
            const bool floorRan = chosen[0];
            std::printf("%8s %-13s %10s %6s %6s %8s %7s %10s %10s %9s\n", "N", "method", "us/file",
                        "wall", "cpu", "wall-min", "cpu-min", "KB read/f", "calls/f", "peak MiB");
            for (int m = 0; m < MethodCount; ++m) {
                if (!chosen[std::size_t(m)])
                    continue;
                // The medians' ratio, and the least runs' ratio: on a shared machine, time the
                // host takes from a run only ever adds to it, so the least run is the least noisy.
                const auto ratio = [&](const std::vector<double>* of, bool least) {
                    if (!floorRan)
                        return 0.0;
                    return least ? *std::min_element(of[m].begin(), of[m].end()) /
                                       *std::min_element(of[0].begin(), of[0].end())
                                 : median(of[m]) / median(of[0]);
                };
                std::printf("%8d %-13s %10.2f %6.2f %6.2f %8.2f %7.2f %10.2f %10.2f %9.1f\n", n,
                            MethodNames[m], median(times[m]) / n * 1e6, ratio(times, false),
                            ratio(cpus, false), ratio(times, true), ratio(cpus, true),
                            median(bytes[m]) / 1024, median(calls[m]), peaks[m]);
            }
            std::fflush(stdout);
            continue;
        }
        double t[MethodCount];
        for (int m = 0; m < MethodCount; ++m)
            t[m] = median(times[m]);
        std::printf("%8d %9.2f %9.2f | %7.2f %7.2f %7.2f %7.2f | %6.1f %6.1f %6.1f %6.1f %6.1f\n",
                    n, t[0] / n * 1e6, std::min(t[3], t[4]) / n * 1e6, t[1] / t[0], t[2] / t[0],
                    t[3] / t[0], t[4] / t[0], peaks[0], peaks[1], peaks[2], peaks[3], peaks[4]);
        std::fflush(stdout);
    }
    return 0;
}
