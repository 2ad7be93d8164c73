// Folder-run throughput against the least a program can do for the same work, measured side by
// side in one process on fresh copies of the same synthetic collection.
//
//   build/bench/folderbench [N ...] [--dir PARENT] [--reps R] [--only METHOD]
//                           [--tree FOLDERS] [--id3v2-half] [--slow-us U] [--latency-us U]
//   build/bench/folderbench --write N DIR [--tree FOLDERS] [--id3v2-half]
//
// Prints, for each N, the time per file of the floor (plain POSIX calls), the ratio to it of the
// folder run over the in-memory field model and through the real window, each reading tags in
// turn and reading them ahead, and the peak resident memory of every run.
//
// --tree FOLDERS spreads the N files over FOLDERS folders two levels deep (a00001/b01/...), and
// every run walks the tree (the floor too: it lists every folder first). --id3v2-half gives every
// second file an ID3v2.3 tag at its start instead of an ID3v1 record at its end (the floor reads
// the first 4 KiB of such a file and finds TIT2 and TPE1 itself).
// --slow-us U makes every rename, the floor's included, wait U microseconds first, as on a slow
// USB stick. --latency-us U makes every file-system call of every run wait U microseconds first,
// in the calling thread, as a round trip to a network share would. --only METHOD (floor, model,
// window, model-ahead, window-ahead) runs one method and prints its time per file. --write makes
// one collection and exits, for runs timed from outside.

#include "base/syscalls.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "walk/foldertree.h"
#include "fs/openfolder.h"
#include "support/scripteddialogs.h"
#include "support/tagfiles.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
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

void waitMicros(long micros)
{
    if (micros > 0) {
        const timespec wait = {micros / 1000000, (micros % 1000000) * 1000};
        ::nanosleep(&wait, nullptr);
    }
}

// Every file-system call of every run, the floor's and Sorvane's (through its table of system
// calls), waits the round trip first.
struct Calls {
    static int openat(int dir, const char* name, int flags, mode_t mode)
    {
        waitMicros(g_latencyMicros);
        return ::openat(dir, name, flags, mode);
    }
    static int fstat(int fd, struct stat* info)
    {
        waitMicros(g_latencyMicros);
        return ::fstat(fd, info);
    }
    static int fstatat(int dir, const char* name, struct stat* info, int flags)
    {
        waitMicros(g_latencyMicros);
        return ::fstatat(dir, name, info, flags);
    }
    static ssize_t pread(int fd, void* buffer, size_t count, off_t offset)
    {
        waitMicros(g_latencyMicros);
        return ::pread(fd, buffer, count, offset);
    }
    static int close(int fd)
    {
        waitMicros(g_latencyMicros);
        return ::close(fd);
    }
    static int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
    {
        waitMicros(g_latencyMicros + g_slowMicros);
        return ::renameat2(fromDir, from, toDir, to, flags);
    }
    static int renameat(int fromDir, const char* from, int toDir, const char* to)
    {
        waitMicros(g_latencyMicros);
        return ::renameat(fromDir, from, toDir, to);
    }
    static int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
    {
        waitMicros(g_latencyMicros);
        return ::linkat(fromDir, from, toDir, to, flags);
    }
    static int unlinkat(int dir, const char* name, int flags)
    {
        waitMicros(g_latencyMicros);
        return ::unlinkat(dir, name, flags);
    }
    static int statx(int dir, const char* name, int flags, unsigned mask, struct statx* info)
    {
        waitMicros(g_latencyMicros);
        return ::statx(dir, name, flags, mask, info);
    }
    // A listing costs a round trip per batch of entries the kernel hands over, not per entry.
    static dirent* readdir(DIR* dir) { return ::readdir(dir); }

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
        sys.readdir = readdir;
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
    for (int i = 0; i < n; ++i) {
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

// The title and artist of an ID3v2.3 tag in its first bytes, as the floor would find them:
// frames TIT2 and TPE1 with Latin-1 text.
void framesOf(const char* head, ssize_t size, std::string& title, std::string& artist)
{
    for (ssize_t at = 10; at + 10 < size;) {
        const quint32 length = quint32(quint8(head[at + 4])) << 24 |
                               quint32(quint8(head[at + 5])) << 16 |
                               quint32(quint8(head[at + 6])) << 8 | quint8(head[at + 7]);
        if (head[at] == 0 || at + 10 + ssize_t(length) > size)
            break;
        const std::string text(head + at + 11, length > 0 ? length - 1 : 0);
        if (std::memcmp(head + at, "TIT2", 4) == 0)
            title = text;
        else if (std::memcmp(head + at, "TPE1", 4) == 0)
            artist = text;
        at += 10 + ssize_t(length);
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
            if (std::memcmp(record, "TAG", 3) == 0) {
                title.assign(record + 3, strnlen(record + 3, 30));
                artist.assign(record + 33, strnlen(record + 33, 30));
            } else {
                const ssize_t got = Calls::pread(fd, record, sizeof record, 0);
                framesOf(record, got, title, artist);
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
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<int> sizes;
    fs::path parent = fs::current_path();
    int reps = 0; // 3 below 100,000 files, else 1
    int only = -1;
    std::pair<int, std::string> write = {0, std::string()};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--write") == 0 && i + 2 < argc) {
            write = {std::atoi(argv[i + 1]), argv[i + 2]};
            i += 2;
        } else if (std::strcmp(argv[i], "--tree") == 0 && i + 1 < argc) {
            g_treeFolders = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--id3v2-half") == 0) {
            g_id3v2Half = true;
        } else if (std::strcmp(argv[i], "--latency-us") == 0 && i + 1 < argc) {
            g_latencyMicros = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            parent = argv[++i];
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            const std::string which = argv[++i];
            for (int m = 0; m < MethodCount; ++m) {
                if (which == MethodNames[m])
                    only = m;
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
        ::sync();
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
        bool showSummary(QWidget*, const sorvane::Summary&) override { return false; }
    } dialogs;
    sorvane::frmMain window(dialogs);
    window.show();
    QCoreApplication::processEvents();

    if (only < 0) {
        std::printf("%8s %9s %9s | %7s %7s %7s %7s | %-34s\n", "N", "floor us", "best us", "model",
                    "window", "m-ahead", "w-ahead", "peak MiB: floor model window m-a w-a");
    }
    const fs::path dir = base / "run";
    for (const int n : sizes) {
        std::vector<double> times[MethodCount];
        double peaks[MethodCount] = {};
        int expectedFailures = -1;
        const int runs = reps > 0 ? reps : n >= 100000 ? 1 : 3;
        for (int rep = 0; rep < runs; ++rep) {
            // Rotate the order so no method always runs on the warmest cache.
            for (int k = 0; k < MethodCount; ++k) {
                const int method = (rep + k) % MethodCount;
                if (only >= 0 && method != only)
                    continue;
                // Every run starts alike: the last run's folder deleted, a fresh one written, both
                // synced. Keeping them all instead would fill tmpfs at 300,000 files.
                fs::remove_all(dir);
                ::sync();
                if (!writeCollection(dir, n))
                    return 1;
                ::sync();
                const bool ahead = method >= 3;
                int failures = 0;
                QElapsedTimer timer;
                resetPeakMemory();
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
                peaks[method] = std::max(peaks[method], peakMemoryMiB());
                if (expectedFailures >= 0 && failures != expectedFailures) {
                    std::fprintf(stderr, "N=%d: %s counted %d failures, another %d\n", n,
                                 MethodNames[method], failures, expectedFailures);
                    return 1;
                }
                expectedFailures = failures;
            }
        }
        if (only >= 0) {
            std::printf("%8d %s %.2f us/file, peak %.1f MiB\n", n, MethodNames[only],
                        median(times[only]) / n * 1e6, peaks[only]);
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
