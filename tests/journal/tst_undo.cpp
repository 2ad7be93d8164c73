#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "journal/journalfiles.h"
#include "journal/journalreader.h"
#include "journal/journalwriter.h"
#include "journal/runlist.h"
#include "journal/startupscan.h"
#include "journal/undo.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/caseinsensitive.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorvane;

namespace
{

using Contents = QMap<QByteArray, QByteArray>;

// Every file in the folder by its raw name, with its bytes.
Contents contents(const QString& folder)
{
    Contents files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(QFile::encodeName(name), testing::readFile(QDir(folder).filePath(name)));
    return files;
}

// Every file's modification time, by name.
QMap<QByteArray, qint64> times(const QString& folder)
{
    QMap<QByteArray, qint64> found;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        struct stat info = {};
        ::stat(QFile::encodeName(QDir(folder).filePath(name)).constData(), &info);
        found.insert(QFile::encodeName(name),
                     qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
    }
    return found;
}

QString newestJournal()
{
    const QStringList paths = JournalPaths();
    return paths.isEmpty() ? QString() : paths.last();
}

UndoReport undoNewest()
{
    QString error;
    const auto undo = Undo::open(newestJournal(), error);
    if (!undo)
        qFatal("cannot undo: %s", qPrintable(error));
    return undo->run();
}

QStringList reasons(const UndoReport& report)
{
    QStringList stays;
    for (const DetailsRow& row : report.notRestored)
        stays << row.path + QStringLiteral(": ") + row.reason;
    return stays;
}

// The drives the tests play: Linux's own; NTFS through ntfs-3g (hard links, no
// RENAME_NOREPLACE); FAT and exFAT through FUSE (case-insensitive, neither); and fusefat's own
// ways besides: a rename sets the file's time to "now", and inode numbers belong to names and
// change at every mount.
enum class Drive { Linux, Ntfs, Fat, Fusefat };

int g_mount = 0; // the mount a fake inode number belongs to

qint64 fakeInode(const char* name)
{
    return qint64(qHash(QByteArray(name))) % 100000 + 1000000 * (g_mount + 1);
}

QByteArray nameOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target);
    return length > 0 ? QByteArray(target, int(length)).split('/').last() : QByteArray();
}

void installDrive(Drive drive)
{
    if (drive == Drive::Linux)
        return;
    if (drive == Drive::Ntfs) {
        Sys.renameat2 = testing::refuseNoReplaceFlag;
        return;
    }
    testing::CaseInsensitiveSeam::install();
    if (drive != Drive::Fusefat)
        return;
    static decltype(Sys.renameat) caseInsensitive;
    static decltype(Sys.fstatat) lookUp;
    caseInsensitive = Sys.renameat;
    lookUp = Sys.fstatat;
    Sys.renameat = [](int fromDir, const char* from, int toDir, const char* to) {
        const int result = caseInsensitive(fromDir, from, toDir, to);
        if (result == 0)
            ::utimensat(toDir, to, nullptr, 0); // "now"
        return result;
    };
    Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
        const int result = lookUp(dir, name, info, flags);
        if (result == 0 && S_ISREG(info->st_mode))
            info->st_ino = ino_t(fakeInode(name));
        return result;
    };
    Sys.fstat = [](int fd, struct stat* info) {
        const int result = ::fstat(fd, info);
        if (result == 0 && S_ISREG(info->st_mode))
            info->st_ino = ino_t(fakeInode(nameOf(fd).constData()));
        return result;
    };
    // fusefat says it set a time it was given with the access time left out, and did not.
    Sys.utimensat = [](int dir, const char* name, const struct timespec times[2], int flags) {
        if (times && times[0].tv_nsec == UTIME_OMIT)
            return 0;
        return ::utimensat(dir, name, times, flags);
    };
    // A FUSE drive of a kind no table knows.
    Sys.fstatfs = [](int fd, struct statfs* info) {
        const int result = ::fstatfs(fd, info);
        info->f_type = 0x65735546;
        return result;
    };
    Sys.statx = [](int dir, const char* name, int flags, unsigned mask, struct statx* info) {
        const int result = ::statx(dir, name, flags, mask & ~unsigned(STATX_MNT_ID), info);
        info->stx_mask &= ~unsigned(STATX_MNT_ID);
        return result;
    };
}

QString driveName(Drive drive)
{
    const char* names[] = {"Linux", "NTFS-like", "FAT-like", "fusefat-like"};
    return QLatin1String(names[int(drive)]);
}

// What a kill (SIGKILL: no handler, no cleanup) after the k-th step that changes a name sees:
// counted over every call that makes, moves or removes one.
int g_killAfter = 0;
int g_steps = 0;
decltype(Sys.renameat) g_renameat;
decltype(Sys.renameat2) g_renameat2;
decltype(Sys.linkat) g_linkat;
decltype(Sys.unlinkat) g_unlinkat;
decltype(Sys.openat) g_openat;

// Only the music counts: journals and locks are made and moved on the way too.
void step(const char* name)
{
    if (QByteArray(name).toLower().endsWith(".mp3") && ++g_steps == g_killAfter)
        ::_exit(9);
}

void killAfterSteps(int k)
{
    g_killAfter = k;
    g_steps = 0;
    g_renameat = Sys.renameat;
    g_renameat2 = Sys.renameat2;
    g_linkat = Sys.linkat;
    g_unlinkat = Sys.unlinkat;
    g_openat = Sys.openat;
    Sys.renameat = [](int fd, const char* from, int td, const char* to) {
        const int result = g_renameat(fd, from, td, to);
        step(to);
        return result;
    };
    Sys.renameat2 = [](int fd, const char* from, int td, const char* to, unsigned flags) {
        const int result = g_renameat2(fd, from, td, to, flags);
        if (result == 0)
            step(to);
        return result;
    };
    Sys.linkat = [](int fd, const char* from, int td, const char* to, int flags) {
        const int result = g_linkat(fd, from, td, to, flags);
        if (result == 0)
            step(to);
        return result;
    };
    Sys.unlinkat = [](int dir, const char* name, int flags) {
        const int result = g_unlinkat(dir, name, flags);
        if (result == 0)
            step(name);
        return result;
    };
    Sys.openat = [](int dir, const char* name, int flags, mode_t mode) {
        const int result = g_openat(dir, name, flags, mode);
        if (result >= 0 && (flags & O_EXCL))
            step(name);
        return result;
    };
}

} // namespace

class UndoTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<QTemporaryDir> m_music;

    void add(const char* name, const testing::V1Tag& tag)
    {
        QVERIFY(testing::writeFile(m_music->filePath(QString::fromUtf8(name)),
                                   testing::mp3Bytes(tag, 300, name[0])));
    }

    void addFiveSongs()
    {
        // Names that are their tags but for letter case, names that are not, one that has it.
        add("nova_one.mp3", {"One", "Nova"});
        add("nova_two.mp3", {"Two", "Nova"});
        add("x3.mp3", {"Three", "Nova"});
        add("Nova_Four.mp3", {"Four", "Nova"});
        add("x5.mp3", {"Five", "Nova"});
    }

    // A journaled run over the folder, and over its subfolders where asked.
    static FolderReport journaledRun(const QString& folder, bool subfolders = false)
    {
        MemoryFieldModel model;
        model.setFolderPath(folder);
        QString error;
        const auto journal = JournalWriter::create(
            JournalKind::Run, QFile::encodeName(QDir::cleanPath(folder)), error);
        FolderRunOptions options;
        options.journal = journal.get();
        options.readAhead = false;
        const OpenFolder root(folder);
        return RenameTree(model, root, WalkFolder(root, subfolders), options);
    }

    // Work in a child process, as another program run would do it; how the child ended.
    template <typename Work> static int inChild(Work work)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            // Never back into the test runner, whatever the work throws.
            try {
                work();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "child: %s\n", error.what());
                ::_exit(3);
            } catch (...) {
                ::_exit(4);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A run in a child on a drive with neither RENAME_NOREPLACE nor hard links, killed at the
    // music's rename over the empty reservation it made (not at the journal's own rename); how
    // the child ended.
    static int runKilledOverItsReservation(const QString& folder)
    {
        return inChild([&] {
            Sys.renameat2 = testing::refuseNoReplaceFlag;
            Sys.linkat = testing::refuseHardLink;
            Sys.renameat = [](int fd, const char* from, int td, const char* to) {
                if (QByteArray(to).endsWith(".mp3"))
                    ::_exit(9);
                return ::renameat(fd, from, td, to);
            };
            journaledRun(folder);
        });
    }

private slots:
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        m_music = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", m_state->path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_state->path().toUtf8());
    }

    // A run, then its undo: every file back byte for byte; a file created meanwhile under one
    // old name is not replaced, and another file under one new name is not moved.
    void undoRefusesWhatItMustNot()
    {
        add("01 one.mp3", {"One", "Nova"});
        add("02 two.mp3", {"Two", "Nova"});
        add("03 three.mp3", {"Three", "Nova"});
        const Contents before = contents(m_music->path());
        journaledRun(m_music->path());
        QCOMPARE(contents(m_music->path()).keys(),
                 (QList<QByteArray>{"Nova_One.mp3", "Nova_Three.mp3", "Nova_Two.mp3"}));
        QVERIFY(testing::writeFile(m_music->filePath("01 one.mp3"), "newcomer"));
        QVERIFY(QFile::remove(m_music->filePath("Nova_Two.mp3")));
        // The impostor is as long as the song and has the song's last bytes but one.
        QByteArray impostor = before.value("02 two.mp3");
        impostor[impostor.size() - 1] = 'X';
        QVERIFY(testing::writeFile(m_music->filePath("Nova_Two.mp3"), impostor));

        const UndoReport report = undoNewest();
        QCOMPARE(report.restored, 1);
        QCOMPARE(report.notGivenBack, 2);
        QCOMPARE(report.notRestored[0].reason,
                 QStringLiteral("под новым именем теперь другой файл"));
        QCOMPARE(report.notRestored[1].reason,
                 QStringLiteral("прежнее имя теперь занято другим файлом"));
        QCOMPARE(UndoSummaryText(report), QStringLiteral("2 файла не возвращено!"));
        const Contents after = contents(m_music->path());
        QCOMPARE(after.value("01 one.mp3"), QByteArray("newcomer"));
        QCOMPARE(after.value("Nova_One.mp3"), before.value("01 one.mp3"));
        QCOMPARE(after.value("Nova_Two.mp3"), impostor);
        QCOMPARE(after.value("03 three.mp3"), before.value("03 three.mp3"));
        // Not every file is back: the run stays undoable, and undoing again changes nothing.
        Journal journal;
        QString error;
        QVERIFY(ReadJournal(newestJournal(), journal, error));
        QVERIFY(!journal.undone);
        undoNewest();
        QCOMPARE(contents(m_music->path()), after);
    }

    void killedRunIsRestored_data()
    {
        QTest::addColumn<Drive>("drive");
        for (const Drive drive : {Drive::Linux, Drive::Ntfs, Drive::Fat, Drive::Fusefat})
            QTest::newRow(qPrintable(driveName(drive))) << drive;
    }

    void treeRunUndoneOnEachDrive_data() { killedRunIsRestored_data(); }

    // A run over a tree on each kind of drive, subfolders' moves journaled by their folder: its
    // journal reads back whole, and undo gives every file its old name in its own folder.
    void treeRunUndoneOnEachDrive()
    {
        QFETCH(Drive, drive);
        const QString root = m_music->path(), sub = m_music->filePath(QStringLiteral("sub"));
        QVERIFY(QDir(root).mkdir(QStringLiteral("sub")));
        add("x1.mp3", {"One", "Nova"});
        for (const auto& [name, title] :
             {std::pair{"nova_two.mp3", "Two"}, {"x3.mp3", "Three"}, {"x4.mp3", "Four"}})
            QVERIFY(testing::writeFile(sub + QLatin1Char('/') + QLatin1String(name),
                                       testing::mp3Bytes({title, "Nova"}, 300, name[1])));
        const Contents rootBefore = contents(root), subBefore = contents(sub);
        const testing::SeamGuard seam;
        installDrive(drive);
        QCOMPARE(journaledRun(root, true).renamed, 4);
        QCOMPARE(contents(sub).keys(),
                 (QList<QByteArray>{"Nova_Four.mp3", "Nova_Three.mp3", "Nova_Two.mp3"}));
        const UndoReport report = undoNewest();
        QVERIFY2(report.allBack(), qPrintable(reasons(report).join('\n')));
        QCOMPARE(contents(root), rootBefore);
        QCOMPARE(contents(sub), subBefore);
    }

    // A run killed after any one of its steps, the journal's last write ahead in place: undoing
    // from its journal puts every file back under its one old name, with nothing of Sorvane's
    // left. Every step is tried, from the first until the run ends of itself.
    void killedRunIsRestored()
    {
        QFETCH(Drive, drive);
        int steps = 0;
        for (int killAfter = 1;; ++killAfter) {
            init();
            addFiveSongs();
            const Contents before = contents(m_music->path());
            const QString folder = m_music->path();
            const int status = inChild([&] {
                installDrive(drive);
                killAfterSteps(killAfter);
                journaledRun(folder);
            });
            if (status == 0)
                break;
            QCOMPARE(status, 9);
            ++steps;
            ++g_mount; // the drive mounted anew: fusefat numbers its names afresh
            const testing::SeamGuard seam;
            installDrive(drive);
            const UndoReport report = undoNewest();
            QVERIFY2(report.allBack(), qPrintable(QStringLiteral("step %1: ").arg(killAfter) +
                                                  reasons(report).join('\n')));
            QVERIFY(report.interrupted);
            QCOMPARE(contents(m_music->path()), before);
        }
        QVERIFY(steps >= 4); // a kill came between the steps of every kind of move
    }

    void killedUndoIsFinished_data()
    {
        QTest::addColumn<Drive>("drive");
        for (const Drive drive : {Drive::Linux, Drive::Ntfs, Drive::Fat, Drive::Fusefat})
            QTest::newRow(qPrintable(driveName(drive))) << drive;
    }

    // A complete run, then an undo killed between any two of its steps, then a second undo:
    // every song back, none under two names or a name aside, no empty file left, times as before.
    void killedUndoIsFinished()
    {
#ifdef __SANITIZE_THREAD__
        QSKIP("The undo in the child starts threads after a fork, which ThreadSanitizer cannot "
              "follow; the plain and AddressSanitizer builds run this test");
#endif
        QFETCH(Drive, drive);
        int steps = 0;
        for (int killAfter = 1;; ++killAfter) {
            init();
            addFiveSongs();
            const Contents before = contents(m_music->path());
            const QMap<QByteArray, qint64> timesBefore = times(m_music->path());
            {
                const testing::SeamGuard seam;
                installDrive(drive);
                journaledRun(m_music->path());
                // The run changes names only.
                QList<qint64> now = times(m_music->path()).values(), was = timesBefore.values();
                std::sort(now.begin(), now.end());
                std::sort(was.begin(), was.end());
                QCOMPARE(now, was);
            }
            ++g_mount;
            const int status = inChild([&] {
                installDrive(drive);
                killAfterSteps(killAfter);
                undoNewest();
            });
            if (status == 0)
                break;
            QCOMPARE(status, 9);
            ++steps;
            ++g_mount;
            const testing::SeamGuard seam;
            installDrive(drive);
            const UndoReport report = undoNewest();
            QVERIFY2(report.allBack(), qPrintable(QStringLiteral("step %1: ").arg(killAfter) +
                                                  reasons(report).join('\n')));
            QCOMPARE(contents(m_music->path()), before);
            QCOMPARE(times(m_music->path()), timesBefore);
            Journal journal;
            QString error;
            QVERIFY(ReadJournal(newestJournal(), journal, error));
            QVERIFY(journal.undone);
        }
        QVERIFY(steps >= 4);
    }

    void killedBetweenLinkAndUnlink_data()
    {
        QTest::addColumn<bool>("fakeLinks");
        QTest::newRow("link counts kept (ntfs-3g)") << false;
        QTest::newRow("link counts made up (sshfs)") << true;
    }

    // A move killed between link and unlink leaves the file under both names. The journal says
    // the second name is Sorvane's: the next run finishes the move, and so does an undo, even
    // where the drive shows two inodes with one link each. A link the user made stays.
    void killedBetweenLinkAndUnlink()
    {
        QFETCH(bool, fakeLinks);
        add("x1.mp3", {"One", "Nova"});
        add("x2.mp3", {"Two", "Nova"});
        const Contents before = contents(m_music->path());
        // The user's own link: the file counts as named, and both names stay.
        QCOMPARE(::link(QFile::encodeName(m_music->filePath("x2.mp3")),
                        QFile::encodeName(m_music->filePath("Nova_Two.mp3"))),
                 0);
        static bool madeUp;
        madeUp = fakeLinks;
        const auto drive = [] {
            Sys.renameat2 = testing::refuseNoReplaceFlag;
            if (!madeUp)
                return;
            Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
                const int result = ::fstatat(dir, name, info, flags);
                if (result == 0 && S_ISREG(info->st_mode) && QByteArray(name).endsWith(".mp3")) {
                    info->st_nlink = 1;
                    info->st_ino = ino_t(fakeInode(name));
                }
                return result;
            };
        };
        const QString folder = m_music->path();
        QCOMPARE(inChild([&] {
                     drive();
                     Sys.linkat = [](int fd, const char* from, int td, const char* to, int flags) {
                         const int result = ::linkat(fd, from, td, to, flags);
                         if (std::strcmp(to, "Nova_One.mp3") == 0)
                             ::_exit(9);
                         return result;
                     };
                     journaledRun(folder);
                 }),
                 9);
        QVERIFY(contents(m_music->path()).contains("Nova_One.mp3"));
        QVERIFY(contents(m_music->path()).contains("x1.mp3"));
        const testing::SeamGuard seam;
        drive();
        {
            // The next run finishes the move.
            MemoryFieldModel model;
            model.setFolderPath(m_music->path());
            const FolderReport report = RenameFolder(model);
            // Where link counts are made up, the user's link looks like another file.
            QCOMPARE(model.FailCount(), fakeLinks ? 1 : 0);
            QCOMPARE(contents(m_music->path()).keys(),
                     (QList<QByteArray>{"Nova_One.mp3", "Nova_Two.mp3", "x2.mp3"}));
        }
        // The undo gives the killed run's file its old name back, and leaves the user's link.
        const UndoReport report = undoNewest();
        QVERIFY2(report.allBack(), qPrintable(reasons(report).join('\n')));
        Contents expected = before;
        expected.insert("Nova_Two.mp3", before.value("x2.mp3"));
        QCOMPARE(contents(m_music->path()), expected);
    }

    // What the start-up question and the list of runs need is found by looking alone: the empty
    // reservation a killed run left is not removed until the user says Да.
    void lookingChangesNothing()
    {
        add("x1.mp3", {"One", "Nova"});
        const QString folder = m_music->path();
        QCOMPARE(runKilledOverItsReservation(folder), 9);
        const Contents killed = contents(m_music->path());
        QVERIFY(killed.contains("Nova_One.mp3"));
        QCOMPARE(killed.value("Nova_One.mp3"), QByteArray()); // the empty reservation
        const StartUpScan scan = ScanJournalsAtStart();
        QCOMPARE(contents(m_music->path()), killed);
        QVERIFY2(scan.refused.empty(),
                 qPrintable(scan.refused.empty() ? QString() : scan.refused.front().second));
        // Nothing is under a new name: nothing to ask.
        QVERIFY(scan.interrupted.empty());
        QCOMPARE(scan.nothingToAsk.size(), std::size_t(1));
        // The undo, asked for, removes the reservation once it is proven empty and Sorvane's.
        const UndoReport report = undoNewest();
        QVERIFY(report.allBack());
        QCOMPARE(contents(m_music->path()).keys(), (QList<QByteArray>{"x1.mp3"}));
        QCOMPARE(report.notes.size(), std::size_t(1));
    }

    // A stopped undo leaves the run undoable, says how many files it did not give back, and the
    // next undo finishes it.
    void stoppedUndoIsFinishedLater()
    {
        for (int i = 0; i < 6; ++i) {
            const QByteArray name = "x" + QByteArray::number(i) + ".mp3";
            add(name.constData(), {"Song " + QByteArray::number(i), "Nova"});
        }
        const Contents before = contents(m_music->path());
        journaledRun(m_music->path());
        struct StopAfter : UndoObserver {
            int left = 2;
            bool proceed(int, int, const QString&) override { return left-- > 0; }
        } stopAfterTwo;
        QString error;
        auto undo = Undo::open(newestJournal(), error);
        QVERIFY(undo);
        const UndoReport stopped = undo->run(&stopAfterTwo);
        undo.reset();
        QVERIFY(stopped.stopped && !stopped.allBack());
        QCOMPARE(stopped.restored, 2);
        QCOMPARE(stopped.notGivenBack, 4);
        QCOMPARE(UndoSummaryText(stopped), QStringLiteral("4 файла не возвращено!"));
        QVERIFY(UndoSecondLine(stopped).startsWith(QStringLiteral("Остановлено: возвращено 2")));
        const std::vector<RunInfo> runs = ListRuns();
        QCOMPARE(runs.front().state, RunInfo::State::UndoUnfinished);
        QVERIFY(runs.front().undoable());
        const UndoReport finished = undoNewest();
        QVERIFY(finished.allBack());
        QCOMPARE(finished.restored, 4);
        QCOMPARE(finished.alreadyBack, 2);
        QCOMPARE(contents(m_music->path()), before);
        QCOMPARE(ListRuns().front().state, RunInfo::State::Undone);
    }

    // A change of letter case taken back on a FAT-like drive that fails midway, the file stuck
    // under its name aside: the undo says where the file is, and the next undo, the drive well
    // again, gives it its old name.
    void fileLeftAsideIsSaidWhereItIs()
    {
        add("nova_one.mp3", {"One", "Nova"});
        const Contents before = contents(m_music->path());
        const testing::SeamGuard seam;
        testing::CaseInsensitiveSeam::install();
        journaledRun(m_music->path());
        QCOMPARE(contents(m_music->path()).keys(), QList<QByteArray>{"Nova_One.mp3"});
        testing::CaseInsensitiveSeam::failMovesFromAside();
        const UndoReport failed = undoNewest();
        QCOMPARE(failed.notGivenBack, 1);
        const QList<QByteArray> now = contents(m_music->path()).keys();
        QCOMPARE(now.size(), 1);
        QVERIFY2(now.first().startsWith("sorvane-"), now.first().constData());
        QCOMPARE(failed.lines.size(), std::size_t(1));
        QCOMPARE(failed.lines.front().from, now.first());
        testing::CaseInsensitiveSeam::install();
        QVERIFY(undoNewest().allBack());
        QCOMPARE(contents(m_music->path()), before);
    }

    // With no room for the undo's records, that is known before anything moves.
    void fullStateDisk()
    {
        add("x1.mp3", {"One", "Nova"});
        journaledRun(m_music->path());
        const Contents renamed = contents(m_music->path());
        const testing::SeamGuard seam;
        Sys.fallocate = [](int, int, off_t, off_t) {
            errno = ENOSPC;
            return -1;
        };
        QString error;
        auto undo = Undo::open(newestJournal(), error);
        QVERIFY(undo);
        QString why;
        QVERIFY(!undo->canRecord(why));
        QVERIFY2(why.contains(SystemReason(ENOSPC)), qPrintable(why));
        QCOMPARE(contents(m_music->path()), renamed);
    }

    // A folder another Sorvane is renaming in is left alone: its files stay undoable, and the
    // run is not marked undone.
    void heldFolderStaysUndoable()
    {
        add("x1.mp3", {"One", "Nova"});
        journaledRun(m_music->path());
        const Contents renamed = contents(m_music->path());
        {
            const OpenFolder folder(m_music->path());
            FolderLock theirs;
            int error = 0;
            QCOMPARE(FolderLock::take(folder.fd(), theirs, error), FolderLock::Taken::Yes);
            const UndoReport report = undoNewest();
            QVERIFY(!report.allBack());
            QVERIFY(reasons(report).join(' ').contains(QStringLiteral("другой Sorvane")));
            QCOMPARE(contents(m_music->path()), renamed);
        }
        QVERIFY(ListRuns().front().undoable());
        QVERIFY(undoNewest().allBack());
    }

    // A run whose folder is gone (a stick unplugged) is one line, and nothing is marked.
    void folderGoneIsOneLine()
    {
        for (int i = 0; i < 5; ++i) {
            const QByteArray name = "x" + QByteArray::number(i) + ".mp3";
            add(name.constData(), {"Song " + QByteArray::number(i), "Nova"});
        }
        journaledRun(m_music->path());
        const QString journal = newestJournal();
        m_music->remove();
        QString error;
        auto undo = Undo::open(journal, error);
        QVERIFY(undo);
        const UndoReport report = undo->run();
        undo.reset();
        QVERIFY(!report.refusal.isEmpty());
        QVERIFY(report.notRestored.empty());
        QVERIFY(UndoSummaryText(report).startsWith(QStringLiteral("Прежние имена не возвращены")));
        QVERIFY(ListRuns().front().undoable());
    }

    // A journal whose record names a file outside the run's folder is refused whole, at start-up
    // as at an undo: the empty file it names outside stays, and so does everything inside.
    void journalReachingOutsideIsRefused()
    {
        add("x1.mp3", {"One", "Nova"});
        const QString outside = m_state->filePath(QStringLiteral("outside.mp3"));
        QVERIFY(testing::writeFile(outside, QByteArray()));
        journaledRun(m_music->path());
        const Contents renamed = contents(m_music->path());
        // The journal, made to say a kill left a reservation one folder up.
        QFile journal(newestJournal());
        QByteArray bytes = testing::readFile(journal.fileName());
        bytes.replace("end\tcomplete\t1\n",
                      "reserve\t0\t../" + QFile::encodeName(QFileInfo(outside).fileName()) + '\n');
        QVERIFY(journal.open(QIODevice::WriteOnly | QIODevice::Truncate));
        journal.write(bytes);
        journal.close();
        const StartUpScan scan = ScanJournalsAtStart();
        QCOMPARE(scan.refused.size(), std::size_t(1));
        QVERIFY2(scan.refused.front().second.contains(QStringLiteral("за пределы")),
                 qPrintable(scan.refused.front().second));
        QVERIFY(scan.interrupted.empty() && scan.nothingToAsk.empty());
        QString error;
        QVERIFY(!Undo::open(newestJournal(), error));
        QVERIFY(QFile::exists(outside));
        QCOMPARE(contents(m_music->path()), renamed);
    }

    void theFileOnRecordOnly_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("a copy of its bytes (another inode)") << "copy";
        QTest::newRow("touched (another time)") << "touch";
        QTest::newRow("one byte of its end changed") << "byte";
    }

    // Undo moves only the file the journal knows: on a drive that keeps inode numbers and times,
    // a byte-for-byte copy in its place or the file with another time is not it, nor is a file
    // whose last bytes differ.
    void theFileOnRecordOnly()
    {
        QFETCH(QString, change);
        add("x1.mp3", {"One", "Nova"});
        journaledRun(m_music->path());
        const QString renamed = m_music->filePath(QStringLiteral("Nova_One.mp3"));
        QByteArray bytes = testing::readFile(renamed);
        if (change == QLatin1String("copy")) {
            QVERIFY(QFile::remove(renamed));
            QVERIFY(testing::writeFile(renamed, bytes));
        } else if (change == QLatin1String("touch")) {
            const struct timespec times[2] = {{0, UTIME_NOW}, {1000000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(renamed).constData(), times, 0), 0);
        } else {
            bytes[bytes.size() - 1] = char(bytes.back() ^ 1);
            QFile file(renamed);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(bytes.size() - 1));
            file.write(bytes.right(1));
        }
        const UndoReport report = undoNewest();
        QVERIFY(!report.allBack());
        QCOMPARE(report.notRestored.front().reason,
                 QStringLiteral("под новым именем теперь другой файл"));
        QVERIFY(QFile::exists(renamed));
        QVERIFY(!QFile::exists(m_music->filePath(QStringLiteral("x1.mp3"))));
    }

    // What a killed move left is removed only while empty: a file under a name the journal says
    // was reserved, with bytes in it now, stays.
    void reservedNameWithBytesStays()
    {
        add("x1.mp3", {"One", "Nova"});
        const QString folder = m_music->path();
        QCOMPARE(runKilledOverItsReservation(folder), 9);
        // Another program wrote into the empty reservation meanwhile.
        const QString reserved = m_music->filePath(QStringLiteral("Nova_One.mp3"));
        QFile file(reserved);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("their bytes");
        file.close();
        const UndoReport report = undoNewest();
        QVERIFY(report.allBack()); // the song never moved
        QCOMPARE(testing::readFile(reserved), QByteArray("their bytes"));
        QVERIFY(report.notes.empty());
    }

    // The run's folders are entered below its folder one level at a time, never through a link:
    // a subfolder replaced by a link to another folder is not entered, and nothing there moves.
    void subfolderReplacedByALink()
    {
        const QString album = m_music->filePath(QStringLiteral("Album"));
        QVERIFY(QDir().mkpath(album));
        QVERIFY(testing::writeFile(album + QStringLiteral("/x1.mp3"),
                                   testing::mp3Bytes({"One", "Nova"}, 300)));
        MemoryFieldModel model;
        model.setFolderPath(m_music->path());
        QString error;
        {
            const auto journal = JournalWriter::create(
                JournalKind::Run, QFile::encodeName(QDir::cleanPath(m_music->path())), error);
            const OpenFolder root(m_music->path());
            FolderRunOptions options;
            options.journal = journal.get();
            RenameTree(model, root, WalkFolder(root, true), options);
        }
        QVERIFY(QFile::exists(album + QStringLiteral("/Nova_One.mp3")));
        // The album moved away, a link to it in its place.
        const QString away = m_state->filePath(QStringLiteral("away"));
        QVERIFY(QDir().rename(album, away));
        QVERIFY(QFile::link(away, album));
        const UndoReport report = undoNewest();
        QVERIFY(!report.allBack());
        QVERIFY2(reasons(report).join(' ').contains(QStringLiteral("папка недоступна")),
                 qPrintable(reasons(report).join(' ')));
        QVERIFY(QFile::exists(away + QStringLiteral("/Nova_One.mp3")));
    }
};

QTEST_GUILESS_MAIN(UndoTest)
#include "tst_undo.moc"
