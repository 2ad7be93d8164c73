#pragma once

#include <QString>
#include <QStringList>

namespace sorvane
{

// What the command line asks for.
struct CommandLine {
    enum Action { Window, Help, Version, Undo, Runs, Folder, Mistake } action = Window;
    QString file;   // Window: to open as if chosen with "Файл"; empty for none
    QString folder; // Folder: the folder to rename in
    QString run;    // Undo: the run to take back, by its identifier; empty for the newest
    bool album = false;
    bool year = false;
    bool subfolders = false;
    bool dryRun = false;
    bool replaceUnsafe = false; // characters the folder's drive may refuse replaced by the table
    int codePage = 0;           // 8-bit tag text; 0 for the locale's
    QString error;              // Mistake: what is wrong, for the user
};

// sorvane [FILE] | --folder DIR [--album] [--year] [--subfolders] [--dry-run] [--replace-unsafe]
// [--codepage NAME] | --runs | --undo [RUN] | --help | --version. Needs no QCoreApplication.
CommandLine ParseCommandLine(const QStringList& arguments);
// The same from main's arguments, in the locale's encoding.
CommandLine ParseCommandLine(int argc, char* argv[]);

// The usage text --help prints.
QString HelpText();

} // namespace sorvane
