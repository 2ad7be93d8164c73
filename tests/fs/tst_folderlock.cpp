#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "support/syscallseam.h"

#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorvane;

namespace
{

// The device and inode each folder descriptor stands for, as the test chooses them.
int g_firstFd = -1;
dev_t g_devices[2];
ino_t g_inodes[2];

int fakedFstat(int fd, struct stat* info)
{
    const int r = ::fstat(fd, info);
    if (r == 0) {
        const int which = fd == g_firstFd ? 0 : 1;
        info->st_dev = g_devices[which];
        info->st_ino = g_inodes[which];
    }
    return r;
}

} // namespace

class FolderLockTest : public QObject
{
    Q_OBJECT

private slots:
    // One holder at a time, in this process as in another; released, the lock can be taken again.
    void oneHolderAtATime()
    {
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        FolderLock first, second;
        int error = 0;
        QCOMPARE(FolderLock::take(folder.fd(), first, error), FolderLock::Taken::Yes);
        QCOMPARE(FolderLock::take(folder.fd(), second, error), FolderLock::Taken::Held);
        first.release();
        QCOMPARE(FolderLock::take(folder.fd(), second, error), FolderLock::Taken::Yes);
        // Moved onto a held lock, the lock moved in lets go of the one it held.
        FolderLock other;
        QTemporaryDir otherDir;
        const OpenFolder otherFolder(otherDir.path());
        QCOMPARE(FolderLock::take(otherFolder.fd(), other, error), FolderLock::Taken::Yes);
        second = std::move(other);
        QCOMPARE(FolderLock::take(folder.fd(), first, error), FolderLock::Taken::Yes);
        QCOMPARE(FolderLock::take(otherFolder.fd(), first, error), FolderLock::Taken::Held);
    }

    // Only the same folder's lock is refused: neighbouring inodes, inodes that differ in the
    // bits beyond the byte's offset, and the same inode on another device are other folders.
    void onlyTheSameFolderIsHeld_data()
    {
        QTest::addColumn<quint64>("firstDevice");
        QTest::addColumn<quint64>("firstInode");
        QTest::addColumn<quint64>("secondDevice");
        QTest::addColumn<quint64>("secondInode");
        QTest::addColumn<bool>("held");
        const quint64 top = ~0ULL;
        QTest::newRow("same folder") << 1ULL << 5ULL << 1ULL << 5ULL << true;
        QTest::newRow("next inode") << 1ULL << 5ULL << 1ULL << 6ULL << false;
        QTest::newRow("inode before") << 1ULL << 5ULL << 1ULL << 4ULL << false;
        QTest::newRow("high bits differ") << 1ULL << 5ULL << 1ULL << (5ULL | 1ULL << 62) << false;
        QTest::newRow("top bit differs") << 1ULL << 5ULL << 1ULL << (5ULL | 1ULL << 63) << false;
        QTest::newRow("largest inode") << 1ULL << top << 1ULL << top << true;
        QTest::newRow("largest and one below") << 1ULL << top << 1ULL << top - 1 << false;
        QTest::newRow("inode zero") << 1ULL << 0ULL << 1ULL << 0ULL << true;
        QTest::newRow("other device") << 1ULL << 5ULL << 2ULL << 5ULL << false;
    }
    void onlyTheSameFolderIsHeld()
    {
        QFETCH(quint64, firstDevice);
        QFETCH(quint64, firstInode);
        QFETCH(quint64, secondDevice);
        QFETCH(quint64, secondInode);
        QFETCH(bool, held);
        QTemporaryDir one, two;
        const OpenFolder first(one.path()), second(two.path());
        const testing::SeamGuard seam;
        g_firstFd = first.fd();
        g_devices[0] = dev_t(firstDevice);
        g_inodes[0] = ino_t(firstInode);
        g_devices[1] = dev_t(secondDevice);
        g_inodes[1] = ino_t(secondInode);
        Sys.fstat = fakedFstat;
        FolderLock firstLock, secondLock;
        int error = 0;
        QCOMPARE(FolderLock::take(first.fd(), firstLock, error), FolderLock::Taken::Yes);
        QCOMPARE(FolderLock::take(second.fd(), secondLock, error),
                 held ? FolderLock::Taken::Held : FolderLock::Taken::Yes);
        firstLock.release();
        QCOMPARE(FolderLock::take(second.fd(), secondLock, error), FolderLock::Taken::Yes);
    }

    // Another process's lock is refused while it lives, and its end lets go without its help.
    void anotherProcessHoldsUntilItEnds()
    {
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        int ready[2], done[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(done) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(ready[0]);
            ::close(done[1]); // the parent's close must be the last, so the read below ends
            FolderLock theirs;
            int error = 0;
            const char taken =
                FolderLock::take(folder.fd(), theirs, error) == FolderLock::Taken::Yes;
            (void)!::write(ready[1], &taken, 1);
            char byte;
            (void)!::read(done[0], &byte, 1); // until the parent has looked
            ::_exit(0);                       // no release: the end of the process lets go
        }
        ::close(ready[1]);
        ::close(done[0]);
        char taken = 0;
        const ssize_t told = ::read(ready[0], &taken, 1);
        FolderLock mine;
        int error = 0;
        const FolderLock::Taken whileAlive = FolderLock::take(folder.fd(), mine, error);
        ::close(done[1]);
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, 0);
        ::close(ready[0]);
        QCOMPARE(ended, child);
        QCOMPARE(told, ssize_t(1));
        QVERIFY(taken);
        QCOMPARE(whileAlive, FolderLock::Taken::Held);
        QCOMPARE(FolderLock::take(folder.fd(), mine, error), FolderLock::Taken::Yes);
    }
};

QTEST_GUILESS_MAIN(FolderLockTest)
#include "tst_folderlock.moc"
