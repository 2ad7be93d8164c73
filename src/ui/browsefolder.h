#pragma once

#include <QString>

class QWidget;

namespace sorvane
{

class Dialogs;

// Asks for a folder; its full path, or an empty string when the user cancels.
QString BrowseFolder(Dialogs& dialogs, QWidget* owner);

} // namespace sorvane
