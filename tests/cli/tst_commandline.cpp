#include "cli/commandline.h"

#include <QtTest>

using namespace sorvane;

class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("file");
        const auto row = [](const char* name, QStringList arguments, CommandLine::Action action,
                            const char* file = "") {
            QTest::newRow(name) << (QStringList{QStringLiteral("sorvane")} + arguments)
                                << int(action) << QString::fromUtf8(file);
        };
        row("nothing", {}, CommandLine::Window);
        row("a file", {"song.mp3"}, CommandLine::Window, "song.mp3");
        row("help wins", {"song.mp3", "--help"}, CommandLine::Help);
        row("short version", {"-v"}, CommandLine::Version);
        row("a file named like an option", {"--", "-odd.mp3"}, CommandLine::Window, "-odd.mp3");
        row("unknown option", {"--verbose"}, CommandLine::Mistake);
        row("two files", {"a.mp3", "b.mp3"}, CommandLine::Mistake);
        row("undo", {"--undo"}, CommandLine::Undo);
        row("undo and a folder", {"--undo", "--folder", "x"}, CommandLine::Mistake);
        row("a folder", {"--folder", "music", "--album", "--dry-run"}, CommandLine::Folder);
        row("a folder and a file", {"--folder", "music", "a.mp3"}, CommandLine::Mistake);
        row("album alone", {"--album"}, CommandLine::Mistake);
        row("folder without its name", {"--folder"}, CommandLine::Mistake);
        row("a known code page", {"--folder", "m", "--codepage", "cp1251"}, CommandLine::Folder);
        row("an unknown code page", {"--folder", "m", "--codepage", "klingon"},
            CommandLine::Mistake);
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, file);
        const CommandLine command = ParseCommandLine(arguments);
        QCOMPARE(int(command.action), action);
        QCOMPARE(command.file, file);
        QCOMPARE(command.error.isEmpty(), action != CommandLine::Mistake);
    }

    void codePageNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("page");
        for (const auto& [name, page] :
             std::initializer_list<std::pair<const char*, int>>{{"windows-1251", 1251},
                                                                {"CP1251", 1251},
                                                                {"1252", 1252},
                                                                {"932", 932},
                                                                {"Shift_JIS", 932},
                                                                {"cp1249", 0},
                                                                {"1259", 0},
                                                                {"utf-8", 0},
                                                                {"", 0}})
            QTest::newRow(name) << QString::fromLatin1(name) << page;
    }

    void codePageNames()
    {
        QFETCH(QString, name);
        QFETCH(int, page);
        const CommandLine command =
            ParseCommandLine({QStringLiteral("sorvane"), QStringLiteral("--folder"),
                              QStringLiteral("m"), QStringLiteral("--codepage"), name});
        QCOMPARE(command.codePage, page);
        QCOMPARE(command.action, page ? CommandLine::Folder : CommandLine::Mistake);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
