#include "fs/drivetraits.h"
#include "fs/openfolder.h"
#include "journal/journalfiles.h"
#include "journal/journalwriter.h"
#include "journal/undo.h"
#include "names/renamefailures.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/mounts.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "walk/foldertree.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorvane;
using testing::DriveKind;
using testing::DriveKinds;
using testing::Mount;

namespace
{

// How large and how often: small enough for every run of the suite, set higher by hand to
// measure (SORVANE_DRIVE_FILES=300 SORVANE_DRIVE_ROUNDS=20).
int setting(const char* name, int fallback)
{
    bool number = false;
    const int value = qEnvironmentVariableIntValue(name, &number);
    return number && value > 0 ? value : fallback;
}

using Contents = QMap<QString, QByteArray>;

// Every file below the folder with its bytes, by its path below it.
Contents contents(const QString& folder)
{
    Contents found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.insert(QDir(folder).relativeFilePath(path), testing::readFile(path));
    }
    return found;
}

QMap<QString, qint64> times(const QString& folder)
{
    QMap<QString, qint64> found;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info = {};
        ::stat(QFile::encodeName(path).constData(), &info);
        found.insert(QDir(folder).relativeFilePath(path), qint64(info.st_mtim.tv_sec));
    }
    return found;
}

// The songs' bytes, each once: what must be there, whatever the names.
QList<QByteArray> songs(const Contents& files)
{
    QList<QByteArray> bytes = files.values();
    std::sort(bytes.begin(), bytes.end());
    return bytes;
}

QString whatIsWrong(const Contents& now, const Contents& expected)
{
    QStringList lines;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (expected.value(it.key()) != it.value())
            lines << QStringLiteral("+ %1 (%2 bytes)").arg(it.key()).arg(it.value().size());
    }
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (now.value(it.key()) != it.value())
            lines << QStringLiteral("- %1").arg(it.key());
    }
    return lines.join(QLatin1Char('\n'));
}

// A folder of songs as a collection holds them: most named by number, every fifth named as its
// tag would name it but for letter case, a few named already, two whose tags collide.
Contents makeSongs(const QString& folder, int count)
{
    Contents made;
    for (int i = 0; i < count; ++i) {
        const QByteArray title = "Song " + QByteArray::number(i);
        QByteArray artist = "Nova";
        if (i == 7 || i == 8)
            artist = "Twin"; // with the same title below: the second collides
        const QByteArray sameTitle = (i == 8) ? QByteArray("Song 7") : title;
        QString name = QStringLiteral("f%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
        if (i % 5 == 0)
            name = QString::fromLatin1(artist.toLower() + '_' + sameTitle.toLower() + ".mp3");
        else if (i % 11 == 3)
            name = QString::fromLatin1(artist + '_' + sameTitle + ".mp3");
        const QByteArray bytes =
            testing::mp3Bytes({sameTitle, artist}, 400 + i, char('a' + i % 26));
        testing::writeFile(QDir(folder).filePath(name), bytes);
        made.insert(name, bytes);
    }
    return made;
}

// The program as its user starts it from a terminal, with state and locks of the test's own.
class Program
{
public:
    explicit Program(const QString& home) : m_home(home)
    {
        QDir().mkpath(home + QStringLiteral("/state"));
        QDir().mkpath(home + QStringLiteral("/runtime"));
    }

    void start(QProcess& process, const QStringList& arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG"})
            environment.remove(QLatin1String(variable));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_home + QStringLiteral("/state"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home + QStringLiteral("/runtime"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(SORVANE_EXECUTABLE), arguments);
        process.waitForStarted();
    }

    struct Ended {
        int code;
        QByteArray out, err;
    };
    Ended run(const QStringList& arguments) const
    {
        QProcess process;
        start(process, arguments);
        return finish(process);
    }
    static Ended finish(QProcess& process)
    {
        // Finished already while another was waited for, it counts as finished.
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(600000))
            qFatal("sorvane did not finish");
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }

private:
    QString m_home;
};

const QByteArray Held = "сейчас переименовывает другой Sorvane.";

} // namespace

class DrivesTest : public QObject
{
    Q_OBJECT

private:
    static void eachDrive()
    {
        QTest::addColumn<int>("kind");
        for (int i = 0; i < int(std::size(DriveKinds)); ++i)
            QTest::newRow(DriveKinds[i].name) << i;
    }

private slots:
    void tableHoldsAfterRenameAndRemount_data() { eachDrive(); }

    // What the table claims of a drive holds on the real one: a file renamed and the drive
    // mounted again keeps its inode number and its time where the table says so, and fusefat
    // sets the time at a rename as the table says.
    void tableHoldsAfterRenameAndRemount()
    {
        QFETCH(int, kind);
        QTemporaryDir base;
        Mount mount(DriveKinds[kind], base.path());
        SORVANE_NEED_MOUNT(mount);
        const QDir drive(mount.point());
        QVERIFY(testing::writeFile(drive.filePath("a.mp3"), QByteArray(300, 'x')));
        const auto look = [&](const char* name) {
            struct stat info = {};
            ::stat(QFile::encodeName(drive.filePath(QLatin1String(name))).constData(), &info);
            return info;
        };
        const struct stat before = look("a.mp3");
        QTest::qSleep(2100); // past FAT's two seconds, so a time set now differs
        QVERIFY(QFile::rename(drive.filePath("a.mp3"), drive.filePath("b.mp3")));
        const struct stat renamed = look("b.mp3");
        DriveTraits traits;
        {
            const OpenFolder folder(mount.point());
            traits = folder.traits();
        }
        {
            const QString failure = mount.remount();
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
        const struct stat again = look("b.mp3");
        const QByteArray type = traits.type;
        if (traits.keepsInodes)
            QVERIFY2(before.st_ino == again.st_ino, type.constData());
        if (traits.keepsTimes) {
            QCOMPARE(renamed.st_mtim.tv_sec, before.st_mtim.tv_sec);
            QCOMPARE(again.st_mtim.tv_sec, before.st_mtim.tv_sec);
        }
        if (traits.setsTimeOnRename)
            QVERIFY(renamed.st_mtim.tv_sec != before.st_mtim.tv_sec);
        // The drives whose kind the table knows are known by it.
        const QString name = QLatin1String(DriveKinds[kind].name);
        if (name.contains(QLatin1String("fusefat")))
            QCOMPARE(type, QByteArray("fuse.fusefat"));
        if (name.contains(QLatin1String("sshfs")))
            QCOMPARE(type, QByteArray("fuse.sshfs"));
        if (name == QLatin1String("ext4"))
            QVERIFY(traits.keepsInodes && traits.keepsTimes);
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void twoRunsAtOnce_data() { eachDrive(); }

    // Two runs on one folder, the second started at a random moment while the first is still
    // renaming, as two windows or a window and a terminal would: no song is lost or replaced,
    // every song's bytes are there exactly once, and a run is refused whole while the other holds
    // the folder.
    void twoRunsAtOnce()
    {
        QFETCH(int, kind);
        const int files = setting("SORVANE_DRIVE_FILES", 60);
        const int rounds = setting("SORVANE_DRIVE_ROUNDS", 2);
        QTemporaryDir base;
        Mount mount(DriveKinds[kind], base.path());
        SORVANE_NEED_MOUNT(mount);
        const Program program(base.path());
        QRandomGenerator random(quint32(kind * 7919 + 1));
        int refused = 0;
        for (int round = 0; round < rounds; ++round) {
            const QString folder = mount.point() + QStringLiteral("/round%1").arg(round);
            QVERIFY(QDir().mkpath(folder));
            const Contents before = makeSongs(folder, files);
            QProcess first, second;
            QElapsedTimer clock;
            clock.start();
            program.start(first, {QStringLiteral("--folder"), folder});
            // A moment into the first: on fusefat its renames take a tenth of a second each.
            QTest::qWait(int(random.bounded(20 + files * 2)));
            program.start(second, {QStringLiteral("--folder"), folder});
            const Program::Ended a = Program::finish(first);
            const Program::Ended b = Program::finish(second);
            const Contents after = contents(folder);
            QCOMPARE(songs(after), songs(before));
            QCOMPARE(after.size(), before.size());
            // Started a moment apart, either may reach the folder's lock first (a process's
            // start-up varies by more than the wait): the other is refused whole, never both.
            QVERIFY2(a.code != 2 || b.code != 2, (a.err + b.err).constData());
            for (const Program::Ended* run : {&a, &b}) {
                if (run->code == 2) {
                    QVERIFY2(run->err.contains(Held), run->err.constData());
                    ++refused;
                } else {
                    QVERIFY2(run->code <= 1, run->err.constData());
                }
            }
        }
        qInfo("%d of %d runs refused while the other held the folder", refused, rounds);
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void runAndSubfolderRunAndUndoAtOnce_data() { eachDrive(); }

    // A tree run beside a run on one of its subfolders, then an undo beside a run: each song
    // there once, and whichever came second into a folder held by the other left it alone.
    void runAndSubfolderRunAndUndoAtOnce()
    {
        QFETCH(int, kind);
        const int files = setting("SORVANE_DRIVE_FILES", 60) / 3;
        QTemporaryDir base;
        Mount mount(DriveKinds[kind], base.path());
        SORVANE_NEED_MOUNT(mount);
        const Program program(base.path());
        const QString root = mount.point() + QStringLiteral("/music");
        const QString album = root + QStringLiteral("/Artist/Album");
        QVERIFY(QDir().mkpath(album));
        Contents before = makeSongs(root + QStringLiteral("/Artist"), files);
        const Contents inAlbum = makeSongs(album, files);
        before = contents(root);
        QProcess tree, sub;
        program.start(tree, {QStringLiteral("--folder"), root, QStringLiteral("--subfolders")});
        program.start(sub, {QStringLiteral("--folder"), album});
        const Program::Ended t = Program::finish(tree);
        const Program::Ended s = Program::finish(sub);
        QCOMPARE(songs(contents(root)), songs(before));
        QVERIFY2(t.code <= 2 && s.code <= 2, (t.err + s.err).constData());
        // Then an undo of the last run beside a new run on the same folder.
        QProcess undo, again;
        program.start(undo, {QStringLiteral("--undo")});
        program.start(again, {QStringLiteral("--folder"), album});
        const Program::Ended u = Program::finish(undo);
        const Program::Ended r = Program::finish(again);
        QCOMPARE(songs(contents(root)), songs(before));
        QVERIFY2(u.code <= 2 && r.code <= 2, (u.err + r.err).constData());
        Q_UNUSED(inAlbum);
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void undoGivesEverySongBack_data() { eachDrive(); }

    // A completed run, then --undo: every song back under its old name byte for byte, with its
    // time; then runs killed at random moments, each followed by an undo, and undos killed at
    // random moments, each followed by a second undo: nothing lost, nothing under two names or
    // a temporary one, no empty file left.
    void undoGivesEverySongBack()
    {
        QFETCH(int, kind);
        const DriveKind& drive = DriveKinds[kind];
        const int files = setting("SORVANE_DRIVE_FILES", 60);
        const int kills = setting("SORVANE_DRIVE_KILLS", 3);
        QTemporaryDir base;
        Mount mount(drive, base.path());
        SORVANE_NEED_MOUNT(mount);
        const Program program(base.path());
        const QString folder = mount.point() + QStringLiteral("/music");
        QVERIFY(QDir().mkpath(folder));
        const Contents before = makeSongs(folder, files);
        const QMap<QString, qint64> timesBefore = times(folder);
        QTest::qSleep(2100); // a time set "now" by a rename would show

        QElapsedTimer clock;
        clock.start();
        const Program::Ended run = program.run({QStringLiteral("--folder"), folder});
        const qint64 runTime = clock.elapsed();
        QVERIFY2(run.code == 1, run.err.constData()); // the collision
        QVERIFY(contents(folder) != before);
        QList<qint64> now = times(folder).values(), was = timesBefore.values();
        std::sort(now.begin(), now.end());
        std::sort(was.begin(), was.end());
        if (now != was) {
            qInfo() << timesBefore;
            qInfo() << times(folder);
        }
        QCOMPARE(now, was); // a run changes names only
        {
            const QString failure = mount.remount();
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
        const Program::Ended undo = program.run({QStringLiteral("--undo")});
        QVERIFY2(undo.code == 0, (undo.out + undo.err).constData());
        QVERIFY2(contents(folder) == before, qPrintable(whatIsWrong(contents(folder), before)));
        QCOMPARE(times(folder), timesBefore);

        QRandomGenerator random(quint32(kind * 104729 + 3));
        for (int kill = 0; kill < kills; ++kill) {
            for (const bool killTheUndo : {false, true}) {
                if (killTheUndo) {
                    const Program::Ended done = program.run({QStringLiteral("--folder"), folder});
                    QVERIFY(done.code <= 1);
                }
                QProcess process;
                program.start(process, killTheUndo
                                           ? QStringList{QStringLiteral("--undo")}
                                           : QStringList{QStringLiteral("--folder"), folder});
                QTest::qWait(int(random.bounded(qint64(std::max<qint64>(runTime, 50)))));
                process.kill();
                process.waitForFinished();
                if (drive.way != DriveKind::Loop) {
                    const QString failure = mount.remount();
                    QVERIFY2(failure.isEmpty(), qPrintable(failure));
                }
                const Program::Ended back = program.run({QStringLiteral("--undo")});
                const Contents now = contents(folder);
                QCOMPARE(times(folder), timesBefore);
                QVERIFY2(now == before, qPrintable(QStringLiteral("kill %1%2: %3\n%4")
                                                       .arg(kill)
                                                       .arg(killTheUndo ? " in the undo" : "")
                                                       .arg(QString::fromUtf8(back.out + back.err),
                                                            whatIsWrong(now, before))));
            }
        }
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // A run whose folder is on a network mount that no longer answers (its sshfs stopped, as on a
    // dropped connection) is listed at once, its folder said not to answer.
    void runsAnswerBesideADeadMount()
    {
        const DriveKind* ssh = nullptr;
        for (const DriveKind& kind : DriveKinds) {
            if (kind.way == DriveKind::Ssh)
                ssh = &kind;
        }
        QTemporaryDir base;
        Mount mount(*ssh, base.path());
        SORVANE_NEED_MOUNT(mount);
        const Program program(base.path());
        const QString folder = mount.point() + QStringLiteral("/music");
        QVERIFY(QDir().mkpath(folder));
        makeSongs(folder, 6);
        QVERIFY(program.run({QStringLiteral("--folder"), folder}).code <= 1);
        QVERIFY(::kill(mount.driverPid(), SIGSTOP) == 0);
        // Past the kernel's cache of the folder's attributes (a second), every look at it waits
        // for the stopped driver.
        QTest::qSleep(2500);
        QElapsedTimer clock;
        clock.start();
        const Program::Ended listed = program.run({QStringLiteral("--runs")});
        const qint64 took = clock.elapsed();
        ::kill(mount.driverPid(), SIGCONT);
        QCOMPARE(listed.code, 0);
        QVERIFY2(listed.out.contains("папка не отвечает"), listed.out.constData());
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void charactersReplacedOnOffer_data()
    {
        QTest::addColumn<int>("kind");
        for (int i = 0; i < int(std::size(DriveKinds)); ++i) {
            const QString name = QLatin1String(DriveKinds[i].name);
            if (name.contains(QLatin1String("fusefat")) || name == QLatin1String("ext4"))
                QTest::newRow(DriveKinds[i].name) << i;
        }
    }

    // Titles with characters a drive may refuse: the run refuses them as it always did (every
    // "/"; on FAT the others too), then the second pass renames exactly those with the
    // characters replaced, as a run of its own that an undo takes back; nothing else changes.
    // From a terminal, --replace-unsafe does it in the run, its dry run saying the same.
    void charactersReplacedOnOffer()
    {
        QFETCH(int, kind);
        const bool fat = QLatin1String(DriveKinds[kind].name).contains(QLatin1String("fusefat"));
        QTemporaryDir base;
        Mount mount(DriveKinds[kind], base.path());
        SORVANE_NEED_MOUNT(mount);
        const struct {
            const char* file;
            testing::V1Tag tag;
            const char* asIs;     // the name where the drive takes it as it is
            const char* replaced; // with the characters replaced
        } songs[] = {
            {"1.mp3", {"Thunderstruck", "AC/DC"}, nullptr, "AC-DC_Thunderstruck.mp3"},
            {"2.mp3", {"Numb/Encore", "Jay"}, nullptr, "Jay_Numb-Encore.mp3"},
            {"3.mp3", {"What's Up?", "Four"}, "Four_What's Up?.mp3", "Four_What's Up.mp3"},
            {"4.mp3",
             {"Part 1: Intro", "Nova"},
             "Nova_Part 1: Intro.mp3",
             "Nova_Part 1 - Intro.mp3"},
            {"5.mp3", {"Tom \"Jerry\"", "Nova"}, "Nova_Tom \"Jerry\".mp3", "Nova_Tom 'Jerry'.mp3"},
            {"6.mp3", {"<3", "Nova"}, "Nova_<3.mp3", "Nova_(3.mp3"},
            {"7.mp3", {"Plain", "Nova"}, "Nova_Plain.mp3", "Nova_Plain.mp3"},
        };
        const QString folder = mount.point() + QStringLiteral("/music");
        QVERIFY(QDir().mkpath(folder));
        for (const auto& song : songs)
            QVERIFY(testing::writeFile(QDir(folder).filePath(QLatin1String(song.file)),
                                       testing::mp3Bytes(song.tag, 300, song.file[0])));
        const Contents before = contents(folder);
        Contents expectedFirst, expectedSecond;
        int refused = 0;
        for (const auto& song : songs) {
            const bool refusedFirst = !song.asIs || (fat && std::strcmp(song.asIs, song.replaced));
            refused += refusedFirst;
            const QByteArray bytes = before.value(QLatin1String(song.file));
            expectedFirst.insert(QLatin1String(refusedFirst ? song.file : song.asIs), bytes);
            expectedSecond.insert(QLatin1String(refusedFirst ? song.replaced : song.asIs), bytes);
        }
        QCOMPARE(refused, fat ? 6 : 2);

        qputenv("XDG_STATE_HOME", base.filePath(QStringLiteral("state")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", base.path().toUtf8());
        MemoryFieldModel model;
        model.setFolderPath(folder);
        QString error;
        auto root = std::make_unique<OpenFolder>(folder);
        FolderReport first;
        {
            const auto journal =
                JournalWriter::create(JournalKind::Run, QFile::encodeName(folder), error);
            FolderRunOptions options;
            options.journal = journal.get();
            first = RenameTree(model, *root, WalkFolder(*root, false), options);
        }
        QCOMPARE(int(first.replaceable.size()), refused);
        QCOMPARE(contents(folder), expectedFirst);
        {
            const auto journal =
                JournalWriter::create(JournalKind::Run, QFile::encodeName(folder), error);
            FolderRunOptions options;
            options.journal = journal.get();
            const FolderReport second = RenameReplaceable(model, *root, first, options);
            QCOMPARE(second.renamed, refused);
        }
        root.reset(); // the drive is unmounted at the end, and nothing may hold it
        QVERIFY2(contents(folder) == expectedSecond,
                 qPrintable(whatIsWrong(contents(folder), expectedSecond)));
        // The second pass is a run of its own: an undo takes it back, and the first stays.
        QString undoError;
        {
            const auto undo = Undo::open(JournalPaths().last(), undoError);
            QVERIFY2(undo, qPrintable(undoError));
            QVERIFY(undo->run().allBack());
        }
        QCOMPARE(contents(folder), expectedFirst);

        // From a terminal, the table in the run itself, the dry run saying the same.
        const Program program(base.path());
        QVERIFY(program.run({QStringLiteral("--undo")}).code == 0);
        QCOMPARE(contents(folder), before);
        const Program::Ended plain =
            program.run({QStringLiteral("--folder"), folder, QStringLiteral("--dry-run")});
        Q_UNUSED(plain);
        const Program::Ended dry =
            program.run({QStringLiteral("--folder"), folder, QStringLiteral("--replace-unsafe"),
                         QStringLiteral("--dry-run")});
        const Program::Ended real =
            program.run({QStringLiteral("--folder"), folder, QStringLiteral("--replace-unsafe")});
        QCOMPARE(real.out, dry.out);
        QCOMPARE(real.code, 0);
        QVERIFY2(contents(folder) == expectedSecond,
                 qPrintable(whatIsWrong(contents(folder), expectedSecond)));
        // Without it, the run says how many it could have made, before its count.
        QVERIFY(program.run({QStringLiteral("--undo")}).code == 0);
        const Program::Ended without = program.run({QStringLiteral("--folder"), folder});
        const QStringList lines = QString::fromUtf8(without.out).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 2 &&
                     lines[lines.size() - 2].contains(QStringLiteral("--replace-unsafe")) &&
                     lines.last() == QStringLiteral("%1 файлов не переименовано!").arg(refused),
                 without.out.constData());
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QTEST_GUILESS_MAIN(DrivesTest)
#include "tst_drives.moc"
