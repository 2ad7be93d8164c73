#include "ui/startup.h"

#include "ui/dialogs.h"
#include "ui/frmmain.h"

#include <QApplication>

namespace sorvane
{

int StartUp()
{
    QtDialogs dialogs;
    frmMain window(dialogs);
    window.show();
    return QApplication::exec();
}

} // namespace sorvane
