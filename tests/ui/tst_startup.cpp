#include "ui/startup.h"

#include <QProcess>
#include <QtTest>

using namespace sorvane;

class StartUpTest : public QObject
{
    Q_OBJECT

private:
    struct Run {
        int exitCode;
        QString out, err;
    };

    // The installed program's part: the real executable, without a display.
    static Run sorvane(const QStringList& arguments,
                       const QString& program = QStringLiteral(SORVANE_EXECUTABLE),
                       const QStringList& set = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(variable));
        for (const QString& variable : set)
            environment.insert(variable.section(QLatin1Char('='), 0, 0),
                               variable.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(10000))
            qFatal("sorvane did not finish");
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

private slots:
    // Help and version need no display; without one the program says so in one line.
    void withoutADisplay()
    {
        const Run version = sorvane({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("sorvane %1\n").arg(QStringLiteral(SORVANE_VERSION)));
        const Run help = sorvane({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: sorvane [FILE]")));
        const Run window = sorvane({});
        QCOMPARE(window.exitCode, 1);
        QCOMPARE(window.err.count(QLatin1Char('\n')), 1);
        QVERIFY(window.err.contains(QStringLiteral("no display")));
        QCOMPARE(sorvane({QStringLiteral("--verbose")}).exitCode, 2);
    }

    // The command line loads QtCore and no widget, font or display library: those take longer to
    // load than a run over a small folder takes. The window is a program of its own.
    void commandLineLoadsNoWidgets()
    {
        // The dynamic loader lists what the program loads instead of running it.
        const Run loaded =
            sorvane({QStringLiteral("--version")}, QStringLiteral(SORVANE_EXECUTABLE),
                    {QStringLiteral("LD_TRACE_LOADED_OBJECTS=1")});
        QVERIFY2(loaded.out.contains(QStringLiteral("libQt6Core")), qPrintable(loaded.out));
        for (const char* library : {"libQt6Gui", "libQt6Widgets", "libX11", "libfontconfig"})
            QVERIFY2(!loaded.out.contains(QLatin1String(library)), library);
    }

    // Without its window program beside it or where it was installed, the program says it cannot
    // start the window, once; the window's program itself takes nothing but a file.
    void windowProgramMissingOrMisused()
    {
        QTemporaryDir alone;
        const QString copy = alone.filePath(QStringLiteral("sorvane"));
        QVERIFY(QFile::copy(QStringLiteral(SORVANE_EXECUTABLE), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        const Run window = sorvane({}, copy);
        QCOMPARE(window.exitCode, 1);
        QCOMPARE(window.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(window.err.startsWith(QStringLiteral("sorvane: cannot start the window")),
                 qPrintable(window.err));
        QCOMPARE(sorvane({QStringLiteral("--version")}, copy).exitCode, 0);
        // One there that cannot be run is the one named.
        QFile unrunnable(alone.filePath(QStringLiteral("sorvane-window")));
        QVERIFY(unrunnable.open(QIODevice::WriteOnly));
        unrunnable.close();
        const Run refused = sorvane({}, copy);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("(%1)").arg(unrunnable.fileName())),
                 qPrintable(refused.err));

        const QString windowProgram = QFileInfo(QStringLiteral(SORVANE_EXECUTABLE))
                                          .dir()
                                          .filePath(QStringLiteral("sorvane-window"));
        const Run misused = sorvane({QStringLiteral("--folder"), alone.path()}, windowProgram);
        QCOMPARE(misused.exitCode, 2);
        QVERIFY(misused.err.contains(QStringLiteral("only shows the window")));
    }

    // Qt's dialogs speak the user's language (CTest runs this with LANGUAGE=ru).
    void qtTranslationsAreLoaded()
    {
        if (!LoadQtTranslations())
            QSKIP("Qt has no translations installed for this locale (qt6-translations-l10n)");
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    }
};

QTEST_MAIN(StartUpTest)
#include "tst_startup.moc"
