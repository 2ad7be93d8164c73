#include "ui/browsefolder.h"

#include "run/fieldmodel.h"
#include "ui/dialogs.h"

namespace sorvane
{

QString BrowseFolder(Dialogs& dialogs, QWidget* owner)
{
    // The browser opens where the last folder was chosen, the first time in the Music folder.
    static QString lastFolder;
    const QString folder = FieldModel::upToNul(dialogs.getExistingDirectory(
        owner, QStringLiteral("Select Folder"), lastFolder.isEmpty() ? StartFolder() : lastFolder));
    if (!folder.isEmpty())
        lastFolder = folder;
    return folder;
}

} // namespace sorvane
