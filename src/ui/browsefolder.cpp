#include "ui/browsefolder.h"

#include "rename/fieldmodel.h"
#include "ui/dialogs.h"

namespace sorvane
{

QString BrowseFolder(Dialogs& dialogs, QWidget* owner)
{
    return FieldModel::upToNul(
        dialogs.getExistingDirectory(owner, QStringLiteral("Select Folder")));
}

} // namespace sorvane
