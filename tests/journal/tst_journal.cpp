#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "journal/journal.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "journal/undo.h"
#include "support/caseinsensitive.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QTemporaryDir>
#include <QtTest>

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

QString newestJournal()
{
    const QStringList paths = JournalPaths();
    return paths.isEmpty() ? QString() : paths.last();
}

int g_killAfter = 0;
int g_moves = 0;

} // namespace

class JournalTest : public QObject
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

    // A folder run in a child process, as the program runs it; returns how the child ended.
    template <typename Setup> int runInChild(Setup setup)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            setup();
            MemoryFieldModel model;
            model.setFolderPath(m_music->path());
            QString error;
            const auto journal =
                JournalWriter::create(JournalKind::Run, QFile::encodeName(m_music->path()), error);
            FolderRunOptions options;
            options.journal = journal.get();
            options.readAhead = false;
            RenameFolder(model, options);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    }

private slots:
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        m_music = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", m_state->path().toUtf8());
    }

    // Names are kept byte for byte, whatever they hold; a plain one reads as itself; a line the
    // run was killed while writing is left out.
    void roundTrip()
    {
        const std::vector<JournalEntry> entries = {
            {"Artist/01 Intro.mp3", "Artist/Nova_Intro.mp3", {}, {3072, 1700000000123456789, 42}},
            {"a\nb\tc\\d\"e\x1b[31m.mp3", "bad\xff\xfe name.mp3", {}, {1, 2, -1}},
            {QByteArray("nul?\x01\x7f\xc2\x9b.mp3"), "Кино.mp3", {}, {0, 0, 7}},
        };
        QString error;
        auto writer = JournalWriter::create(JournalKind::Run, "/music/Ünïcode\n", error);
        QVERIFY2(writer, qPrintable(error));
        QVERIFY(writer->writeAhead(entries));
        QVERIFY(writer->writeAside(1, "sorvane-1-0.mp3"));
        const QString path = writer->path();
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QCOMPARE(QFileInfo(JournalFolder()).permissions() & QFile::ExeOther, QFile::Permissions());
        QVERIFY(IsJournalLocked(path));
        QVERIFY(testing::readFile(path).contains("entry\t0\tArtist/01 Intro.mp3\t"));
        writer.reset();
        QVERIFY(!IsJournalLocked(path));
        // A torn line at the end: the run killed halfway through writing it.
        QFile torn(path);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("entry\t3\thalf");
        torn.close();

        Journal journal;
        QVERIFY2(ReadJournal(path, journal, error), qPrintable(error));
        QCOMPARE(journal.folder, QByteArray("/music/Ünïcode\n"));
        QVERIFY(!journal.complete);
        QCOMPARE(journal.entries.size(), entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            QCOMPARE(journal.entries[i].oldName, entries[i].oldName);
            QCOMPARE(journal.entries[i].newName, entries[i].newName);
            QCOMPARE(journal.entries[i].identity.size, entries[i].identity.size);
            QCOMPARE(journal.entries[i].identity.modified, entries[i].identity.modified);
            QCOMPARE(journal.entries[i].identity.inode, entries[i].identity.inode);
        }
        QCOMPARE(journal.entries[1].asideName, QByteArray("sorvane-1-0.mp3"));
    }

    // A run, then its undo: every file back byte for byte; a file created meanwhile under one
    // old name is not replaced, and another file under one new name is not moved.
    void undoRefusesWhatItMustNot()
    {
        add("01 one.mp3", {"One", "Nova"});
        add("02 two.mp3", {"Two", "Nova"});
        add("03 three.mp3", {"Three", "Nova"});
        const Contents before = contents(m_music->path());
        QCOMPARE(runInChild([] {}), 0);
        QCOMPARE(contents(m_music->path()).keys(),
                 (QList<QByteArray>{"Nova_One.mp3", "Nova_Three.mp3", "Nova_Two.mp3"}));
        // Meanwhile: a new file under one old name, another file in place of one new name.
        QVERIFY(testing::writeFile(m_music->filePath("01 one.mp3"), "newcomer"));
        QVERIFY(QFile::remove(m_music->filePath("Nova_Two.mp3")));
        QVERIFY(testing::writeFile(m_music->filePath("Nova_Two.mp3"), "impostor"));

        const QString path = LastUndoableJournal();
        QCOMPARE(path, newestJournal());
        Journal journal;
        QString error;
        QVERIFY(ReadJournal(path, journal, error));
        QVERIFY(journal.complete);
        QCOMPARE(journal.renamed, 3);
        const UndoReport report = UndoJournal(journal);
        QCOMPARE(report.restored, 1);
        QCOMPARE(report.notRestored.size(), std::size_t(2));
        QCOMPARE(report.notRestored[0].reason,
                 QStringLiteral("под новым именем теперь другой файл"));
        QCOMPARE(report.notRestored[1].reason,
                 QStringLiteral("прежнее имя теперь занято другим файлом"));
        QCOMPARE(UndoSummaryText(report), QStringLiteral("2 файлов не возвращено!"));
        const Contents after = contents(m_music->path());
        QCOMPARE(after.value("01 one.mp3"), QByteArray("newcomer"));
        QCOMPARE(after.value("Nova_One.mp3"), before.value("01 one.mp3"));
        QCOMPARE(after.value("Nova_Two.mp3"), QByteArray("impostor"));
        QCOMPARE(after.value("03 three.mp3"), before.value("03 three.mp3"));
        // Undone once: nothing is left to undo, and undoing again changes nothing.
        QVERIFY(LastUndoableJournal().isEmpty());
        QVERIFY(ReadJournal(path, journal, error));
        QVERIFY(journal.undone);
        UndoJournal(journal);
        QCOMPARE(contents(m_music->path()), after);
    }

    void killedRunIsRestored_data()
    {
        QTest::addColumn<bool>("caseInsensitive");
        QTest::addColumn<int>("killAfter");
        for (int k : {1, 3, 5}) {
            QTest::newRow(qPrintable(QStringLiteral("ext4-like, after %1 renames").arg(k)))
                << false << k;
        }
        // Case-only renames go aside and back: two moves each, the kill may come between them.
        for (int k : {1, 2, 3, 5, 7}) {
            QTest::newRow(qPrintable(QStringLiteral("FAT-like, after %1 moves").arg(k)))
                << true << k;
        }
    }

    // A run killed (as SIGKILL would: no handler, no cleanup) after k renames, the journal's
    // last write ahead in place: undoing from its journal puts every file back.
    void killedRunIsRestored()
    {
        QFETCH(bool, caseInsensitive);
        QFETCH(int, killAfter);
        // Names that are their tags but for letter case, and names that are not.
        add("nova_one.mp3", {"One", "Nova"});
        add("nova_two.mp3", {"Two", "Nova"});
        add("x3.mp3", {"Three", "Nova"});
        add("nova_four.mp3", {"Four", "Nova"});
        add("x5.mp3", {"Five", "Nova"});
        const Contents before = contents(m_music->path());
        g_killAfter = killAfter;
        const int status = runInChild([caseInsensitive] {
            if (caseInsensitive)
                testing::CaseInsensitiveSeam::install();
            static decltype(Sys.renameat) renameat;
            static decltype(Sys.renameat2) renameat2;
            renameat = Sys.renameat;
            renameat2 = Sys.renameat2;
            Sys.renameat = [](int fd, const char* from, int td, const char* to) {
                const int result = renameat(fd, from, td, to);
                if (++g_moves == g_killAfter)
                    ::_exit(9);
                return result;
            };
            Sys.renameat2 = [](int fd, const char* from, int td, const char* to, unsigned flags) {
                const int result = renameat2(fd, from, td, to, flags);
                if (result == 0 && ++g_moves == g_killAfter)
                    ::_exit(9);
                return result;
            };
        });
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 9);
        QVERIFY(contents(m_music->path()) != before);

        Journal journal;
        QString error;
        QVERIFY(ReadJournal(newestJournal(), journal, error));
        QVERIFY(!journal.complete);
        QVERIFY(FilesUnderNewNames(journal) > 0);
        const testing::SeamGuard seam;
        if (caseInsensitive)
            testing::CaseInsensitiveSeam::install();
        const UndoReport report = UndoJournal(journal);
        QStringList stays;
        for (const DetailsRow& row : report.notRestored)
            stays << row.path + QStringLiteral(": ") + row.reason;
        QVERIFY2(stays.isEmpty(), qPrintable(stays.join('\n')));
        QCOMPARE(contents(m_music->path()), before);
    }

    // A run killed between link and unlink (NTFS) leaves the file under both names; the
    // journal says a move was under way, so the undo leaves it under its old name alone, while a
    // run without such a record keeps both links as the user's.
    void killedBetweenLinkAndUnlink()
    {
        add("x1.mp3", {"One", "Nova"});
        const Contents before = contents(m_music->path());
        const int status = runInChild([] {
            Sys.renameat2 = testing::refuseNoReplaceFlag;
            Sys.linkat = [](int fd, const char* from, int td, const char* to, int flags) {
                ::linkat(fd, from, td, to, flags);
                ::_exit(9);
                return 0;
            };
        });
        QCOMPARE(WEXITSTATUS(status), 9);
        QCOMPARE(contents(m_music->path()).keys(), (QList<QByteArray>{"Nova_One.mp3", "x1.mp3"}));
        Journal journal;
        QString error;
        QVERIFY(ReadJournal(newestJournal(), journal, error));
        const testing::SeamGuard seam;
        Sys.renameat2 = testing::refuseNoReplaceFlag;
        const UndoReport report = UndoJournal(journal);
        QVERIFY(report.notRestored.empty());
        QCOMPARE(contents(m_music->path()), before);
    }

    // A run killed between reserving a new name (no hard links) and renaming over it leaves an
    // empty file there; the journal says so, and the undo removes it.
    void emptyReservationIsRemoved()
    {
        add("x1.mp3", {"One", "Nova"});
        const Contents before = contents(m_music->path());
        const int status = runInChild([] {
            Sys.renameat2 = testing::refuseNoReplaceFlag;
            Sys.linkat = testing::refuseHardLink;
            Sys.renameat = [](int, const char*, int, const char*) -> int { ::_exit(9); };
        });
        QCOMPARE(WEXITSTATUS(status), 9);
        QCOMPARE(contents(m_music->path()).value("Nova_One.mp3"), QByteArray());
        Journal journal;
        QString error;
        QVERIFY(ReadJournal(newestJournal(), journal, error));
        QVERIFY(journal.entries.front().reserved);
        const UndoReport report = UndoJournal(journal);
        QVERIFY(report.notRestored.empty());
        QCOMPARE(contents(m_music->path()), before);
    }
};

QTEST_GUILESS_MAIN(JournalTest)
#include "tst_journal.moc"
