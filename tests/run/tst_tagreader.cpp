#include "base/syscalls.h"
#include "fs/openfolder.h"
#include "run/tagreader.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <sched.h>
#include <thread>
#include <vector>

using namespace sorvane;

namespace
{

// Reads as a share answers them: each call a round trip.
ssize_t slowPread(int fd, void* buffer, size_t count, off_t offset)
{
    QThread::usleep(500);
    return ::pread(fd, buffer, count, offset);
}

// A machine whose CPU is busy with work of its own, for as long as this lives: the test and the
// threads it starts share one core with three threads that never wait.
class BusyCpu
{
public:
    BusyCpu()
    {
        sched_getaffinity(0, sizeof m_saved, &m_saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one); // threads started from here on inherit it
        for (unsigned i = 0; i < 3; ++i) {
            m_threads.emplace_back([this] {
                volatile unsigned long spin = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    spin = spin + 1;
            });
        }
    }
    ~BusyCpu()
    {
        m_stop = true;
        for (std::thread& thread : m_threads)
            thread.join();
        sched_setaffinity(0, sizeof m_saved, &m_saved);
    }

private:
    cpu_set_t m_saved;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

qint64 threadCpuNanoseconds()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A read that costs 100 µs of CPU of its own, as copying a large tag does: on a busy core it
// takes several times as long, waiting for the core.
ssize_t costlyPread(int fd, void* buffer, size_t count, off_t offset)
{
    const qint64 until = threadCpuNanoseconds() + 100000;
    while (threadCpuNanoseconds() < until) {
    }
    return ::pread(fd, buffer, count, offset);
}

} // namespace

// Readers are added for slow reads, never for a busy CPU: on a loaded machine more threads only
// take turns on the same cores.
class TagReaderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // The number of readers the reader started to hand over every file of the folder, in order,
    // each with its own tag.
    int readAll()
    {
        const OpenFolder root(m_dir.path());
        const FolderTree tree = WalkFolder(root, false);
        TagReader reader(root, tree, true);
        for (int file = 0; file < tree.files.size(); ++file) {
            // As long as naming and renaming a file takes on a local disk.
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
            while (std::chrono::steady_clock::now() < until) {
            }
            const TagRead read = reader.next(file);
            if (!read.outcome.ok() || !read.bytes.hasID3v1())
                qFatal("file %d came wrong", file);
        }
        return reader.readers();
    }

private slots:
    void initTestCase()
    {
        for (int i = 0; i < 2000; ++i) {
            const QByteArray title = "Song " + QByteArray::number(i);
            QVERIFY(testing::writeFile(m_dir.filePath(QString::asprintf("%04d.mp3", i)),
                                       testing::mp3Bytes({title, "Nova"}, 200)));
        }
    }

    void aBusyCpuAddsNoReader()
    {
        const testing::SeamGuard seam;
        Sys.pread = costlyPread;
        const BusyCpu busy;
        QCOMPARE(readAll(), 1);
    }

    void slowReadsAddReaders()
    {
        const testing::SeamGuard seam;
        Sys.pread = slowPread;
        const int readers = readAll();
        QVERIFY2(readers >= 3, qPrintable(QString::number(readers)));
    }
};

QTEST_GUILESS_MAIN(TagReaderTest)
#include "tst_tagreader.moc"
