#include "cli/commandline.h"

#include "tag/codepage.h"

#include <QCommandLineParser>

namespace sorvane
{

CommandLine ParseCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return ParseCommandLine(arguments);
}

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption undo(QStringLiteral("undo"));
    const QCommandLineOption runs(QStringLiteral("runs"));
    const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption album(QStringLiteral("album"));
    const QCommandLineOption year(QStringLiteral("year"));
    const QCommandLineOption subfolders(QStringLiteral("subfolders"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption replaceUnsafe(QStringLiteral("replace-unsafe"));
    const QCommandLineOption codePage(QStringLiteral("codepage"), QString(),
                                      QStringLiteral("NAME"));
    parser.addOptions({help, version, undo, runs, folder, album, year, subfolders, dryRun,
                       replaceUnsafe, codePage});
    CommandLine command;
    const auto mistake = [&command](const QString& error) {
        command.action = CommandLine::Mistake;
        command.error = error;
        return command;
    };
    if (!parser.parse(arguments.isEmpty() ? QStringList{QStringLiteral("sorvane")} : arguments))
        return mistake(parser.errorText());
    if (parser.isSet(help)) {
        command.action = CommandLine::Help;
        return command;
    }
    if (parser.isSet(version)) {
        command.action = CommandLine::Version;
        return command;
    }
    const QStringList files = parser.positionalArguments();
    const bool runOptions = parser.isSet(album) || parser.isSet(year) || parser.isSet(subfolders) ||
                            parser.isSet(dryRun) || parser.isSet(replaceUnsafe) ||
                            parser.isSet(codePage);
    if (parser.isSet(undo) || parser.isSet(runs)) {
        if (parser.isSet(undo) && parser.isSet(runs))
            return mistake(QStringLiteral("--undo and --runs go one at a time"));
        if (parser.isSet(folder) || runOptions)
            return mistake(QStringLiteral("--undo and --runs take no other option"));
        if (parser.isSet(runs) && !files.isEmpty())
            return mistake(QStringLiteral("--runs takes no argument"));
        if (files.size() > 1)
            return mistake(QStringLiteral("--undo takes one RUN at most"));
        command.action = parser.isSet(undo) ? CommandLine::Undo : CommandLine::Runs;
        command.run = files.value(0);
        return command;
    }
    if (parser.isSet(folder)) {
        if (!files.isEmpty())
            return mistake(QStringLiteral("--folder takes no FILE"));
        command.action = CommandLine::Folder;
        command.folder = parser.value(folder);
        command.album = parser.isSet(album);
        command.year = parser.isSet(year);
        command.subfolders = parser.isSet(subfolders);
        command.dryRun = parser.isSet(dryRun);
        command.replaceUnsafe = parser.isSet(replaceUnsafe);
        if (parser.isSet(codePage)) {
            command.codePage = CodePageForName(parser.value(codePage));
            if (command.codePage == 0)
                return mistake(
                    QStringLiteral("unknown code page '%1'").arg(parser.value(codePage)));
        }
        return command;
    }
    if (runOptions)
        return mistake(QStringLiteral("--album, --year, --subfolders, --dry-run, --replace-unsafe "
                                      "and --codepage go with --folder"));
    if (files.size() > 1)
        return mistake(QStringLiteral("only one FILE can be opened"));
    command.file = files.value(0);
    return command;
}

QString HelpText()
{
    return QStringLiteral(
        "Usage: sorvane [FILE]\n"
        "       sorvane --folder DIR [--album] [--year] [--subfolders] [--dry-run]\n"
        "               [--replace-unsafe] [--codepage NAME]\n"
        "       sorvane --runs\n"
        "       sorvane --undo [RUN]\n"
        "Renames MP3 files after their tags (ID3v1, ID3v2, APEv2): in a window, or a whole\n"
        "folder from a terminal.\n"
        "\n"
        "  FILE             an MP3 file to open in the window, as if chosen with \"Файл\"\n"
        "  --folder DIR     rename every MP3 file of DIR after its tag, without a window:\n"
        "                   artist and title, as the window's folder run makes the names\n"
        "  --album          put the album into the names too\n"
        "  --year           put the year into the names too\n"
        "  --subfolders     rename in the folders below DIR too (not through links, not on\n"
        "                   another mount)\n"
        "  --dry-run        rename nothing and write no journal; print what a run would do\n"
        "                   with the folder as it stands. What only the rename itself finds\n"
        "                   out (permissions, a name the drive refuses, a file changed\n"
        "                   meanwhile) it cannot foresee.\n"
        "  --replace-unsafe make the names with characters a drive may refuse replaced:\n"
        "                   / \\ | -> -, \": \" -> \" - \", other : -> -, ? and * left out,\n"
        "                   \" -> ', < -> (, > -> ); \"/\" everywhere, the rest on FAT and\n"
        "                   exFAT drives, which refuse them\n"
        "  --codepage NAME  read 8-bit tag text in this code page (windows-1251, cp1251,\n"
        "                   932, ...) instead of the one the locale gives\n"
        "  --runs           list the kept runs and single renames, newest first: the RUN\n"
        "                   to name to --undo, when, the folder, the files renamed, the state\n"
        "  --undo [RUN]     take a run or single rename back, from its journal: RUN, or\n"
        "                   the newest one not yet undone\n"
        "  -h, --help       print this help and exit\n"
        "  -v, --version    print the version and exit\n"
        "\n"
        "A folder run prints one line per file, \"OLD\" -> \"NEW\" or \"OLD\": REASON, then a\n"
        "summary. Exit status: 0 when every file was renamed or had its name, 1 when some were\n"
        "not, 2 for a mistake on the command line, a folder that cannot be opened, or one\n"
        "that another Sorvane is renaming in. --undo exits 0 when every file is back, 1 when\n"
        "some are not, 2 when nothing could be undone.\n"
        "Sorvane only renames files: it never writes a tag and never replaces a file.\n");
}

} // namespace sorvane
