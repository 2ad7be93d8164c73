#pragma once

#include <QString>
#include <QStringList>

namespace sorvane
{

// Loads Qt's own translations for the user's locale into the running application, so its dialogs'
// buttons speak the user's language; false where Qt has none for it.
bool LoadQtTranslations();

// The window: says in one line when there is no display to show it on, else shows it (with
// `file` loaded, where one is given) and runs its events until it is closed. The program's exit
// code.
int StartUp(int argc, char* argv[], const QString& file = QString());

} // namespace sorvane
