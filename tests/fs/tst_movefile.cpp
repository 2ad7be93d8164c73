#include "base/error.h"
#include "fs/modifiedtime.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "support/caseinsensitive.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
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

        // Two links to one file: a link the user made stays, and the file counts as named...
        QCOMPARE(::link(QFile::encodeName(path("new.mp3")), QFile::encodeName(path("final.mp3"))),
                 0);
        QVERIFY(IsAlreadyNamed(move("new.mp3", "final.mp3")));
        QCOMPARE(contents(m_dir->path()),
                 (Contents{
                     {"final.mp3", "song"}, {"new.mp3", "song"}, {"taken.mp3", "someone else's"}}));
        // ... while a move killed between link and unlink, as its journal says, is finished.
        MoveRecords records;
        records.recorded = [](Leftover kind, const char* name) {
            return kind == Leftover::SecondName && std::strcmp(name, "final.mp3") == 0;
        };
        MoveOptions options;
        options.records = &records;
        const OpenFolder folder(m_dir->path());
        QCOMPARE(MoveNoReplaceAt(folder, "new.mp3", folder, "final.mp3", options), 0);
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

    // On a case-insensitive drive a change of letter case goes through a name aside. When the
    // move back from there fails too, the file stays under that name and the caller is told it.
    void caseOnlyMoveAndTheNameAside()
    {
        const testing::SeamGuard seam;
        testing::CaseInsensitiveSeam::install();
        put("nova.mp3", "song");
        QCOMPARE(move("nova.mp3", "Nova.mp3"), 0);
        QCOMPARE(contents(m_dir->path()), (Contents{{"Nova.mp3", "song"}}));

        testing::CaseInsensitiveSeam::failMovesFromAside();
        const OpenFolder folder(m_dir->path());
        std::string leftAs;
        MoveOptions options;
        options.leftAs = &leftAs;
        QCOMPARE(MoveNoReplaceAt(folder, "Nova.mp3", folder, "NOVA.mp3", options), EIO);
        const QString aside = QStringLiteral("sorvane-%1-0.mp3").arg(::getpid());
        QCOMPARE(QString::fromStdString(leftAs), aside);
        QCOMPARE(contents(m_dir->path()), (Contents{{aside, "song"}}));
    }

    void otherSpellingSavedOverTheReservation_data()
    {
        QTest::addColumn<bool>("watch");
        QTest::newRow("inotify") << true;
        QTest::newRow("listing") << false;
    }

    // Through FUSE a lookup by Sorvane's own spelling may still show its empty reservation after
    // another program saved a file onto another spelling in its place (the attribute cache). That
    // program's file must stay, and the move fails as for a taken name.
    void otherSpellingSavedOverTheReservation()
    {
        QFETCH(bool, watch);
        const testing::SeamGuard seam;
        testing::CaseInsensitiveSeam::install();
        if (!watch) {
            Sys.inotify_init1 = [](int) {
                errno = EMFILE;
                return -1;
            };
        }
        static decltype(Sys.fstatat) lookUp;
        lookUp = Sys.fstatat;
        static bool saved;
        saved = false;
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            if (saved || std::strcmp(name, "Nova_Blue Sky.mp3") != 0)
                return lookUp(dir, name, info, flags);
            const int cached = lookUp(dir, name, info, flags);
            const int fd = ::openat(dir, "theirs.tmp", O_WRONLY | O_CREAT | O_EXCL, 0644);
            [[maybe_unused]] const auto written = ::write(fd, "theirs", 6);
            ::close(fd);
            Sys.renameat(dir, "theirs.tmp", dir, "NOVA_BLUE SKY.mp3");
            saved = true;
            return cached;
        };
        put("old.mp3", "song");
        QCOMPARE(move("old.mp3", "Nova_Blue Sky.mp3"), EEXIST);
        QVERIFY(saved);
        QCOMPARE(contents(m_dir->path()),
                 (Contents{{"NOVA_BLUE SKY.mp3", "theirs"}, {"old.mp3", "song"}}));
    }

    // A killed move's empty reservation is removed only while it still is one: when another
    // program renames a song over it between the look and the removal (here, right before the
    // look that guards the removal), the song stays, and the move fails as for a taken name.
    void reservationRenamedOverBeforeItsRemoval()
    {
        const testing::SeamGuard seam;
        refuseDownTo(Means::Reservation);
        put("old.mp3", "song");
        put("new.mp3", "");
        put("theirs.mp3", "their song");
        static int looks;
        looks = 0;
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            if (std::strcmp(name, "new.mp3") == 0 && ++looks == 2)
                ::renameat(dir, "theirs.mp3", dir, "new.mp3");
            return ::fstatat(dir, name, info, flags);
        };
        MoveRecords records;
        records.recorded = [](Leftover kind, const char* name) {
            return kind == Leftover::Reservation && std::strcmp(name, "new.mp3") == 0;
        };
        MoveOptions options;
        options.records = &records;
        const OpenFolder folder(m_dir->path());
        QCOMPARE(MoveNoReplaceAt(folder, "old.mp3", folder, "new.mp3", options), EEXIST);
        QVERIFY(looks >= 2);
        QCOMPARE(contents(m_dir->path()),
                 (Contents{{"new.mp3", "their song"}, {"old.mp3", "song"}}));
    }

    void failedUnlinkWithLinkCounts_data()
    {
        QTest::addColumn<bool>("madeUp");
        QTest::newRow("two links shown (ntfs-3g)") << false;
        QTest::newRow("one link shown (sshfs)") << true;
    }

    // When the old name cannot be removed after the link, the new one goes again only where the
    // drive shows one file with two links under both names; where it makes up link counts and
    // inode numbers, both names stay, the second on record for the next run to finish.
    void failedUnlinkWithLinkCounts()
    {
        QFETCH(bool, madeUp);
        const testing::SeamGuard seam;
        refuseDownTo(Means::LinkAndUnlink);
        static bool fake;
        fake = madeUp;
        Sys.unlinkat = [](int dir, const char* name, int flags) {
            if (std::strcmp(name, "old.mp3") == 0) {
                errno = EBUSY;
                return -1;
            }
            return ::unlinkat(dir, name, flags);
        };
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            const int result = ::fstatat(dir, name, info, flags);
            if (result == 0 && fake) {
                info->st_nlink = 1;
                info->st_ino = ino_t(qHash(QByteArray(name)));
            }
            return result;
        };
        static QList<Leftover> told;
        told.clear();
        MoveRecords records;
        records.before = [](Leftover kind, const char*) { told << kind; };
        MoveOptions options;
        options.records = &records;
        put("old.mp3", "song");
        const OpenFolder folder(m_dir->path());
        QCOMPARE(MoveNoReplaceAt(folder, "old.mp3", folder, "new.mp3", options), EBUSY);
        QCOMPARE(told, QList<Leftover>{Leftover::SecondName});
        QCOMPARE(contents(m_dir->path()), madeUp
                                              ? (Contents{{"new.mp3", "song"}, {"old.mp3", "song"}})
                                              : (Contents{{"old.mp3", "song"}}));
    }

    // An empty file under the new name is somebody's, not a killed move's reservation, unless a
    // journal says so: it stays, and the move fails as for any taken name.
    void emptyFileWithoutARecordStays()
    {
        const testing::SeamGuard seam;
        refuseDownTo(Means::Reservation);
        put("old.mp3", "song");
        put("new.mp3", "");
        QCOMPARE(move("old.mp3", "new.mp3"), EEXIST);
        QCOMPARE(contents(m_dir->path()), (Contents{{"new.mp3", ""}, {"old.mp3", "song"}}));
    }

    // On a case-insensitive drive that numbers names, not files (fusefat), only the folder's
    // listing tells a change of letter case from a taken name; a listing that cannot be read
    // tells nothing, and the move is refused rather than guessed.
    // A name is removed only while it holds what was looked up: another file put there since,
    // a folder, or a reservation that is no longer empty stays.
    void removedOnlyWhileStillTheSame_data()
    {
        QTest::addColumn<QString>("since");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<int>("result");
        QTest::newRow("unchanged reservation") << "" << true << 0;
        QTest::newRow("unchanged file") << "" << false << 0;
        QTest::newRow("another empty file") << "replaced" << true << EEXIST;
        QTest::newRow("another file") << "replaced" << false << EEXIST;
        QTest::newRow("written to") << "written" << true << EEXIST;
        QTest::newRow("a folder now") << "folder" << false << EEXIST;
    }
    void removedOnlyWhileStillTheSame()
    {
        QFETCH(QString, since);
        QFETCH(bool, empty);
        QFETCH(int, result);
        put("a.mp3", empty ? "" : "song");
        struct stat looked = {};
        QCOMPARE(::stat(QFile::encodeName(path("a.mp3")).constData(), &looked), 0);
        // The first file stays open, so the one made in its place cannot get its inode.
        const int held = ::open(QFile::encodeName(path("a.mp3")).constData(), O_RDONLY);
        if (since == QLatin1String("replaced") || since == QLatin1String("folder")) {
            QVERIFY(QFile::remove(path("a.mp3")));
            if (since == QLatin1String("folder"))
                QVERIFY(QDir().mkdir(path("a.mp3")));
            else
                put("a.mp3", empty ? "" : "song");
        } else if (since == QLatin1String("written")) {
            QFile file(path("a.mp3"));
            QVERIFY(file.open(QIODevice::Append) && file.write("song") == 4);
        }
        const OpenFolder folder(m_dir->path());
        QCOMPARE(RemoveIfStill(folder.fd(), "a.mp3", looked, empty), result);
        ::close(held);
        QCOMPARE(QFileInfo::exists(path("a.mp3")), result != 0);
    }

    // A time put back is read back to the nanosecond, before 1970 too, where the seconds are
    // negative and the nanoseconds still count forward.
    void timePutBackExactly_data()
    {
        QTest::addColumn<qint64>("time");
        QTest::newRow("epoch") << qint64(0);
        QTest::newRow("2026") << qint64(1796000000) * 1000000000 + 123456789;
        QTest::newRow("a nanosecond before 1970") << qint64(-1);
        QTest::newRow("1969, mid-second") << qint64(-1500000007);
    }
    void timePutBackExactly()
    {
        QFETCH(qint64, time);
        put("song.mp3", "song");
        const OpenFolder folder(m_dir->path());
        QCOMPARE(PutModifiedTime(folder.fd(), "song.mp3", time), 0);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path("song.mp3")).constData(), &info), 0);
        QCOMPARE(qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, time);
    }

    void unreadableListingIsNoEvidence()
    {
        const testing::SeamGuard seam;
        testing::CaseInsensitiveSeam::install();
        static decltype(Sys.fstatat) lookUp;
        lookUp = Sys.fstatat;
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            const int result = lookUp(dir, name, info, flags);
            if (result == 0 && S_ISREG(info->st_mode))
                info->st_ino = ino_t(qHash(QByteArray(name)));
            return result;
        };
        // The same number for an open file as for the name it was opened by.
        Sys.fstat = [](int fd, struct stat* info) {
            const int result = ::fstat(fd, info);
            char link[64], target[4096] = {};
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            if (result == 0 && S_ISREG(info->st_mode) &&
                ::readlink(link, target, sizeof target - 1) > 0)
                info->st_ino = ino_t(qHash(QByteArray(target).split('/').last()));
            return result;
        };
        put("nova.mp3", "song");
        Sys.getdents64 = [](int, void*, size_t) -> ssize_t {
            errno = EIO;
            return -1;
        };
        QCOMPARE(move("nova.mp3", "Nova.mp3"), EEXIST);
        Sys.getdents64 = ::getdents64;
        QCOMPARE(contents(m_dir->path()), (Contents{{"nova.mp3", "song"}}));
        // Readable, it tells: the same entry under another spelling.
        QCOMPARE(move("nova.mp3", "Nova.mp3"), 0);
        QCOMPARE(contents(m_dir->path()), (Contents{{"Nova.mp3", "song"}}));
    }
};

QTEST_GUILESS_MAIN(MoveFileTest)
#include "tst_movefile.moc"
