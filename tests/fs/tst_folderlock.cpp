#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "support/syscallseam.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>

using namespace sorvane;

namespace
{

// The lock folder the locks are taken in, and the name of the last lock file opened there.
int g_lockDir = -1;
QByteArray g_lockName;

int recordingOpenat(int dir, const char* name, int flags, mode_t mode)
{
    if (QByteArray(name).endsWith(".lock")) {
        g_lockDir = dir;
        g_lockName = name;
    }
    return ::openat(dir, name, flags, mode);
}

} // namespace

class FolderLockTest : public QObject
{
    Q_OBJECT

private slots:
    // One holder at a time, in this process as in another; released, the lock can be taken again
    // and its file is gone.
    void oneHolderAtATime()
    {
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        const testing::SeamGuard seam;
        Sys.openat = recordingOpenat;
        FolderLock first, second;
        int error = 0;
        QCOMPARE(FolderLock::take(folder.fd(), first, error), FolderLock::Taken::Yes);
        QCOMPARE(FolderLock::take(folder.fd(), second, error), FolderLock::Taken::Held);
        first.release();
        QCOMPARE(FolderLock::take(folder.fd(), second, error), FolderLock::Taken::Yes);
        const QString file = LockFolderPath() + QLatin1Char('/') + QString::fromLatin1(g_lockName);
        QVERIFY(QFile::exists(file));
        second.release();
        QVERIFY(!QFile::exists(file));
    }

    // The holder removes its file as it lets go: a lock won on a file removed between its open
    // and the flock is no lock, and the taker starts again on the file the name now leads to, so
    // the next taker finds it held.
    void lockOnARemovedFileIsTakenAgain()
    {
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        const testing::SeamGuard seam;
        Sys.openat = recordingOpenat;
        static int flocks;
        flocks = 0;
        Sys.flock = [](int fd, int operation) {
            if (++flocks == 1) // the last holder lets go right now
                ::unlinkat(g_lockDir, g_lockName.constData(), 0);
            return ::flock(fd, operation);
        };
        FolderLock first, second;
        int error = 0;
        QCOMPARE(FolderLock::take(folder.fd(), first, error), FolderLock::Taken::Yes);
        QCOMPARE(FolderLock::take(folder.fd(), second, error), FolderLock::Taken::Held);
    }
};

QTEST_GUILESS_MAIN(FolderLockTest)
#include "tst_folderlock.moc"
