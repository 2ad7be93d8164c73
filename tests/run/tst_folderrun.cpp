#include "base/error.h"
#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "journal/journalwriter.h"
#include "names/renamefailures.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "run/tagreader.h"
#include "support/caseinsensitive.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QTemporaryDir>

#include <QThread>
#include <QtTest>
#include <atomic>
#include <system_error>

using namespace sorvane;
using testing::V1Tag;

class FolderRunTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    MemoryFieldModel m_model;

    QString folder() const { return m_dir->path(); }

    void add(const QString& name, const V1Tag& tag)
    {
        QVERIFY(testing::writeFile(m_dir->filePath(name), testing::mp3Bytes(tag)));
    }

    QStringList names() const
    {
        return QDir(folder()).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    // The number of files not renamed, which FailCount must agree with.
    int run()
    {
        m_model.setFolderPath(folder());
        const FolderReport report = RenameFolder(m_model);
        if (m_model.FailCount() != int(report.notRenamed.size()))
            qFatal("FailCount disagrees with the report");
        return m_model.FailCount();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_model.setCheck1(FieldModel::Album, 0);
        m_model.setCheck1(FieldModel::Year, 0);
        m_model.setFailCount(7);
    }

    // A journal that stops being written (the state disk full) is said in the report with its
    // reason; the renames go on, and the ones made stay.
    void journalFailureIsReported()
    {
        for (int i = 0; i < 3; ++i)
            add(QStringLiteral("%1.mp3").arg(i), {"Song " + QByteArray::number(i), "Nova"});
        qputenv("XDG_STATE_HOME", m_dir->filePath(QStringLiteral("state")).toUtf8());
        QString error;
        const auto journal =
            JournalWriter::create(JournalKind::Run, QFile::encodeName(folder()), error);
        QVERIFY2(journal, qPrintable(error));
        const testing::SeamGuard seam;
        Sys.write = [](int, const void*, size_t) -> ssize_t {
            errno = ENOSPC;
            return -1;
        };
        m_model.setFolderPath(folder());
        FolderRunOptions options;
        options.journal = journal.get();
        const FolderReport report = RenameFolder(m_model, options);
        QCOMPARE(report.journalFailure, SystemReason(ENOSPC));
        QCOMPARE(report.renamed, 3);
    }

    // The second pass over the names refused for a character renames only the files the first
    // saw: one written to since stays, with its reason; the others get their names.
    void secondPassRenamesOnlyTheFilesSeen()
    {
        add(QStringLiteral("1.mp3"), {"Thunderstruck", "AC/DC"});
        add(QStringLiteral("2.mp3"), {"Numb/Encore", "Jay"});
        m_model.setFolderPath(folder());
        const OpenFolder root(folder());
        const FolderReport first = RenameTree(m_model, root, WalkFolder(root, false));
        QCOMPARE(int(first.replaceable.size()), 2);
        {
            // Its audio written to, its tag as it was.
            QFile changed(m_dir->filePath(QStringLiteral("2.mp3")));
            QVERIFY(changed.open(QIODevice::ReadWrite) && changed.write("x") == 1);
        }
        const FolderReport second = RenameReplaceable(m_model, root, first, {});
        QCOMPARE(second.renamed, 1);
        QCOMPARE(int(second.notRenamed.size()), 1);
        QCOMPARE(Reason(second.notRenamed.front().outcome),
                 Reason({&RenameFailure::FileChanged, 0}));
        QCOMPARE(names(), (QStringList{"2.mp3", "AC-DC_Thunderstruck.mp3"}));
    }

    // A tree run holds its root's lock to its end, however many folders it has left behind:
    // another Sorvane asking for the root while the run is in a subfolder finds it held.
    void rootHeldWhileInSubfolders()
    {
        add(QStringLiteral("a.mp3"), {"A", "Nova"});
        for (const char* sub : {"one", "two"}) {
            QVERIFY(QDir(folder()).mkdir(QLatin1String(sub)));
            add(QLatin1String(sub) + QStringLiteral("/b.mp3"), {"B", "Nova"});
        }
        struct AskForTheRoot : RunObserver {
            QString root;
            QStringList held;
            bool proceed(int file, const FolderTree& files) override
            {
                const OpenFolder open(root);
                FolderLock lock;
                int error = 0;
                if (FolderLock::take(open.fd(), lock, error) == FolderLock::Taken::Held)
                    held << files.displayPath(file);
                return true;
            }
        } asker;
        asker.root = folder();
        m_model.setFolderPath(folder());
        const OpenFolder root(folder());
        const FolderReport report = RenameTree(m_model, root, WalkFolder(root, true), {&asker});
        QCOMPARE(report.renamed, 3);
        QCOMPARE(asker.held, (QStringList{"a.mp3", "one/b.mp3", "two/b.mp3"}));
    }

    void emptyFolderIsDone()
    {
        QCOMPARE(run(), 0);
        QCOMPARE(m_model.FailCount(), 0);
    }

    void renamesEachFileFromItsOwnTag()
    {
        add(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        add(QStringLiteral("B.MP3"), {"Red Sun", "Lumen"});
        QCOMPARE(run(), 0);
        QCOMPARE(names(), (QStringList{QStringLiteral("Lumen_Red Sun.mp3"),
                                       QStringLiteral("Nova_Blue Sky.mp3")}));
        QCOMPARE(m_model.txtFile(), QString());
        // A second run finds every file already named: nothing fails.
        QCOMPARE(run(), 0);
        QCOMPARE(names().size(), 2);
    }

    void blankTitlesCount()
    {
        add(QStringLiteral("1.mp3"), {"", "Nova"});
        add(QStringLiteral("2.mp3"), {"======", "Nova"});
        QCOMPARE(run(), 2);
        QCOMPARE(names(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("2.mp3")}));
    }

    void albumAndYearSelectionsApplyToEveryFile()
    {
        m_model.setCheck1(FieldModel::Year, 1);
        add(QStringLiteral("1.mp3"), {"One", "A", "Alb", "2001"});
        add(QStringLiteral("2.mp3"), {"Two", "B", "Alb", "2002"});
        QCOMPARE(run(), 0);
        QCOMPARE(names(),
                 (QStringList{QStringLiteral("A_2001_One.mp3"), QStringLiteral("B_2002_Two.mp3")}));
        QCOMPARE(m_model.Check1(FieldModel::Year), 1);
    }

    // The short file fails; the file after it must get its own name, not the one before's.
    void failuresCountAndTheRunGoesOn()
    {
        add(QStringLiteral("1.mp3"), {"First", "A"});
        QVERIFY(testing::writeFile(m_dir->filePath(QStringLiteral("2.mp3")), "short"));
        add(QStringLiteral("3.mp3"), {"Third", "C"});
        add(QStringLiteral("4.mp3"), {"Taken", "D"});
        add(QStringLiteral("D_Taken.mp3"), {"Other", "E"}); // listed after 4.mp3, so still there
        QCOMPARE(run(), 2);
        QCOMPARE(names(), (QStringList{QStringLiteral("2.mp3"), QStringLiteral("4.mp3"),
                                       QStringLiteral("A_First.mp3"), QStringLiteral("C_Third.mp3"),
                                       QStringLiteral("E_Other.mp3")}));
    }

    void listingKeepsOnlyPlainMp3Files()
    {
        add(QStringLiteral("b.mp3"), {});
        add(QStringLiteral("A.Mp3"), {});
        add(QStringLiteral(".hidden.mp3"), {});
        add(QStringLiteral("notes.txt"), {});
        add(QStringLiteral("song.mp3.bak"), {});
        QVERIFY(QDir(folder()).mkdir(QStringLiteral("folder.mp3")));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("b.mp3")),
                            m_dir->filePath(QStringLiteral("link.mp3"))));
        QVERIFY(
            QFile::link(QStringLiteral("/nowhere"), m_dir->filePath(QStringLiteral("gone.mp3"))));
        QStringList listed;
        const FolderSnapshot files = ListMp3Files(OpenFolder(folder()));
        for (int i = 0; i < files.size(); ++i)
            listed << files.displayName(i);
        QCOMPARE(listed, (QStringList{QStringLiteral("A.Mp3"), QStringLiteral("b.mp3")}));
    }

    // Where the listing gives no entry types, each entry is asked about; one that cannot be is
    // counted with its reason, never dropped.
    void entryOfUnknownTypeIsCountedNotDropped()
    {
        add(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        add(QStringLiteral("locked.mp3"), {"Red Sun", "Lumen"});
        QVERIFY(QDir(folder()).mkdir(QStringLiteral("folder.mp3")));
        const testing::SeamGuard seam;
        Sys.getdents64 = [](int dir, void* buffer, size_t length) {
            const ssize_t got = ::getdents64(dir, buffer, length);
            for (ssize_t at = 0; at < got;) {
                auto* entry = reinterpret_cast<struct dirent64*>(static_cast<char*>(buffer) + at);
                entry->d_type = DT_UNKNOWN;
                at += entry->d_reclen;
            }
            return got;
        };
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            if (std::strcmp(name, "locked.mp3") == 0) {
                errno = EACCES;
                return -1;
            }
            return ::fstatat(dir, name, info, flags);
        };
        m_model.setFolderPath(folder());
        const FolderReport report = RenameFolder(m_model);
        QCOMPARE(report.notRenamed.size(), std::size_t(1));
        QCOMPARE(report.tree.displayPath(report.notRenamed[0].file), QStringLiteral("locked.mp3"));
        QCOMPARE(report.notRenamed[0].outcome.failure, &RenameFailure::TypeUnreadable);
        QCOMPARE(report.notRenamed[0].outcome.error, EACCES);
        QCOMPARE(names(),
                 (QStringList{QStringLiteral("Nova_Blue Sky.mp3"), QStringLiteral("folder.mp3"),
                              QStringLiteral("locked.mp3")}));
    }

    // A case-only rename whose move back from the name aside failed: the details name the file
    // as it is now, and the next run renames it from its tag.
    void fileLeftAsideIsNamedAndRenamedNextTime()
    {
        add(QStringLiteral("nova_x.mp3"), {"X", "Nova"});
        {
            const testing::SeamGuard seam;
            testing::CaseInsensitiveSeam::install();
            testing::CaseInsensitiveSeam::failMovesFromAside();
            m_model.setFolderPath(folder());
            const FolderReport report = RenameFolder(m_model);
            const QString aside = QStringLiteral("sorvane-%1-0.mp3").arg(::getpid());
            QCOMPARE(names(), QStringList{aside});
            QCOMPARE(report.notRenamed.size(), std::size_t(1));
            const QString details = DetailsText(report);
            QVERIFY2(details.contains(QStringLiteral("\n«%1» → «Nova_X.mp3»: ").arg(aside)) &&
                         details.contains(QStringLiteral("прежде файл назывался «nova_x.mp3»")),
                     qPrintable(details));
        }
        QCOMPARE(run(), 0);
        QCOMPARE(names(), QStringList{QStringLiteral("Nova_X.mp3")});
    }

    // More files than the read-ahead's window holds, read by one reader and by several:
    // every file is renamed, in order, and the run ends.
    void runsPastTheWindow_data()
    {
        QTest::addColumn<bool>("slow");
        QTest::newRow("one reader") << false;
        QTest::newRow("readers added") << true;
    }

    void runsPastTheWindow()
    {
        QFETCH(bool, slow);
        const int files = TagReader::Window * 2 + 37;
        for (int i = 0; i < files; ++i)
            add(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0')),
                {"Song " + QByteArray::number(i), "Nova"});
        const testing::SeamGuard seam;
        if (slow) {
            Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) {
                QThread::usleep(300);
                return ::pread(fd, buffer, count, offset);
            };
        }
        m_model.setFolderPath(folder());
        const FolderReport report = RenameFolder(m_model);
        QCOMPARE(m_model.FailCount(), 0);
        QCOMPARE(report.renamed, files);
        // A loaded machine may add a reader to the fast run too; the slow one needs them.
        QVERIFY(slow ? report.readers > 1 : report.readers >= 1);
        QCOMPARE(names().size(), files);
        QVERIFY(names().contains(QStringLiteral("Nova_Song %1.mp3").arg(files - 1)));
    }

    // Cancel while the readers wait for room in a full window: the run stops before the file
    // asked about, the readers stop, and nothing after it is renamed.
    void cancelWhileTheReadersWait()
    {
        const int files = TagReader::Window * 3;
        for (int i = 0; i < files; ++i)
            add(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0')),
                {"Song " + QByteArray::number(i), "Nova"});
        struct CancelAt : RunObserver {
            bool proceed(int done, const FolderTree&) override
            {
                if (done == 3)
                    QThread::msleep(50); // the readers fill the window meanwhile
                return done < 4;
            }
        } cancel;
        m_model.setFolderPath(folder());
        const FolderReport report = RenameFolder(m_model, {&cancel, true});
        QVERIFY(report.stopped);
        QCOMPARE(report.renamed, 4);
        QCOMPARE(m_model.FailCount(), files - 4);
        QCOMPARE(names().filter(QStringLiteral("Nova_")).size(), 4);
    }

    // A lone surrogate in a UTF-16 title is measured as the U+FFFD it is written as: at the
    // 255-byte boundary the dry run and the run agree, and the run makes the name it said.
    void aLoneSurrogateIsMeasuredAsWritten()
    {
        QByteArray title(1, '\2'); // UTF-16BE
        for (int i = 0; i < 250; ++i)
            title += i % 2 ? QByteArray("\0a", 2) : QByteArray("\0b", 2);
        title += QByteArray("\xDC\x00", 2);
        QVERIFY(
            testing::writeFile(m_dir->filePath(QStringLiteral("song.mp3")),
                               testing::id3v2Tag(4, {{"TIT2", title}}) + QByteArray(500, '\xFB')));
        struct Names : RunObserver {
            QStringList names;
            bool proceed(int, const FolderTree&) override { return true; }
            void fileDone(int, const Outcome& outcome, const QString& name, bool) override
            {
                names << (outcome.ok() ? name : Reason(outcome));
            }
        };
        m_model.setFolderPath(folder());
        Names dry, real;
        FolderRunOptions options;
        options.observer = &dry;
        options.dryRun = true;
        RenameFolder(m_model, options);
        options.observer = &real;
        options.dryRun = false;
        const FolderReport report = RenameFolder(m_model, options);
        QVERIFY2(report.notRenamed.empty(), qPrintable(real.names.join(QLatin1Char('\n'))));
        QCOMPARE(real.names, dry.names);
        QCOMPARE(names(), real.names);
        QVERIFY(real.names.value(0).toUtf8().size() <= 255);
    }

    void failedListingTouchesNothing()
    {
        m_model.setTxtFile(QStringLiteral("/earlier/file.mp3"));
        m_model.setFolderPath(m_dir->filePath(QStringLiteral("vanished")));
        try {
            RenameFolder(m_model);
            QFAIL("listing a missing folder should fail");
        } catch (const Error& error) {
            QVERIFY2(error.message().contains(QStringLiteral("vanished")),
                     qPrintable(error.message()));
        }
        QCOMPARE(m_model.FailCount(), 7);
        QCOMPARE(m_model.txtFile(), QStringLiteral("/earlier/file.mp3"));
    }

    void readersThatCannotBeHad_data()
    {
        QTest::addColumn<bool>("noThread");
        QTest::newRow("no thread to be had") << true;
        QTest::newRow("a reader that throws") << false;
    }

    // Reading ahead cannot hang the run or end the program: without a thread to read on, the
    // run reads each tag in turn; whatever a reader throws is that file's failure, and the run
    // goes on.
    void readersThatCannotBeHad()
    {
        QFETCH(bool, noThread);
        for (int i = 0; i < 40; ++i)
            add(QStringLiteral("%1.mp3").arg(i, 2, 10, QLatin1Char('0')),
                {"Song " + QByteArray::number(i), "Nova"});
        const testing::SeamGuard seam;
        const auto start = TagReader::StartThread;
        if (noThread) {
            TagReader::StartThread = [](std::function<void()>) -> std::thread {
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            };
        } else {
            // The seventh file's read throws, on whichever thread reads it.
            static std::atomic<int> reads;
            reads = 0;
            Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) -> ssize_t {
                char link[64], target[4096] = {};
                std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
                const bool song = ::readlink(link, target, sizeof target - 1) > 0 &&
                                  QByteArray(target).endsWith(".mp3");
                if (song && ++reads == 7)
                    throw std::bad_alloc();
                return ::pread(fd, buffer, count, offset);
            };
        }
        m_model.setFolderPath(folder());
        FolderRunOptions options;
        options.readAhead = true;
        const FolderReport report = RenameFolder(m_model, options);
        TagReader::StartThread = start;
        if (noThread) {
            QCOMPARE(report.readers, 0);
            QCOMPARE(m_model.FailCount(), 0);
            QCOMPARE(names().filter(QStringLiteral("Nova_Song")).size(), 40);
        } else {
            QCOMPARE(m_model.FailCount(), 1);
            QCOMPARE(report.notRenamed.front().outcome.failure, &RenameFailure::ReadCrashed);
            QCOMPARE(names().filter(QStringLiteral("Nova_Song")).size(), 39);
        }
    }
};

QTEST_GUILESS_MAIN(FolderRunTest)
#include "tst_folderrun.moc"
