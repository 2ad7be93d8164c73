#include "ui/startup.h"

#include "base/stoppolicy.h"
#include "tag/taglibadapter.h"
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

CommandLine ParseCommandLine(const QStringList& arguments)
{
    CommandLine command;
    bool options = true;
    for (const QString& argument : arguments.mid(1)) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options &&
                   (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            return {CommandLine::Help, QString(), QString()};
        } else if (options &&
                   (argument == QLatin1String("--version") || argument == QLatin1String("-v"))) {
            return {CommandLine::Version, QString(), QString()};
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            return {CommandLine::Mistake, QString(),
                    QStringLiteral("unknown option '%1'").arg(argument)};
        } else if (command.file.isEmpty()) {
            command.file = argument;
        } else {
            return {CommandLine::Mistake, QString(), QStringLiteral("only one FILE can be opened")};
        }
    }
    return command;
}

QString HelpText()
{
    return QStringLiteral(
        "Usage: sorvane [FILE]\n"
        "Renames MP3 files after their tags (ID3v1, ID3v2, APEv2), in a window.\n"
        "\n"
        "  FILE           an MP3 file to open, as if chosen with the \"Файл\" button\n"
        "  -h, --help     print this help and exit\n"
        "  -v, --version  print the version and exit\n"
        "\n"
        "Sorvane only renames files: it never writes a tag and never replaces a file.\n");
}

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

int StartUp(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = ParseCommandLine(arguments);
    switch (command.action) {
    case CommandLine::Help:
        print(stdout, HelpText());
        return 0;
    case CommandLine::Version:
        print(stdout, QStringLiteral("sorvane %1\n").arg(QStringLiteral(SORVANE_VERSION)));
        return 0;
    case CommandLine::Mistake:
        print(stderr, QStringLiteral("sorvane: %1\nTry 'sorvane --help'.\n").arg(command.error));
        return 2;
    case CommandLine::Run:
        break;
    }

    InstallStopPolicy();
    InstallTagLibStringHandlers();
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
    QTimer::singleShot(0, &window, [&window] { QtDialogs::prepareMessages(&window); });
    if (!command.file.isEmpty())
        QTimer::singleShot(0, &window, [&window, &command] { window.OpenFile(command.file); });
    const int code = QApplication::exec();
    FinishStop(); // ends the program as the signal would have, now that nothing is under way
    return code;
}

} // namespace sorvane
