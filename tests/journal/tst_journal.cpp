#include "journal/evidence.h"
#include "journal/journalfiles.h"
#include "journal/journalreader.h"
#include "journal/journalwriter.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sorvane;

namespace
{

QString newestJournal()
{
    const QStringList paths = JournalPaths();
    return paths.isEmpty() ? QString() : paths.last();
}

// A journal file written byte by byte, as a test states it, in the journal folder.
QString writeJournal(const QByteArray& bytes, const QString& name = QStringLiteral("x.journal"))
{
    QDir().mkpath(JournalFolder());
    ::chmod(QFile::encodeName(JournalFolder()).constData(), 0700);
    const QString path = JournalFolder() + QLatin1Char('/') + name;
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    file.close();
    ::chmod(QFile::encodeName(path).constData(), 0600);
    return path;
}

const QByteArray Head = "sorvane journal 2\nkind\trun\nfolder\t/music\nstarted\t1\n";
QByteArray entry(int number, const QByteArray& from, const QByteArray& to)
{
    return "entry\t" + QByteArray::number(number) + '\t' + from + '\t' + to +
           "\t-\t300\t-\t00000000000000aa\t172\t128\t1700000000000000000\n";
}

int g_bytesRead = 0;

} // namespace

class JournalTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_state;

private slots:
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", m_state->path().toUtf8());
    }

    // Names are kept byte for byte, whatever they hold; a plain one reads as itself; every record
    // comes back to its entry; the journal is the user's alone and held while written.
    void roundTrip()
    {
        struct Written {
            QByteArray folder, from, to;
            FileIdentity identity;
        };
        const Written written[] = {
            {"Artist",
             "01 Intro.mp3",
             "Nova_Intro.mp3",
             {3072, 1700000000123456789, 42, 7, 2944, 128}},
            {"", "a\nb\tc\\d\"e\x1b[31m.mp3", "bad\xff\xfe name.mp3", {1, -1, -1, ~0ULL, 0, 1}},
            {"", QByteArray("nul?\x01\x7f\xc2\x9b.mp3"), "Кино.mp3", {200, 5, -1, 0, 72, 128}},
            // A folder's escaped name is kept for its files: each new folder is its own, even
            // one of the same length as the last, or escaped.
            {"Album 0001", "01.mp3", "Nova_1.mp3", {300, 6, 43, 8, 172, 128}},
            {"Album 0002", "01.mp3", "Nova_2.mp3", {301, 7, 44, 9, 173, 128}},
            {"Album\t0003", "01.mp3", "Nova_3.mp3", {302, 8, 45, 10, 174, 128}},
        };
        QString error;
        auto writer = JournalWriter::create(JournalKind::Run, "/music/Ünïcode\n", error);
        QVERIFY2(writer, qPrintable(error));
        for (const Written& w : written)
            writer->add(w.folder, w.from, w.to, w.identity, w.identity.size * 1000);
        QVERIFY(writer->flush());
        QVERIFY(writer->record("aside", 1, "sorvane-1-0.mp3"));
        QVERIFY(writer->record("reserve", 1, "sorvane-1-0.mp3"));
        QVERIFY(writer->record("reserve", 0, "Artist/Nova_Intro.mp3"));
        QVERIFY(writer->record("link", 2));
        writer->addRecord("named", 0);
        const QString path = writer->path();
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QCOMPARE(QFileInfo(JournalFolder()).permissions() & QFile::ExeOther, QFile::Permissions());
        QVERIFY(IsJournalLive(path));
        QVERIFY(writer->close(2));
        writer.reset();
        QVERIFY(!IsJournalLive(path));
        // No half-made journal is left beside it.
        QCOMPARE(QDir(JournalFolder()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        Journal journal;
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QCOMPARE(journal.folder, QByteArray("/music/Ünïcode\n"));
        QVERIFY(journal.complete);
        QCOMPARE(journal.renamed, 2);
        QCOMPARE(journal.entries.size(), std::size(written));
        for (std::size_t i = 0; i < std::size(written); ++i) {
            const Written& w = written[i];
            const JournalEntry& e = journal.entries[i];
            const QByteArray prefix = w.folder.isEmpty() ? QByteArray() : w.folder + '/';
            QCOMPARE(e.oldName, prefix + w.from);
            QCOMPARE(e.newName, prefix + w.to);
            QCOMPARE(e.identity.size, w.identity.size);
            QCOMPARE(e.identity.modified, w.identity.modified);
            QCOMPARE(e.identity.inode, w.identity.inode);
            QCOMPARE(e.identity.digest, w.identity.digest);
            QCOMPARE(e.identity.digestOffset, w.identity.digestOffset);
            QCOMPARE(e.identity.digestLength, w.identity.digestLength);
            QCOMPARE(e.time, w.identity.size * 1000);
        }
        QCOMPARE(journal.entries[1].asides, (std::vector<QByteArray>{"sorvane-1-0.mp3"}));
        QCOMPARE(journal.entries[1].reserved, (std::vector<QByteArray>{"sorvane-1-0.mp3"}));
        QCOMPARE(journal.entries[0].reserved, (std::vector<QByteArray>{"Artist/Nova_Intro.mp3"}));
        QVERIFY(journal.entries[2].linked && !journal.entries[1].linked);
        QVERIFY(journal.entries[0].named && !journal.entries[2].named);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray one = Head + entry(0, "a.mp3", "b.mp3");
        QTest::newRow("a name out of the folder")
            << Head + entry(0, "../x.mp3", "b.mp3") << "за пределы";
        QTest::newRow("deeper out")
            << Head + entry(0, "a.mp3", "../../outside/x.mp3") << "за пределы";
        QTest::newRow("out and back in")
            << Head + entry(0, "sub/../a.mp3", "sub/b.mp3") << "за пределы";
        QTest::newRow("an absolute name") << Head + entry(0, "/etc/x.mp3", "b.mp3") << "за пределы";
        QTest::newRow("an empty component")
            << Head + entry(0, "sub//a.mp3", "sub//b.mp3") << "за пределы";
        QTest::newRow("a dot") << Head + entry(0, "./a.mp3", "./b.mp3") << "за пределы";
        QTest::newRow("a NUL") << Head + entry(0, "a\\x00.mp3", "b.mp3") << "за пределы";
        QTest::newRow("two folders")
            << Head + entry(0, "one/a.mp3", "two/a.mp3") << "не в той же папке";
        QTest::newRow("aside elsewhere") << one + "aside\t0\tother/sorvane-1-0.mp3\n"
                                         << "не в той же папке";
        QTest::newRow("an unknown word") << one + "remove\t0\n"
                                         << "неизвестная запись";
        QTest::newRow("a lost tab") << Head + "entry\t0\ta.mp3b.mp3\t-\t300\t-\t0\t0\t0\t0\n"
                                    << "число полей";
        QTest::newRow("numbers out of order")
            << one + entry(2, "c.mp3", "d.mp3") << "не по порядку";
        QTest::newRow("a number that is not")
            << Head + entry(0, "a.mp3", "b.mp3").replace("300", "3O0") << "число записано неверно";
        QTest::newRow("a record of no entry") << one + "aside\t1\tsorvane-1-0.mp3\n"
                                              << "которого нет";
        QTest::newRow("an entry before the folder")
            << QByteArray("sorvane journal 2\nkind\trun\n") + entry(0, "a.mp3", "b.mp3")
            << "до заголовка";
        QTest::newRow("no header at all") << QByteArray("sorvane journal 2\n") << "нет заголовка";
        QTest::newRow("a relative folder")
            << QByteArray("sorvane journal 2\nkind\trun\nfolder\tmusic\n")
            << "папка записана неверно";
        QTest::newRow("not a journal") << QByteArray("sorvane journal 3\n") << "не журнал";
        QTest::newRow("a first line past 64 bytes") << QByteArray(70, ' ') + "sorvane journal 2\n"
                                                    << "не журнал";
        QTest::newRow("an entry after the end")
            << one + "end\tcomplete\t1\n" + entry(1, "c.mp3", "d.mp3") << "после конца";
        QTest::newRow("a line over 64 KiB")
            << one + "aside\t0\t" + QByteArray(70 * 1024, 'x') + "\n"
            << "длиннее 64";
        QTest::newRow("more renamed than entries") << one + "end\tcomplete\t2\n"
                                                   << "конец журнала";
    }

    // Every line is checked; the first that breaks the grammar refuses the whole journal, with a
    // reason that names the journal and the line.
    void refused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = writeJournal(bytes);
        QVERIFY(!path.isEmpty());
        Journal journal;
        QString error;
        QVERIFY(!ReadJournal(path, journal, error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("x.journal")), qPrintable(error));
        const JournalSummary summary = SummarizeJournal(path);
        QVERIFY(summary.refused);
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("writable by others") << "0666"
                                            << "открыт для записи";
        QTest::newRow("writable by the group") << "0620"
                                               << "открыт для записи";
        QTest::newRow("a link") << "link"
                                << "символьная ссылка";
        QTest::newRow("another user's") << "owner"
                                        << "другому пользователю";
        QTest::newRow("a FIFO") << "fifo"
                                << "не обычный файл";
        QTest::newRow("outside the folder") << "outside"
                                            << "не в папке журналов";
        QTest::newRow("a folder open to others") << "folder"
                                                 << "папка журналов";
    }

    // Only what Sorvane writes is read: a regular file of the user's alone, in the user's own
    // journal folder.
    void refusedFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QByteArray good = Head + entry(0, "a.mp3", "b.mp3");
        QString path = writeJournal(good);
        QVERIFY(!path.isEmpty());
        const QByteArray native = QFile::encodeName(path);
        if (kind == QLatin1String("0666") || kind == QLatin1String("0620")) {
            QCOMPARE(::chmod(native.constData(), kind.toUInt(nullptr, 8)), 0);
        } else if (kind == QLatin1String("link")) {
            const QString target = m_state->filePath(QStringLiteral("elsewhere"));
            QVERIFY(testing::writeFile(target, good));
            QFile::remove(path);
            QVERIFY(QFile::link(target, path));
        } else if (kind == QLatin1String("owner")) {
            if (::geteuid() != 0)
                QSKIP("giving a file to another user needs root");
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        } else if (kind == QLatin1String("fifo")) {
            QFile::remove(path);
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == QLatin1String("outside")) {
            path = m_state->filePath(QStringLiteral("x.journal"));
            QVERIFY(testing::writeFile(path, good));
        } else if (kind == QLatin1String("folder")) {
            QCOMPARE(::chmod(QFile::encodeName(JournalFolder()).constData(), 0777), 0);
        }
        Journal journal;
        QString error;
        QVERIFY(!ReadJournal(path, journal, error));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    // A huge or sparse file in the journal folder is refused from its first bytes: the reader
    // never holds or reads more than a line.
    void hugeFilesAreRefusedAtOnce_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("1 GiB of nothing") << QByteArray();
        QTest::newRow("newlines") << QByteArray(60, '\n');
        QTest::newRow("a header, then 1 GiB of nothing") << Head;
    }

    void hugeFilesAreRefusedAtOnce()
    {
        QFETCH(QByteArray, head);
        const QString path = writeJournal(head);
        QVERIFY(!path.isEmpty());
        QVERIFY(::truncate(QFile::encodeName(path).constData(), qint64(1) << 30) == 0);
        const testing::SeamGuard seam;
        g_bytesRead = 0;
        Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) {
            const ssize_t got = ::pread(fd, buffer, count, offset);
            g_bytesRead += int(std::max<ssize_t>(got, 0));
            return got;
        };
        Journal journal;
        QString error;
        QVERIFY(!ReadJournal(path, journal, error));
        QVERIFY2(g_bytesRead <= 256 * 1024, qPrintable(QString::number(g_bytesRead)));
        g_bytesRead = 0;
        QVERIFY(SummarizeJournal(path).refused);
        QVERIFY2(g_bytesRead <= 256 * 1024, qPrintable(QString::number(g_bytesRead)));
    }

    // A line the writer was killed in the middle of is left out; a mark appended later cuts it off
    // first, so the mark stands on a line of its own and the journal stays whole.
    void cutJournalWithAMarkAfterIt()
    {
        const QString path = writeJournal(Head + entry(0, "a.mp3", "b.mp3") +
                                          entry(1, "c.mp3", "d.mp3") + "entry\t2\tha");
        Journal journal;
        QString error;
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QVERIFY(journal.cutLine);
        QCOMPARE(journal.entries.size(), std::size_t(2));
        QVERIFY(!journal.complete);
        QVERIFY2(MarkJournalDismissed(path, error), qPrintable(error));
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QVERIFY(journal.dismissed && !journal.cutLine);
        QCOMPARE(journal.entries.size(), std::size_t(2));
        QVERIFY(testing::readFile(path).endsWith(entry(1, "c.mp3", "d.mp3") + "end\tdismissed\n"));
        // Reopened for an undo's records, the same.
        writeJournal(Head + entry(0, "a.mp3", "b.mp3") + "asi");
        bool held = false;
        auto writer = JournalWriter::reopen(path, error, held);
        QVERIFY2(writer, qPrintable(error));
        QVERIFY(writer->record("aside", 0, "sorvane-9-0.mp3"));
        writer.reset();
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QCOMPARE(journal.entries.front().asides, (std::vector<QByteArray>{"sorvane-9-0.mp3"}));
    }

    // A journal too large to read whole at start is summed up from its head and its last lines:
    // the summary says what reading it whole says, and reads it whole only when the run did not
    // end, for the question about it.
    void largeJournalSummedUpAsReadWhole_data()
    {
        QTest::addColumn<QByteArray>("marks");
        QTest::addColumn<bool>("readWhole");
        QTest::newRow("complete") << QByteArray("end\tcomplete\t400\n") << false;
        QTest::newRow("undo started")
            << QByteArray("end\tcomplete\t400\nundo\tstarted\t5\n") << false;
        QTest::newRow("undone") << QByteArray("end\tcomplete\t400\nundo\tstarted\t5\nundone\t6\n")
                                << false;
        QTest::newRow("undone, then undo again")
            << QByteArray("end\tcomplete\t400\nundo\tstarted\t5\nundone\t6\nundo\tstarted\t7\n")
            << false;
        QTest::newRow("interrupted") << QByteArray() << true;
        QTest::newRow("interrupted, dismissed") << QByteArray("end\tdismissed\n") << true;
    }
    void largeJournalSummedUpAsReadWhole()
    {
        QFETCH(QByteArray, marks);
        QFETCH(bool, readWhole);
        QByteArray bytes = Head;
        for (int i = 0; i < 400; ++i)
            bytes += entry(i, "track" + QByteArray::number(i) + ".mp3", "end.mp3");
        QVERIFY(bytes.size() > 32 * 1024); // past what is read whole at once
        const QString path = writeJournal(bytes + marks);
        Journal whole;
        QString error;
        QVERIFY2(ReadJournal(path, whole, error), qPrintable(error));
        const JournalSummary summary = SummarizeJournal(path);
        QVERIFY2(!summary.refused, qPrintable(summary.reason));
        QCOMPARE(summary.head.complete, whole.complete);
        QCOMPARE(summary.head.renamed, whole.renamed);
        QCOMPARE(summary.head.dismissed, whole.dismissed);
        QCOMPARE(summary.head.undoStarted, whole.undoStarted);
        QCOMPARE(summary.head.undone, whole.undone);
        QCOMPARE(summary.head.folder, QByteArray("/music"));
        QCOMPARE(summary.entries, readWhole ? 400 : -1);
    }

    // An end line the writer was killed in the middle of is no end: the run was interrupted.
    void tornEndLine()
    {
        // Cut anywhere in the line, down to its first byte.
        for (const QByteArray& torn : {QByteArray("end\tcomplete\t1"), QByteArray("e")}) {
            const QString path = writeJournal(Head + entry(0, "a.mp3", "b.mp3") + torn);
            Journal journal;
            QString error;
            QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
            QVERIFY(!journal.complete && journal.cutLine);
            QVERIFY(!SummarizeJournal(path).head.complete);
        }
    }

    // A mark that does not reach the disk is no mark: closing says so, with the system's code.
    void markNotSyncedIsAFailure()
    {
        QString error;
        auto writer = JournalWriter::create(JournalKind::Run, "/music", error);
        QVERIFY2(writer, qPrintable(error));
        const testing::SeamGuard seam;
        Sys.fsync = [](int) {
            errno = EIO;
            return -1;
        };
        QVERIFY(!writer->close(0));
        QCOMPARE(writer->error(), EIO);
    }

    // Version 1 journals, as earlier releases wrote them, are still read.
    void versionOne()
    {
        const QString path =
            writeJournal("sorvane journal 1\nkind\trun\nfolder\t/music\n"
                         "entry\t0\tx1.mp3\tNova_One.mp3\t42\t300\t1700000000000000000\n"
                         "entry\t1\tnova_two.mp3\tNova_Two.mp3\t-\t300\t5\n"
                         "aside\t1\tsorvane-7-0.mp3\nreserve\t1\nend\tcomplete\t2\nundone\t\n");
        Journal journal;
        QString error;
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QCOMPARE(journal.version, 1);
        QCOMPARE(journal.entries[0].identity.inode, 42);
        QCOMPARE(journal.entries[1].identity.modified, 5);
        QCOMPARE(journal.entries[1].identity.digestLength, 0);
        QVERIFY(journal.entries[1].reservedV1);
        QVERIFY(
            JournalEvidence::records(journal.entries[1], Leftover::Reservation, "Nova_Two.mp3"));
        QVERIFY(
            JournalEvidence::records(journal.entries[1], Leftover::Reservation, "sorvane-7-0.mp3"));
        QVERIFY(journal.undone);
    }

    // A probe (another process asking whether a run is alive) may come at any moment of a
    // journal's making: the writer waits the microseconds it holds its shared lock and goes on,
    // and the probe never sees a journal without its header and lock.
    void probeRacingTheCreation()
    {
        const testing::SeamGuard seam;
        Sys.flock = [](int fd, int operation) {
            if (operation & LOCK_EX) {
                // A probe's shared lock, taken just before the writer's, let go a moment later.
                char path[64];
                std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
                const int probe = ::open(path, O_RDONLY);
                ::flock(probe, LOCK_SH | LOCK_NB);
                std::thread([probe] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    ::close(probe);
                }).detach();
            }
            return ::flock(fd, operation);
        };
        QString error;
        auto writer = JournalWriter::create(JournalKind::Run, "/music", error);
        QVERIFY2(writer, qPrintable(error));
        Sys = RealSystemCalls();

        // Many writers and a prober at once: every journal that can be seen is whole and alive.
        std::atomic<bool> done{false};
        std::atomic<int> seenBroken{0};
        std::thread prober([&] {
            while (!done) {
                for (const QString& path : JournalPaths()) {
                    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY));
                    char head[18] = {};
                    if (fd.isOpen() && ::pread(fd.get(), head, 17, 0) != 17)
                        ++seenBroken;
                }
            }
        });
        std::vector<std::unique_ptr<JournalWriter>> writers;
        for (int i = 0; i < 200; ++i) {
            writers.push_back(JournalWriter::create(JournalKind::Run, "/music", error));
            QVERIFY2(writers.back(), qPrintable(error));
        }
        done = true;
        prober.join();
        QCOMPARE(seenBroken.load(), 0);
    }

    // A run knows its own journal from memory: asking whether it is alive takes no lock on it,
    // whose close would drop the run's own lock where flock is emulated (NFS).
    void ownJournalIsNeverProbed()
    {
        QString error;
        auto writer = JournalWriter::create(JournalKind::Run, "/music", error);
        QVERIFY(writer);
        const testing::SeamGuard seam;
        static int probes;
        probes = 0;
        Sys.flock = [](int fd, int operation) {
            ++probes;
            return ::flock(fd, operation);
        };
        QVERIFY(IsJournalLive(writer->path()));
        QCOMPARE(probes, 0);
        // Another process's journal is probed, and found alive while its writer lives.
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            LetGoOfJournal(writer->path());
            auto theirs = JournalWriter::create(JournalKind::Run, "/music", error);
            [[maybe_unused]] auto written = ::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        // Killed on every way out: a child left paused would hold the test's output open.
        struct Reaper {
            pid_t pid;
            ~Reaper()
            {
                if (pid <= 0)
                    return; // reaped already; kill(-1) would reach every process
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        } reaper{child};
        char byte;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
        const QString theirs = newestJournal();
        QVERIFY(theirs != writer->path());
        QVERIFY(IsJournalLive(theirs));
        QVERIFY(probes > 0);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        reaper.pid = 0;
        QVERIFY(!IsJournalLive(theirs));
    }

    // A journal a living process holds is never evidence of a killed move; one whose run died is.
    void liveJournalIsNoEvidence()
    {
        const FileIdentity identity{300, -1, -1, 5, 172, 128};
        QString error;
        auto live = JournalWriter::create(JournalKind::Run, "/music", error);
        live->add({}, "a.mp3", "Nova_A.mp3", identity, 0);
        QVERIFY(live->record("reserve", 0, "Nova_A.mp3"));
        QVERIFY(JournalEvidence::load("/music").empty());
        live.reset(); // the run died: its journal has no end
        const JournalEvidence evidence = JournalEvidence::load("/music");
        const JournalEntry* move = evidence.moveOf("/music", "a.mp3", "Nova_A.mp3", identity);
        QVERIFY(move);
        QVERIFY(JournalEvidence::records(*move, Leftover::Reservation, "Nova_A.mp3"));
        QVERIFY(!JournalEvidence::records(*move, Leftover::SecondName, "Nova_A.mp3"));
        // Another file (another digest) under the same names is not the one on record.
        FileIdentity other = identity;
        other.digest = 6;
        QVERIFY(!evidence.moveOf("/music", "a.mp3", "Nova_A.mp3", other));
        QVERIFY(!evidence.moveOf("/elsewhere", "a.mp3", "Nova_A.mp3", identity));
    }

    // Runs and single renames are kept fifty each: a day of single renames never prunes a run.
    void pruningKeepsRunsAndSinglesApart()
    {
        QString error;
        std::unique_ptr<JournalWriter> live = JournalWriter::create(JournalKind::Run, "/m", error);
        QVERIFY(live);
        const auto name = [](int i, const char* kind) {
            return QStringLiteral("20200101-0000%1.000-1-%2.journal")
                .arg(i, 2, 10, QLatin1Char('0'))
                .arg(QLatin1String(kind));
        };
        for (int i = 0; i < 60; ++i) {
            writeJournal(Head, name(i, "run"));
            writeJournal(Head, name(i, "single"));
        }
        writeJournal(Head, QStringLiteral("not-ours.journal"));
        PruneJournals(50);
        const QStringList left = QDir(JournalFolder()).entryList({QStringLiteral("*.journal")});
        QCOMPARE(left.filter(QStringLiteral("-single")).size(), 50);
        // The live one is the newest; the 49 newest of the others are kept with it.
        QCOMPARE(left.filter(QStringLiteral("-run")).size(), 50);
        QVERIFY(left.contains(QFileInfo(live->path()).fileName()));
        QVERIFY(left.contains(name(59, "single")) && !left.contains(name(9, "single")));
        QVERIFY(left.contains(QStringLiteral("not-ours.journal")));
    }
};

QTEST_GUILESS_MAIN(JournalTest)
#include "tst_journal.moc"
