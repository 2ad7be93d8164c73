#include "base/syscalls.h"
#include "fs/openfolder.h"
#include "run/tagreader.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <random>
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

// Reads that wait as long as a share's round trip, some twice as long, so readers are added and
// finish out of order.
ssize_t unevenPread(int fd, void* buffer, size_t count, off_t offset)
{
    thread_local std::minstd_rand random(std::hash<std::thread::id>()(std::this_thread::get_id()));
    QThread::usleep(random() % 3 == 0 ? 400 : 200);
    return ::pread(fd, buffer, count, offset);
}

std::atomic<int> g_folderOpens{0};

int countedOpenat(int dir, const char* name, int flags, mode_t mode)
{
    if (flags & O_DIRECTORY)
        ++g_folderOpens;
    return ::openat(dir, name, flags, mode);
}

QString shownTitle(const TagRead& read)
{
    const QString& title = read.tag.text[TagField::Title];
    return title.left(title.indexOf(QChar(0)));
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

    // Readers claim a run of one folder's files, so a folder of an album is opened by one of
    // them however many read: each open is a path lookup, and on a share a round trip. A folder
    // longer than a run is opened at most once a run. Reads are slowed so several readers run.
    void aFolderIsOpenedOncePerRun_data()
    {
        QTest::addColumn<int>("folders");
        QTest::addColumn<int>("filesEach");
        QTest::addColumn<int>("mostOpens");
        QTest::addRow("albums") << 24 << 9 << 24;
        QTest::addRow("one file each") << 40 << 1 << 40;
        QTest::addRow("a run and a half") << 2 << TagReader::RunFiles * 3 / 2 << 4;
    }
    void aFolderIsOpenedOncePerRun()
    {
        QFETCH(int, folders);
        QFETCH(int, filesEach);
        QFETCH(int, mostOpens);
        const QTemporaryDir dir;
        for (int f = 0; f < folders; ++f) {
            const QString folder = dir.filePath(QString::asprintf("f%02d", f));
            QVERIFY(QDir().mkpath(folder));
            for (int i = 0; i < filesEach; ++i) {
                QVERIFY(testing::writeFile(
                    QString::asprintf("%s/%03d.mp3", qPrintable(folder), i),
                    testing::mp3Bytes({QByteArray::number(f * 1000 + i), "Nova"}, 200)));
            }
        }
        const OpenFolder root(dir.path());
        const FolderTree tree = WalkFolder(root, true);
        QCOMPARE(tree.files.size(), folders * filesEach);
        const testing::SeamGuard seam;
        Sys.pread = slowPread;
        Sys.openat = countedOpenat;
        g_folderOpens = 0;
        int readers = 0;
        {
            TagReader reader(root, tree, true);
            for (int file = 0; file < tree.files.size(); ++file) {
                const TagRead read = reader.next(file);
                QVERIFY(read.outcome.ok());
                const int folder = tree.folderOf(file);
                const int number = QByteArray(tree.folderName(folder) + 1).toInt() * 1000 +
                                   QByteArray(tree.files.name(file)).left(3).toInt();
                QCOMPARE(shownTitle(read), QString::number(number));
            }
            readers = reader.readers();
        }
        QVERIFY2(readers >= 2, qPrintable(QString::number(readers)));
        QVERIFY2(
            g_folderOpens <= mostOpens,
            qPrintable(
                QStringLiteral("%1 opens by %2 readers").arg(g_folderOpens.load()).arg(readers)));
        QVERIFY(g_folderOpens >= std::min(folders, mostOpens));
    }

    // A renaming thread slower than the readers keeps the window full. The readers then wait for
    // a run of free slots, not one: woken for each file taken, they would cost the renaming
    // thread a wake-up a file, more than the read itself.
    void aFullWindowWakesReadersPerRun()
    {
        static std::atomic<int> wakeUps{0};
        wakeUps = 0;
        const testing::SeamGuard seam;
        Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) -> ssize_t {
            // A reader's read after it sat idle for longer than any read takes: it was woken.
            using Clock = std::chrono::steady_clock;
            thread_local Clock::time_point lastRead = Clock::now();
            if (Clock::now() - lastRead > std::chrono::microseconds(1500))
                ++wakeUps;
            const ssize_t done = ::pread(fd, buffer, count, offset);
            lastRead = Clock::now();
            return done;
        };
        const OpenFolder root(m_dir.path());
        const FolderTree tree = WalkFolder(root, false);
        constexpr int Window = 64, Files = 400;
        {
            TagReader reader(root, tree, true, Window);
            for (int file = 0; file < Files; ++file) {
                QThread::usleep(2000);
                QVERIFY(reader.next(file).outcome.ok());
            }
        }
        // Woken per file, the readers would be woken some 330 times; per run of WakeAfter, 10.
        const int runs = (Files - Window) / TagReader::WakeAfter;
        QVERIFY2(wakeUps <= 3 * runs, qPrintable(QString::number(wakeUps)));
    }

    // However small the window and however the readers and the renaming thread take turns,
    // every file comes once, in order, with its own tag; a reader given up halfway lets its
    // threads go. Run under ThreadSanitizer too, where a slot touched outside the lock shows.
    void smallWindowUnderStress_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("givenUpHalfway");
        for (const int window : {1, 2, 5, 64}) {
            QTest::addRow("window %d", window) << window << false;
            QTest::addRow("window %d, given up", window) << window << true;
        }
    }
    void smallWindowUnderStress()
    {
        QFETCH(int, window);
        QFETCH(bool, givenUpHalfway);
        const testing::SeamGuard seam;
        Sys.pread = unevenPread;
        const OpenFolder root(m_dir.path());
        const FolderTree tree = WalkFolder(root, false);
        const int files = givenUpHalfway ? tree.files.size() / 2 : tree.files.size();
        std::minstd_rand random(window);
        int readers = 0;
        {
            TagReader reader(root, tree, true, window);
            for (int file = 0; file < files; ++file) {
                if (random() % 4 == 0)
                    QThread::usleep(random() % 100);
                const TagRead read = reader.next(file);
                QVERIFY(read.outcome.ok());
                const QString name = QString::fromUtf8(tree.files.name(file));
                QCOMPARE(shownTitle(read),
                         QStringLiteral("Song ") + QString::number(name.left(4).toInt()));
            }
            readers = reader.readers();
        }
        // Only a window with room lets a second reader claim a file while the first reads.
        if (window >= 64 && !givenUpHalfway)
            QVERIFY2(readers >= 2, qPrintable(QString::number(readers)));
    }
};

QTEST_GUILESS_MAIN(TagReaderTest)
#include "tst_tagreader.moc"
