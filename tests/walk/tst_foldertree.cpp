#include "fs/folderlock.h"
#include "fs/listing.h"
#include "fs/openfolder.h"
#include "names/renamefailures.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace sorvane;

namespace
{

// What became of one entry of the tree after a run over it.
enum class Fate { Renamed, Untouched, NotEntered };

struct Entry {
    const char* path; // below the chosen folder
    Fate fate;        // of the file (Renamed: to Nova_<its folder and name>.mp3)
    Failure why;      // for a folder not entered: the reason the details give
    bool needsRoot;   // a mount inside the tree
};

// Mounts made for the test, undone on every way out of it.
class Mounts
{
public:
    ~Mounts()
    {
        for (auto it = m_points.rbegin(); it != m_points.rend(); ++it)
            ::umount2(it->constData(), MNT_DETACH);
    }
    bool add(const char* source, const QString& point, const char* type, unsigned long flags)
    {
        const QByteArray target = QFile::encodeName(point);
        if (::mount(source, target.constData(), type, flags, nullptr) != 0)
            return false;
        m_points.push_back(target);
        return true;
    }

private:
    std::vector<QByteArray> m_points;
};

QByteArray song(const QByteArray& title)
{
    return testing::mp3Bytes({title, "Nova"}, 200);
}

} // namespace

class FolderTreeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_base;
    QString m_root;

    void put(const QString& relative, const QByteArray& bytes)
    {
        const QString path = m_root + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(testing::writeFile(path, bytes));
    }

private slots:
    // One tree holding every case the walk must meet; each row says what became of one entry.
    void walkRules()
    {
        QVERIFY(m_base.isValid());
        m_root = m_base.filePath(QStringLiteral("music"));
        const bool root = ::geteuid() == 0;
        const Entry entries[] = {
            {"top.mp3", Fate::Renamed, nullptr, false},
            {"Artist/one.mp3", Fate::Renamed, nullptr, false},
            {"Artist/Album/two.mp3", Fate::Renamed, nullptr, false},
            {"Artist/Album/Disc/three.mp3", Fate::Renamed, nullptr, false},
            {".hidden/h.mp3", Fate::Untouched, nullptr, false},
            {"link/o.mp3", Fate::Untouched, nullptr, false},
            {"locked/l.mp3", Fate::NotEntered, &RenameFailure::FolderUnreadable, false},
            {"tmpfs/m.mp3", Fate::NotEntered, &RenameFailure::OtherMount, true},
            {"self/top.mp3", Fate::NotEntered, &RenameFailure::FolderWalked, true},
            {"swapped/s.mp3", Fate::Untouched, nullptr, false},
            // Another Sorvane renames in it: left alone, with everything below it.
            {"held/x.mp3", Fate::NotEntered, &RenameFailure::FolderHeld, false},
            {"held/below/y.mp3", Fate::Untouched, nullptr, false},
        };
        put("top.mp3", song("top"));
        put("Artist/one.mp3", song("one"));
        put("Artist/Album/two.mp3", song("two"));
        put("Artist/Album/Disc/three.mp3", song("three"));
        put(".hidden/h.mp3", song("h"));
        put("locked/l.mp3", song("l"));
        put("swapped/s.mp3", song("s"));
        put("held/x.mp3", song("x"));
        put("held/below/y.mp3", song("y"));
        const OpenFolder held(m_root + QStringLiteral("/held"));
        FolderLock theirs;
        int lockError = 0;
        QCOMPARE(FolderLock::take(held.fd(), theirs, lockError), FolderLock::Taken::Yes);
        QDir().mkpath(m_root + QStringLiteral("/empty"));
        // A link to a folder outside the tree: never followed.
        const QString outside = m_base.filePath(QStringLiteral("outside"));
        QDir().mkpath(outside);
        QVERIFY(testing::writeFile(outside + QStringLiteral("/o.mp3"), song("o")));
        QVERIFY(QFile::link(outside, m_root + QStringLiteral("/link")));
        Mounts mounts;
        if (root) {
            QDir().mkpath(m_root + QStringLiteral("/tmpfs"));
            QDir().mkpath(m_root + QStringLiteral("/self"));
            QVERIFY(mounts.add("sorvane-test", m_root + QStringLiteral("/tmpfs"), "tmpfs", 0));
            put("tmpfs/m.mp3", song("m"));
            // The tree inside itself: the same folder again, on the same mount.
            QVERIFY(mounts.add(QFile::encodeName(m_root).constData(),
                               m_root + QStringLiteral("/self"), nullptr, MS_BIND));
        }

        const testing::SeamGuard seam;
        Sys.openat = [](int dir, const char* name, int flags, mode_t mode) {
            if (std::strcmp(name, "locked") == 0) {
                errno = EACCES;
                return -1;
            }
            return ::openat(dir, name, flags, mode);
        };
        const OpenFolder folder(m_root);
        FolderTree tree = WalkFolder(folder, true);
        Sys = RealSystemCalls();

        QStringList walked;
        for (int i = 0; i < tree.files.size(); ++i)
            walked << tree.displayPath(i);
        // A folder's own files first, then its folders in byte order, each the same way.
        QCOMPARE(walked, (QStringList{"top.mp3", "Artist/one.mp3", "Artist/Album/two.mp3",
                                      "Artist/Album/Disc/three.mp3", "swapped/s.mp3"}));
        QCOMPARE(tree.filesBelow(), 4);
        QCOMPARE(tree.foldersBelowWithFiles(), 4);

        // The folder "swapped" is replaced by another before its turn: its file stays.
        struct Swap : RunObserver {
            QString root;
            bool proceed(int done, const FolderTree& files) override
            {
                if (files.displayPath(done) == QLatin1String("swapped/s.mp3")) {
                    QDir(root).rename(QStringLiteral("swapped"), QStringLiteral("swapped.old"));
                    QDir(root).mkdir(QStringLiteral("swapped"));
                }
                return true;
            }
        } swap;
        swap.root = m_root;
        MemoryFieldModel model;
        model.setFolderPath(m_root);
        const auto report = std::make_shared<const FolderReport>(
            RenameTree(model, folder, std::move(tree), {&swap, true}));
        const DetailsTable details(report);
        QStringList reasons;
        for (int i = 0; i < details.size(); ++i) {
            const DetailsRow row = details.row(i);
            reasons << row.path + QStringLiteral(": ") + row.reason;
        }

        for (const Entry& entry : entries) {
            if (entry.needsRoot && !root)
                continue;
            const QString path = QString::fromLatin1(entry.path);
            const QString folderPath = QFileInfo(path).path();
            const QString title = QFileInfo(path).completeBaseName();
            const QString renamed =
                (folderPath == QLatin1String(".") ? QString() : folderPath + '/') +
                QStringLiteral("Nova_") + title + QStringLiteral(".mp3");
            switch (entry.fate) {
            case Fate::Renamed:
                QVERIFY2(QFile::exists(m_root + '/' + renamed) &&
                             !QFile::exists(m_root + '/' + path),
                         entry.path);
                break;
            case Fate::Untouched:
                QVERIFY2(!QFile::exists(m_root + '/' + renamed), entry.path);
                break;
            case Fate::NotEntered:
                QVERIFY2(reasons.contains(folderPath + QStringLiteral(": ") +
                                          Reason({entry.why, EACCES})) ||
                             reasons.contains(folderPath + QStringLiteral(": ") +
                                              Reason({entry.why, 0})),
                         qPrintable(reasons.join('\n')));
                // "self" shows the tree itself, where its files were renamed.
                if (!path.startsWith(QLatin1String("self/")))
                    QVERIFY2(!QFile::exists(m_root + '/' + renamed), entry.path);
                break;
            }
        }
        QVERIFY(testing::readFile(outside + QStringLiteral("/o.mp3")) == song("o"));
        QVERIFY2(reasons.contains(QStringLiteral("swapped/s.mp3: ") +
                                  Reason({&RenameFailure::FolderChanged, 0})),
                 qPrintable(reasons.join('\n')));
        QCOMPARE(model.FailCount(), 1); // only the swapped folder's file; folders are no files
        QVERIFY(QFile::exists(m_root + QStringLiteral("/swapped.old/s.mp3")));
        // Done, the run holds no folder: another run can have each at once.
        for (const QString& each : {m_root, m_root + QStringLiteral("/Artist/Album")}) {
            const OpenFolder open(each);
            FolderLock lock;
            QCOMPARE(FolderLock::take(open.fd(), lock, lockError), FolderLock::Taken::Yes);
        }
        if (!root)
            QSKIP("a tmpfs and a bind mount inside the tree need root: those rows not run");
    }

    // A chosen folder another Sorvane renames in refuses the whole run, as the window and the
    // terminal say it; once let go, it can be had.
    void heldChosenFolderRefusesTheRun()
    {
        QTemporaryDir dir;
        QVERIFY(testing::writeFile(dir.filePath(QStringLiteral("a.mp3")), song("a")));
        const OpenFolder folder(dir.path());
        {
            const FolderTree first = WalkFolder(folder, false);
            try {
                WalkFolder(folder, true);
                QFAIL("a second walk of a held folder went on");
            } catch (const FolderHeld& held) {
                QCOMPARE(held.message(),
                         QStringLiteral("Папку «%1» сейчас переименовывает другой Sorvane.")
                             .arg(dir.path()));
            }
        }
        QCOMPARE(WalkFolder(folder, false).files.size(), 1);
    }

    // The walk holds a descriptor per level and a lock per folder with files to rename, none for
    // an empty one: under a limit of 64 descriptors, hundreds of empty folders are walked (no
    // question, the run is the chosen folder's), and where folders with files pass the limit,
    // each beyond it is named, not lost, and nothing stays open after.
    void openFileLimit()
    {
        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        QTemporaryDir empty, full;
        for (int i = 0; i < 400; ++i)
            QVERIFY(QDir(empty.path()).mkdir(QString::number(i)));
        QVERIFY(testing::writeFile(empty.filePath(QStringLiteral("a.mp3")), song("a")));
        for (int i = 0; i < 100; ++i) {
            const QString folder =
                full.filePath(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(testing::writeFile(folder + QStringLiteral("/b.mp3"), song("b")));
        }
        const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
        const uint before = openDescriptors();
        struct rlimit low = saved;
        low.rlim_cur = 64;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        {
            const OpenFolder folder(empty.path());
            const FolderTree tree = WalkFolder(folder, true);
            QCOMPARE(tree.folders.size(), std::size_t(401));
            QCOMPARE(tree.filesBelow(), 0);
            QVERIFY(tree.skipped.empty());
        }
        int walked = 0, unlocked = 0;
        {
            const OpenFolder folder(full.path());
            const FolderTree tree = WalkFolder(folder, true);
            walked = tree.filesBelow();
            for (const SkippedFolder& skipped : tree.skipped) {
                // Out of descriptors for its lock, or for its listing once locked.
                QVERIFY(skipped.why.failure == &RenameFailure::FolderNotLocked ||
                        skipped.why.failure == &RenameFailure::FolderUnreadable);
                QCOMPARE(skipped.why.error, EMFILE);
                ++unlocked;
            }
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(walked > 0 && unlocked > 0);
        QCOMPARE(walked + unlocked, 100);
        QCOMPARE(openDescriptors(), before);
    }

    // The chosen folder may have been listed before the walk (the window asks first whether its
    // subfolders hold MP3 files): it is listed from its first entry again. A folder the walk
    // opens itself is listed as it stands, without a call to rewind it.
    void onlyTheChosenFolderIsRewound()
    {
        static int rewinds = 0;
        rewinds = 0;
        QTemporaryDir dir;
        for (const char* path : {"a.mp3", "b.mp3", "x/c.mp3", "x/y/d.mp3", "z/e.mp3"}) {
            const QString file = dir.filePath(QString::fromLatin1(path));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            QVERIFY(testing::writeFile(file, song(path)));
        }
        const OpenFolder folder(dir.path());
        {
            Listing before(folder.fd());
            while (before.next()) {
            }
            QVERIFY(!before.failed());
        }
        const testing::SeamGuard seam;
        Sys.lseek = [](int fd, off_t offset, int whence) -> off_t {
            ++rewinds;
            return ::lseek(fd, offset, whence);
        };
        const FolderTree tree = WalkFolder(folder, true);
        QStringList found;
        for (int file = 0; file < tree.files.size(); ++file)
            found << tree.displayPath(file);
        QCOMPARE(found, QStringList({"a.mp3", "b.mp3", "x/c.mp3", "x/y/d.mp3", "z/e.mp3"}));
        QCOMPARE(rewinds, 1);
    }

    // A tree deeper than 256 levels is a loop the file system hides or a mistake: the walk stops
    // there, says so, and renames nothing below.
    void depthLimit()
    {
        QTemporaryDir dir;
        QString deepest = dir.path();
        for (int level = 1; level <= 258; ++level)
            deepest += QStringLiteral("/d");
        QVERIFY(QDir().mkpath(deepest));
        QVERIFY(testing::writeFile(deepest + QStringLiteral("/deep.mp3"), song("deep")));
        QVERIFY(testing::writeFile(dir.filePath(QStringLiteral("d/top.mp3")), song("top")));
        const OpenFolder folder(dir.path());
        const FolderTree tree = WalkFolder(folder, true);
        QCOMPARE(tree.files.size(), 1);
        QCOMPARE(tree.skipped.size(), std::size_t(1));
        QCOMPARE(tree.skipped.front().why.failure, &RenameFailure::FolderTooDeep);
        QCOMPARE(tree.folders.size(), std::size_t(257)); // the chosen one and 256 below it
    }
};

QTEST_GUILESS_MAIN(FolderTreeTest)
#include "tst_foldertree.moc"
