#include "ui/startup.h"

#include "base/stoppolicy.h"
#include "ui/dialogs.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace sorvane
{

namespace
{

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

// While the window system is being connected its messages wait here: a failure to reach a display
// ends the program with one line instead of Qt's warnings and abort; otherwise they are passed on.
struct HeldMessage {
    QtMsgType type;
    QString text;
};
QList<HeldMessage>& heldMessages()
{
    static QList<HeldMessage> messages;
    return messages;
}

void holdStartingMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        heldMessages().append({type, message});
        return;
    }
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY"), display = qgetenv("DISPLAY");
    QString where = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    if (!wayland.isEmpty())
        where = QStringLiteral("none at WAYLAND_DISPLAY=%1").arg(QString::fromLocal8Bit(wayland));
    else if (!display.isEmpty())
        where = QStringLiteral("none at DISPLAY=%1").arg(QString::fromLocal8Bit(display));
    print(stderr, QStringLiteral("sorvane: cannot open the window: no display (%1)\n").arg(where));
    std::fflush(stderr);
    std::_Exit(1);
}

void passOnHeldMessages()
{
    for (const HeldMessage& message : std::as_const(heldMessages())) {
        if (message.type == QtWarningMsg || message.type == QtCriticalMsg)
            qWarning("%s", qUtf8Printable(message.text));
    }
    heldMessages().clear();
}

} // namespace

bool LoadQtTranslations()
{
    // Owned by the application, which outlives every dialog.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return QCoreApplication::installTranslator(translator);
    delete translator;
    return false;
}

int StartUp(int argc, char* argv[], const QString& file)
{
    InstallStopPolicy();
    // Docks and task switchers find the icon through the desktop file, on Wayland above all.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.sorvane.Sorvane"));
    const QtMessageHandler previous = qInstallMessageHandler(holdStartingMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    passOnHeldMessages();
    QApplication::setApplicationName(QStringLiteral("Sorvane"));
    QApplication::setApplicationVersion(QStringLiteral(SORVANE_VERSION));
    LoadQtTranslations();
    KeepQtSettingsOffDisk();

    QtDialogs dialogs;
    frmMain window(dialogs);
    // A termination signal: a folder run stops before its next file, as on Cancel, and every
    // dialog and the window close without a word.
    std::unique_ptr<QSocketNotifier> stop;
    if (StopWakeDescriptor() >= 0) {
        stop = std::make_unique<QSocketNotifier>(StopWakeDescriptor(), QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &window, [&window, &stop] {
            stop->setEnabled(false);
            window.close();
            QCoreApplication::quit();
        });
    }
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        QtDialogs::prepareMessages(&window);
        window.CheckInterruptedRuns();
    });
    if (!file.isEmpty())
        QTimer::singleShot(0, &window, [&window, &file] { window.OpenFile(file); });
    const int code = QApplication::exec();
    FinishStop(); // ends the program as the signal would have, now that nothing is under way
    return code;
}

} // namespace sorvane
