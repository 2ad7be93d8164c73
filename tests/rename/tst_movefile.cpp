#include "rename/movefile.h"
#include "rename/openfolder.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "tag/error.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorvane;

namespace
{

// How far down the chain of no-replace moves a file system sends the move.
enum class Means { NoReplaceFlag, LinkAndUnlink, Reservation };

void refuseDownTo(Means means)
{
    if (means != Means::NoReplaceFlag)
        Sys.renameat2 = testing::refuseNoReplaceFlag;
    if (means == Means::Reservation)
        Sys.linkat = testing::refuseHardLink;
}

// Every name in the folder with its bytes.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, testing::readFile(QDir(folder).filePath(name)));
    return files;
}

using Contents = QMap<QString, QByteArray>;

} // namespace

class MoveFileTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }
    void put(const char* name, const QByteArray& bytes)
    {
        QVERIFY(testing::writeFile(path(name), bytes));
    }
    int move(const char* from, const char* to)
    {
        const OpenFolder folder(m_dir->path());
        return MoveNoReplaceAt(folder, from, folder, to);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void eachMeans_data()
    {
        QTest::addColumn<Means>("means");
        QTest::newRow("RENAME_NOREPLACE") << Means::NoReplaceFlag;
        QTest::newRow("link and unlink") << Means::LinkAndUnlink;
        QTest::newRow("reservation") << Means::Reservation;
    }

    // Whatever the file system allows, the file ends with exactly one name and no other file is
    // ever replaced.
    void eachMeans()
    {
        QFETCH(Means, means);
        const testing::SeamGuard seam;
        refuseDownTo(means);

        put("old.mp3", "song");
        QCOMPARE(move("old.mp3", "new.mp3"), 0);
        QCOMPARE(contents(m_dir->path()), (Contents{{"new.mp3", "song"}}));

        put("taken.mp3", "someone else's");
        QCOMPARE(move("new.mp3", "taken.mp3"), EEXIST);
        QCOMPARE(contents(m_dir->path()),
                 (Contents{{"new.mp3", "song"}, {"taken.mp3", "someone else's"}}));

        // What a move killed between link and unlink leaves: two links to one file.
        QCOMPARE(::link(QFile::encodeName(path("new.mp3")), QFile::encodeName(path("final.mp3"))),
                 0);
        QCOMPARE(move("new.mp3", "final.mp3"), 0);
        QCOMPARE(contents(m_dir->path()),
                 (Contents{{"final.mp3", "song"}, {"taken.mp3", "someone else's"}}));

        QCOMPARE(move("gone.mp3", "other.mp3"), ENOENT);
        QCOMPARE(contents(m_dir->path()).size(), 2);
    }

    // If the old name cannot be removed after the link, the new one goes again: one name.
    void failedUnlinkLeavesTheOldName()
    {
        const testing::SeamGuard seam;
        refuseDownTo(Means::LinkAndUnlink);
        static int calls;
        calls = 0;
        Sys.unlinkat = [](int dir, const char* name, int flags) {
            if (++calls == 1) {
                errno = EBUSY;
                return -1;
            }
            return ::unlinkat(dir, name, flags);
        };
        put("old.mp3", "song");
        QCOMPARE(move("old.mp3", "new.mp3"), EBUSY);
        QCOMPARE(contents(m_dir->path()), (Contents{{"old.mp3", "song"}}));
    }

    // Another program that writes into the reservation before the rename keeps its bytes.
    void reservationTakenMeanwhileIsNotReplaced()
    {
        const testing::SeamGuard seam;
        refuseDownTo(Means::Reservation);
        Sys.openat = [](int dir, const char* name, int flags, mode_t mode) {
            const int fd = ::openat(dir, name, flags, mode);
            if (fd >= 0 && (flags & O_EXCL)) {
                const int theirs = ::openat(dir, name, O_WRONLY);
                [[maybe_unused]] const auto written = ::write(theirs, "theirs", 6);
                ::close(theirs);
            }
            return fd;
        };
        put("old.mp3", "song");
        QCOMPARE(move("old.mp3", "new.mp3"), EEXIST);
        QCOMPARE(contents(m_dir->path()), (Contents{{"new.mp3", "theirs"}, {"old.mp3", "song"}}));
    }

    // A desktop ending the program between link and unlink waits for the unlink.
    void terminationWaitsForTheMoveToFinish()
    {
        put("old.mp3", "song");
        const QString folder = m_dir->path();
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            DeferTerminationDuringMoves();
            refuseDownTo(Means::LinkAndUnlink);
            Sys.linkat = [](int fromDir, const char* from, int toDir, const char* to, int flags) {
                const int result = ::linkat(fromDir, from, toDir, to, flags);
                ::kill(::getpid(), SIGTERM);
                return result;
            };
            try {
                MoveFileNoReplace(folder + QStringLiteral("/old.mp3"),
                                  folder + QStringLiteral("/new.mp3"));
            } catch (...) {
            }
            ::_exit(0); // not reached: the deferred SIGTERM ends the child
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGTERM);
        QCOMPARE(contents(folder), (Contents{{"new.mp3", "song"}}));
    }
};

QTEST_GUILESS_MAIN(MoveFileTest)
#include "tst_movefile.moc"
