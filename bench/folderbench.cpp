// Folder-run throughput against the least a program can do for the same work, measured side by
// side in one process on fresh copies of the same synthetic folder.
//
//   build/bench/folderbench [N ...] [--dir PATH] [--reps R] [--slow-us U]
//
// --slow-us U makes every rename, the floor's included, wait U microseconds first, as on a slow
// USB stick or network share.
//
// Prints, for each N, the time per file of the floor (plain POSIX calls), the folder run over the
// in-memory field model and the folder run through the real window, their ratios, and the peak
// resident memory of the two runs.

#include "rename/fieldmodel.h"
#include "rename/folderrun.h"
#include "support/scripteddialogs.h"
#include "support/tagfiles.h"
#include "tag/syscalls.h"
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
// name collides.
void writeCollection(const fs::path& dir, int n)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        const int tagOf = (i % 10 == 5) ? i - 1 : i;
        testing::TagBytes tag;
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

void resetPeakMemory()
{
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

struct Result {
    double seconds = 0;
    double peakMiB = 0;
    int failures = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<int> sizes;
    fs::path base = fs::current_path() / "folderbench-data";
    int reps = 3;
    int only = -1; // --only floor|model|window, for profiling one of them
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            base = argv[++i];
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            const std::string which = argv[++i];
            only = which == "floor" ? 0 : which == "model" ? 1 : 2;
        } else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--slow-us") == 0 && i + 1 < argc)
            g_slowMicros = std::atol(argv[++i]);
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    sorvane::Sys.renameat2 = slowRename;

    testing::ScriptedDialogs dialogs;
    sorvane::frmMain window(dialogs);
    window.show();
    QCoreApplication::processEvents();

    std::printf("%8s %12s %12s %12s %8s %8s %12s %12s\n", "N", "floor us", "model us", "window us",
                "2/1", "3/1", "model MiB", "window MiB");
    for (const int n : sizes) {
        const fs::path dir = base / "run";
        std::vector<double> floorTimes, modelTimes, windowTimes;
        double modelPeak = 0, windowPeak = 0;
        int expectedFailures = -1;
        const int runs = n >= 100000 ? 1 : reps;
        for (int rep = 0; rep < runs; ++rep) {
            // Rotate the order so no method always runs on the warmest cache.
            for (int k = 0; k < 3; ++k) {
                const int method = (rep + k) % 3;
                if (only >= 0 && method != only)
                    continue;
                writeCollection(dir, n);
                ::sync();
                Result result;
                QElapsedTimer timer;
                if (method == 0) {
                    timer.start();
                    result.failures = floorRun(dir.native());
                    result.seconds = timer.nsecsElapsed() / 1e9;
                    floorTimes.push_back(result.seconds);
                } else if (method == 1) {
                    sorvane::MemoryFieldModel model;
                    model.setFolderPath(QString::fromStdString(dir.native()));
                    resetPeakMemory();
                    timer.start();
                    result.failures = int(sorvane::RenameFolder(model).notRenamed.size());
                    result.seconds = timer.nsecsElapsed() / 1e9;
                    modelPeak = std::max(modelPeak, peakMemoryMiB());
                    modelTimes.push_back(result.seconds);
                } else {
                    dialogs.folderAnswers.enqueue(QString::fromStdString(dir.native()));
                    resetPeakMemory();
                    timer.start();
                    window.FolderRun();
                    result.seconds = timer.nsecsElapsed() / 1e9;
                    windowPeak = std::max(windowPeak, peakMemoryMiB());
                    result.failures = window.FailCount();
                    dialogs.messages.clear(); // the summaries' details would pile up
                    windowTimes.push_back(result.seconds);
                }
                if (expectedFailures >= 0 && result.failures != expectedFailures) {
                    std::fprintf(stderr, "N=%d: method %d counted %d failures, another %d\n", n,
                                 method, result.failures, expectedFailures);
                    return 1;
                }
                expectedFailures = result.failures;
            }
        }
        fs::remove_all(dir);
        if (only >= 0)
            continue;
        const double f = median(floorTimes), m = median(modelTimes), w = median(windowTimes);
        std::printf("%8d %12.2f %12.2f %12.2f %8.2f %8.2f %12.1f %12.1f\n", n, f / n * 1e6,
                    m / n * 1e6, w / n * 1e6, m / f, w / f, modelPeak, windowPeak);
        std::fflush(stdout);
    }
    fs::remove_all(base);
    return 0;
}
