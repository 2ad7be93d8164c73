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
    static Run sorvane(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(variable));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SORVANE_EXECUTABLE), arguments);
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
