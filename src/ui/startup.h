#pragma once

#include <QString>
#include <QStringList>

namespace sorvane
{

// What the command line asks for.
struct CommandLine {
    enum Action { Run, Help, Version, Mistake } action = Run;
    QString file;  // to open as if chosen with "Файл"; empty for none
    QString error; // with Mistake: what is wrong, for the user
};

// sorvane [FILE] | --help | --version. Needs no QCoreApplication.
CommandLine ParseCommandLine(const QStringList& arguments);

// The usage text --help prints.
QString HelpText();

// Loads Qt's own translations for the user's locale into the running application, so its dialogs'
// buttons speak the user's language; false where Qt has none for it.
bool LoadQtTranslations();

// The whole program: answers --help and --version without a display, says in one line when there
// is no display to show the window on, else shows the window (with FILE loaded) and runs its
// events until it is closed. The program's exit code.
int StartUp(int argc, char* argv[]);

} // namespace sorvane
