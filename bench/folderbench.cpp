// Folder-run throughput against the least a program can do for the same work, measured side by
// side in one process on fresh copies of the same synthetic folder.
//
//   build/bench/folderbench [N ...] [--dir PARENT] [--reps R] [--slow-us U] [--only METHOD]
//   build/bench/folderbench --write N DIR
//
// Prints, for each N, the time per file of the floor (plain POSIX calls), the ratio to it of the
// folder run over the in-memory field model and through the real window, each reading tags in
// turn and reading them ahead on a second thread, and the peak resident memory of every run.
//
// --slow-us U makes every rename, the floor's included, wait U microseconds first, as on a slow
// USB stick or network share. --only METHOD (floor, model, window, model-ahead, window-ahead)
// runs one method and prints its time per file. --write makes one collection and exits, for runs
// timed from outside.

#include "rename/fieldmodel.h"
#include "rename/folderrun.h"
#include "support/scripteddialogs.h"
#include "support/tagfiles.h"
#include "base/syscalls.h"
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

int slowRename(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    if (g_slowMicros > 0) {
        const timespec wait = {g_slowMicros / 1000000, (g_slowMicros % 1000000) * 1000};
        ::nanosleep(&wait, nullptr);
    }
    return ::renameat2(fromDir, from, toDir, to, flags);
}

// A fresh folder of n files, made one file at a time so the benchmark holds none of it in memory.
// Every tenth file has a blank title, every tenth shares its tag with the file before it, so its
// name collides. The folder must be new or empty: nothing already there is removed.
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
        const QByteArray bytes = testing::mp3Bytes(tag, AudioSize, char(i));
        std::ofstream out(dir / name, std::ios::binary);
        out.write(bytes.constData(), bytes.size());
    }
    return true;
}

// The floor: list, read the last 128 bytes, compose artist_title.mp3, rename without replacing.
int floorRun(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return -1;
    while (const dirent* e = ::readdir(d)) {
        const std::size_t len = std::strlen(e->d_name);
        if (e->d_type == DT_REG && e->d_name[0] != '.' && len > 4 &&
            strcasecmp(e->d_name + len - 4, ".mp3") == 0)
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    int failures = 0;
    char record[128];
    for (const std::string& name : names) {
        const std::string path = dir + '/' + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < 128 ||
            ::pread(fd, record, 128, st.st_size - 128) != 128) {
            if (fd >= 0)
                ::close(fd);
            ++failures;
            continue;
        }
        ::close(fd);
        const std::string title(record + 3, strnlen(record + 3, 30));
        const std::string artist(record + 33, strnlen(record + 33, 30));
        if (title.empty()) {
            ++failures;
            continue;
        }
        const std::string target = dir + '/' + artist + '_' + title + ".mp3";
        if (slowRename(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
            ++failures;
    }
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--write") == 0 && i + 2 < argc) {
            const bool written = writeCollection(argv[i + 2], std::atoi(argv[i + 1]));
            ::sync();
            return written ? 0 : 1;
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
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    sorvane::Sys.renameat2 = slowRename;
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

    testing::ScriptedDialogs dialogs;
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
                    sorvane::MemoryFieldModel model;
                    model.setFolderPath(QString::fromStdString(dir.native()));
                    sorvane::FolderRunOptions options;
                    options.readAhead = ahead;
                    failures = int(sorvane::RenameFolder(model, options).notRenamed.size());
                } else {
                    window.setReadAhead(ahead);
                    dialogs.folderAnswers.enqueue(QString::fromStdString(dir.native()));
                    window.FolderRun();
                    failures = window.FailCount();
                }
                times[method].push_back(timer.nsecsElapsed() / 1e9);
                peaks[method] = std::max(peaks[method], peakMemoryMiB());
                dialogs.messages.clear(); // the summaries' details would pile up
                if (expectedFailures >= 0 && failures != expectedFailures) {
                    std::fprintf(stderr, "N=%d: %s counted %d failures, another %d\n", n,
                                 MethodNames[method], failures, expectedFailures);
                    return 1;
                }
                expectedFailures = failures;
            }
        }
        if (only >= 0) {
            std::printf("%8d %s %.2f us/file\n", n, MethodNames[only],
                        median(times[only]) / n * 1e6);
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
