#include "base/plural.h"
#include "base/stoppolicy.h"
#include "cli/commandline.h"
#include "cli/foldercommand.h"
#include "cli/terminal.h"
#include "cli/undocommand.h"
#include "fs/folderlock.h"
#include "fs/openfolder.h"
#include "run/fieldmodel.h"
#include "run/renamefile.h"
#include "run/tagloading.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <csignal>
#include <sys/stat.h>

using namespace sorvane;
using testing::V1Tag;

namespace
{

struct Run {
    int exitCode;
    QByteArray out, err;
};

// The installed program's part: the real executable, without a display and without Qt's
// platform, in a state folder of the test's own.
Run runSorvane(const QStringList& arguments, const QString& state,
               const QByteArray& locale = "C.UTF-8",
               const std::function<void(QProcess&)>& setUp = nullptr)
{
    QProcess process;
    if (setUp)
        setUp(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG", "LC_CTYPE"})
        environment.remove(QLatin1String(variable));
    environment.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SORVANE_EXECUTABLE), arguments);
    if (!process.waitForFinished(20000))
        qFatal("sorvane did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray cp1251(const char16_t* text)
{
    QByteArray bytes;
    for (const char16_t* c = text; *c; ++c)
        bytes.append(static_cast<char>(*c - 0x0410 + 0xC0));
    return bytes;
}

// Every entry's name, bytes and modification time, and the folder's own.
QStringList state(const QString& folder)
{
    QStringList entries;
    struct stat info = {};
    ::stat(QFile::encodeName(folder).constData(), &info);
    entries << QString::number(info.st_mtim.tv_nsec) + QString::number(info.st_mtim.tv_sec);
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
        entries << file.fileName() + QString::number(file.lastModified().toMSecsSinceEpoch()) +
                       QString::fromLatin1(testing::readFile(file.filePath()).toHex());
    return entries;
}

} // namespace

class FolderCommandTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_state;

    // A small folder of the row's kind, fresh for every row.
    static void fill(const QString& folder, const QString& kind)
    {
        // Names as bytes: a folder's may be no UTF-8, which no QString would keep.
        const auto add = [&folder](const char* name, const QByteArray& bytes) {
            const QByteArray path = QFile::encodeName(folder) + '/' + name;
            for (qsizetype slash = path.indexOf('/', 1); slash > 0;
                 slash = path.indexOf('/', slash + 1))
                ::mkdir(path.left(slash).constData(), 0755);
            std::FILE* file = std::fopen(path.constData(), "wbx");
            QVERIFY(file);
            QCOMPARE(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file),
                     std::size_t(bytes.size()));
            QCOMPARE(std::fclose(file), 0);
        };
        if (kind == QLatin1String("good")) {
            add("1.mp3", testing::mp3Bytes({"Blue Sky", "Nova", "Horizons", "1999"}));
            add("2.mp3", testing::mp3Bytes({"Red Sun", "Lumen", "Dawn", "2001"}));
        } else if (kind == QLatin1String("one bad")) {
            add("1.mp3", testing::mp3Bytes({"Blue Sky", "Nova"}));
            add("2.mp3", "short");
        } else if (kind == QLatin1String("cyrillic")) {
            add("1.mp3", testing::mp3Bytes({cp1251(u"Звезда"), cp1251(u"Кино")}));
        } else if (kind == QLatin1String("escape")) {
            add("\x1b]0;owned\x07.mp3", testing::mp3Bytes({"x\\y", "A\"B"}));
        } else if (kind == QLatin1String("tree")) {
            // Lines for files in folders below, one of them with a control character and a
            // byte that is not UTF-8 in its name, and for each way a file can end.
            add("a.mp3", testing::mp3Bytes({"Blue Sky", "Nova"}));
            add("sub/Nova_Blue Sky.mp3", testing::mp3Bytes({"Blue Sky", "Nova"}));
            add("sub/x.mp3", testing::mp3Bytes({"Red Sun", "Lumen"}));
            add("sub/y.mp3", testing::mp3Bytes({"Red Sun", "Lumen"}));
            add("sub/d\x01\xE9/z.mp3", testing::mp3Bytes({cp1251(u"Звезда"), cp1251(u"Кино")}));
            add("sub/d\x01\xE9/short.mp3", "short");
        }
    }

private slots:
    void commandLines_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::newRow("renamed") << "good" << QStringList{} << 0
                                 << "\"1.mp3\" -> \"Nova_Blue Sky.mp3\"\n"
                                    "\"2.mp3\" -> \"Lumen_Red Sun.mp3\"\nГотово!\n";
        QTest::newRow("album and year") << "good" << QStringList{"--album", "--year"} << 0
                                        << "\"1.mp3\" -> \"Nova_Horizons_1999_Blue Sky.mp3\"\n"
                                           "\"2.mp3\" -> \"Lumen_Dawn_2001_Red Sun.mp3\"\n"
                                           "Готово!\n";
        QTest::newRow("one not renamed")
            << "one bad" << QStringList{} << 1
            << "\"1.mp3\" -> \"Nova_Blue Sky.mp3\"\n"
               "\"2.mp3\": файл короче 128 байт, и тега в нём нет\n1 файлов не переименовано!\n";
        QTest::newRow("no such folder") << "missing" << QStringList{} << 2 << "";
        QTest::newRow("usage") << "good" << QStringList{"--year", "--undo"} << 2 << "";
        // The locale says C; the code page given says how the tags were written.
        QTest::newRow("windows-1251 under C")
            << "cyrillic" << QStringList{"--codepage", "windows-1251"} << 0
            << "\"1.mp3\" -> \"Кино_Звезда.mp3\"\nГотово!\n";
        QTest::newRow("a tree, a line for each way a file ends")
            << "tree" << QStringList{"--subfolders"} << 1
            << "\"a.mp3\" -> \"Nova_Blue Sky.mp3\"\n"
               "\"sub/Nova_Blue Sky.mp3\": уже называется так\n"
               "\"sub/x.mp3\" -> \"sub/Lumen_Red Sun.mp3\"\n"
               "\"sub/y.mp3\": файл \"Lumen_Red Sun.mp3\" уже существует\n"
               "\"sub/d\\x01\\xe9/short.mp3\": файл короче 128 байт, и тега в нём нет\n"
               "\"sub/d\\x01\\xe9/z.mp3\" -> \"sub/d\\x01\\xe9/Кино_Звезда.mp3\" (тег прочитан в "
               "кодировке windows-1251)\n"
               "2 файлов не переименовано!\n";
        QTest::newRow("a name with escape sequences")
            << "escape" << QStringList{"--dry-run"} << 0
            << "\"\\x1b]0;owned\\x07.mp3\" -> \"A\\\"B_x\\\\y.mp3\"\nГотово!\n";
    }

    void commandLines()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("music"));
        if (kind != QLatin1String("missing")) {
            QVERIFY(QDir().mkpath(folder));
            fill(folder, kind);
        }
        const Run run =
            runSorvane(QStringList{QStringLiteral("--folder"), folder} + options, m_state.path(),
                       kind == QLatin1String("cyrillic") ? "C" : "C.UTF-8");
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(QString::fromUtf8(run.out), out);
        // A mistake or an unopened folder says so in one line on standard error.
        if (exitCode == 2)
            QCOMPARE(run.err.count('\n'),
                     exitCode == 2 ? 2 - (kind == QLatin1String("missing")) : 0);
    }

    // The dry run prints what the run prints and changes nothing: names, bytes, times, the
    // folder's own time; then the run is journaled and --undo takes it back, once.
    void dryRunThenRunThenUndo()
    {
        QTemporaryDir dir, journals;
        fill(dir.path(), QStringLiteral("good"));
        QVERIFY(testing::writeFile(dir.filePath(QStringLiteral("Nova_Blue Sky.mp3")), "taken"));
        const QStringList before = state(dir.path());
        const Run dry = runSorvane({"--folder", dir.path(), "--dry-run"}, journals.path());
        QCOMPARE(state(dir.path()), before);
        const Run real = runSorvane({"--folder", dir.path()}, journals.path());
        QCOMPARE(real.out, dry.out);
        QCOMPARE(real.exitCode, 1);
        const Run undo = runSorvane({"--undo"}, journals.path());
        QCOMPARE(undo.exitCode, 0);
        QCOMPARE(QString::fromUtf8(undo.out),
                 QStringLiteral("\"Lumen_Red Sun.mp3\" -> \"2.mp3\"\nПрежние имена возвращены.\n"));
        QCOMPARE(runSorvane({"--undo"}, journals.path()).exitCode, 2);
        QStringList after = state(dir.path());
        after.removeFirst(); // the folder's own time changed with the renames
        QStringList was = before;
        was.removeFirst();
        QCOMPARE(after, was);
    }

    // On random folders whose tags collide with each other and with names already there, the
    // dry run's lines and summary are the run's.
    void dryRunEqualsRun()
    {
        QRandomGenerator random(22);
        for (int round = 0; round < 12; ++round) {
            QTemporaryDir dir;
            const QByteArray titles[] = {"A", "B", "C", "", "AAAAAA", "D/E"};
            const QByteArray artists[] = {"Nova", "Lumen", ""};
            const int files = 3 + random.bounded(12);
            for (int i = 0; i < files; ++i) {
                const V1Tag tag{titles[random.bounded(6)], artists[random.bounded(3)]};
                const QByteArray name = random.bounded(4) == 0
                                            ? tag.artist + '_' + tag.title + ".mp3"
                                            : "f" + QByteArray::number(i) + ".mp3";
                testing::writeFile(dir.filePath(QString::fromUtf8(name)),
                                   testing::mp3Bytes(tag, 50, char(i)));
            }
            const auto run = [&](bool dry) {
                char* buffer = nullptr;
                std::size_t size = 0;
                std::FILE* out = ::open_memstream(&buffer, &size);
                Terminal terminal(out, stderr);
                CommandLine command;
                command.folder = dir.path();
                command.dryRun = dry;
                const int code = RunFolderCommand(command, terminal);
                std::fclose(out);
                const QByteArray text(buffer, qsizetype(size));
                std::free(buffer);
                return std::make_pair(code, text);
            };
            qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
            const auto dry = run(true);
            const auto real = run(false);
            QCOMPARE(real.second, dry.second);
            QCOMPARE(real.first, dry.first);
        }
    }

    // --runs lists what is kept, newest first, a line each beginning with the name --undo takes;
    // --undo takes back the run named, refuses one older than a run not undone over the same
    // folder (naming that run), and says in one line that a run's folder is gone.
    void runsAndUndoByName()
    {
        QTemporaryDir journals, a, b;
        fill(a.path(), QStringLiteral("good"));
        fill(b.path(), QStringLiteral("good"));
        const QStringList beforeA = state(a.path()), beforeB = state(b.path());
        QCOMPARE(runSorvane({"--folder", a.path()}, journals.path()).exitCode, 0);
        QTest::qWait(10);
        QCOMPARE(runSorvane({"--folder", b.path()}, journals.path()).exitCode, 0);
        QTest::qWait(10);
        QCOMPARE(runSorvane({"--folder", a.path(), "--album"}, journals.path()).exitCode, 0);
        const Run listed = runSorvane({"--runs"}, journals.path());
        QCOMPARE(listed.exitCode, 0);
        const QStringList lines = QString::fromUtf8(listed.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QStringList ids;
        for (const QString& line : lines) {
            ids << line.section(QStringLiteral("  "), 0, 0);
            QVERIFY2(line.contains(QStringLiteral("2 файла")) &&
                         line.endsWith(QStringLiteral("выполнено")),
                     qPrintable(line));
            QVERIFY(!ids.last().contains(QLatin1Char('/')));
        }
        QVERIFY(lines[0].contains(a.path()) && lines[1].contains(b.path()) &&
                lines[2].contains(a.path()));

        // The oldest renamed where the newest did, which is not undone: refused, named.
        const Run refused = runSorvane({"--undo", ids[2]}, journals.path());
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(ids[0].toUtf8()), refused.err.constData());
        // The one in the other folder goes back by its name; the newest stays.
        const Run undone = runSorvane({"--undo", ids[1]}, journals.path());
        QCOMPARE(undone.exitCode, 0);
        QStringList nowB = state(b.path()), wasB = beforeB;
        nowB.removeFirst();
        wasB.removeFirst();
        QCOMPARE(nowB, wasB);
        QVERIFY(!QFile::exists(a.filePath(QStringLiteral("1.mp3"))));
        QVERIFY(QString::fromUtf8(runSorvane({"--runs"}, journals.path()).out)
                    .split('\n')[1]
                    .endsWith(QStringLiteral("отменено")));
        QCOMPARE(runSorvane({"--undo", "no-such-run"}, journals.path()).exitCode, 2);

        // The folder gone, as a stick unplugged: one line, nothing marked.
        const QString gone = a.path();
        QVERIFY(a.remove());
        const Run missing = runSorvane({"--undo"}, journals.path());
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.err.count('\n'), 1);
        QVERIFY2(missing.err.contains(gone.toUtf8()), missing.err.constData());
        QVERIFY(QString::fromUtf8(runSorvane({"--runs"}, journals.path()).out)
                    .section('\n', 0, 0)
                    .contains(QStringLiteral("папка не найдена")));
        Q_UNUSED(beforeA);
    }

    // A journal cut short in the middle of a line: --undo gives back what it names, says the
    // rest cannot be found, and its exit status says the undo may not be whole.
    void interruptedRunIsSaidSo()
    {
        QTemporaryDir journals, dir;
        fill(dir.path(), QStringLiteral("good"));
        QCOMPARE(runSorvane({"--folder", dir.path()}, journals.path()).exitCode, 0);
        const QString journal = QDir(journals.filePath(QStringLiteral("sorvane/runs")))
                                    .entryInfoList({QStringLiteral("*.journal")}, QDir::Files)
                                    .first()
                                    .filePath();
        QByteArray bytes = testing::readFile(journal);
        bytes.truncate(bytes.indexOf("end\t") - 7); // the second entry cut in its middle
        QFile cut(journal);
        QVERIFY(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cut.write(bytes);
        cut.close();
        const Run undo = runSorvane({"--undo"}, journals.path());
        QCOMPARE(undo.exitCode, 1);
        const QStringList lines = QString::fromUtf8(undo.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("Прежние имена возвращены."));
        QVERIFY2(lines[2].startsWith(QStringLiteral("Журнал переименования оборван")),
                 qPrintable(lines[2]));
        // The file whose entry was cut off stays under its new name: the user is told why.
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Lumen_Red Sun.mp3"))));
    }

    // A subfolder another run holds is left alone and said so: the rest is renamed, and the exit
    // status says not every file was.
    void heldSubfolderIsSaid()
    {
        QTemporaryDir journals, dir;
        fill(dir.path(), QStringLiteral("good"));
        const QString sub = dir.filePath(QStringLiteral("held"));
        QVERIFY(QDir().mkpath(sub));
        fill(sub, QStringLiteral("good"));
        const QStringList heldBefore = state(sub);
        const OpenFolder folder(sub);
        FolderLock lock;
        int error = 0;
        QCOMPARE(FolderLock::take(folder.fd(), lock, error), FolderLock::Taken::Yes);
        const Run run = runSorvane({"--folder", dir.path(), "--subfolders"}, journals.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains("\"held\": "), run.out.constData());
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Nova_Blue Sky.mp3"))));
        QCOMPARE(state(sub), heldBefore);
    }

    // Written to a pipe, the lines wait in a buffer: an error said meanwhile still comes after
    // the lines before it, and lines that cannot be written at all make the run's exit status 1
    // however well the renames went.
    void bufferedLinesKeepTheirPlaceAndFailLoudly()
    {
        QTemporaryDir dir;
        fill(dir.path(), QStringLiteral("good"));
        const QString sub = dir.filePath(QStringLiteral("held"));
        QVERIFY(QDir().mkpath(sub));
        const OpenFolder folder(sub);
        FolderLock lock;
        int error = 0;
        QCOMPARE(FolderLock::take(folder.fd(), lock, error), FolderLock::Taken::Yes);
        // A state folder that is a file: the journal cannot be made, which is said on stderr
        // between the held folder's line and the files' lines.
        QTemporaryDir stateParent;
        const QString notAFolder = stateParent.filePath(QStringLiteral("state"));
        QVERIFY(testing::writeFile(notAFolder, "x"));
        const Run merged = runSorvane(
            {"--folder", dir.path(), "--subfolders"}, notAFolder, "C.UTF-8",
            [](QProcess& process) { process.setProcessChannelMode(QProcess::MergedChannels); });
        const qsizetype held = merged.out.indexOf("\"held\": ");
        const qsizetype journal = merged.out.indexOf("Журнал не записан");
        const qsizetype renamed = merged.out.indexOf("\"1.mp3\" -> ");
        QVERIFY2(held >= 0 && journal > held && renamed > journal, merged.out.constData());

        QTemporaryDir full, journals;
        fill(full.path(), QStringLiteral("good"));
        const Run lost = runSorvane(
            {"--folder", full.path()}, journals.path(), "C.UTF-8",
            [](QProcess& process) { process.setStandardOutputFile(QStringLiteral("/dev/full")); });
        QVERIFY(QFile::exists(full.filePath(QStringLiteral("Nova_Blue Sky.mp3"))));
        QCOMPARE(lost.exitCode, 1);
    }

    // A termination signal stops an undo between two files: it says how many are not back and
    // exits 1, and the next --undo gives back the rest.
    void undoStoppedBySignalIsFinishedByTheNext()
    {
        QTemporaryDir journals, dir;
        const int files = 40;
        for (int i = 0; i < files; ++i)
            QVERIFY(testing::writeFile(
                dir.filePath(QString::asprintf("%02d.mp3", i)),
                testing::mp3Bytes({"Song " + QByteArray::number(i), "Nova"}, 100, char(i))));
        const QStringList before = state(dir.path());
        QCOMPARE(runSorvane({"--folder", dir.path()}, journals.path()).exitCode, 0);

        // The signal comes with the tenth rename back, through the handler the program installs.
        qputenv("XDG_STATE_HOME", journals.path().toUtf8());
        InstallStopPolicy();
        const testing::SeamGuard seam;
        static int renames;
        renames = 0;
        static decltype(Sys.renameat2) rename;
        rename = Sys.renameat2;
        Sys.renameat2 = [](int fromDir, const char* from, int toDir, const char* to,
                           unsigned flags) {
            if (++renames == 10)
                std::raise(SIGTERM);
            return rename(fromDir, from, toDir, to, flags);
        };
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* out = ::open_memstream(&buffer, &size);
        int code = 0;
        {
            Terminal terminal(out, stderr);
            code = RunUndoCommand(terminal, QString());
        }
        std::fclose(out);
        const QString text = QString::fromUtf8(buffer, qsizetype(size));
        std::free(buffer);
        ForgetStopForTesting();
        Sys.renameat2 = rename;
        QCOMPARE(code, 1);
        const int back = int(QDir(dir.path()).entryList({QStringLiteral("[0-9]*.mp3")}).size());
        QVERIFY2(back >= 9 && back < files, qPrintable(QString::number(back)));
        QVERIFY2(text.contains(Plural(files - back, "%1 файл не возвращён!",
                                      "%1 файла не возвращено!", "%1 файлов не возвращено!")),
                 qPrintable(text.right(300)));

        const Run rest = runSorvane({"--undo"}, journals.path());
        QCOMPARE(rest.exitCode, 0);
        QStringList now = state(dir.path());
        now.removeFirst();
        QStringList wanted = before;
        wanted.removeFirst();
        QCOMPARE(now, wanted);
    }

    // A single rename made in the window is taken back from a terminal like a run.
    void singleRenameUndoneFromTheTerminal()
    {
        QTemporaryDir journals, dir;
        fill(dir.path(), QStringLiteral("good"));
        qputenv("XDG_STATE_HOME", journals.path().toUtf8());
        MemoryFieldModel model;
        model.setTxtFile(dir.filePath(QStringLiteral("1.mp3")));
        model.setFolderPath(dir.path());
        ReadTag(model);
        QCOMPARE(RenameFile(model, true).outcome, RenameOutcome::Renamed);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Nova_Blue Sky.mp3"))));
        const Run listed = runSorvane({"--runs"}, journals.path());
        QVERIFY2(listed.out.contains("1 файл  выполнено"), listed.out.constData());
        const Run undo = runSorvane({"--undo"}, journals.path());
        QCOMPARE(undo.exitCode, 0);
        QCOMPARE(QString::fromUtf8(undo.out),
                 QStringLiteral("\"Nova_Blue Sky.mp3\" -> \"1.mp3\"\nПрежние имена возвращены.\n"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("1.mp3"))));
    }
};

QTEST_GUILESS_MAIN(FolderCommandTest)
#include "tst_foldercommand.moc"
