#include "rename/movefile.h"
#include "ui/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    sorvane::DeferTerminationDuringMoves();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sorvane"));
    return sorvane::StartUp();
}
