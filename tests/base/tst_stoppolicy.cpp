#include "base/stoppolicy.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "names/renamefailures.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorvane;

namespace
{

pthread_t g_bystander;

// A thread that does nothing but take signals, as Qt's own threads do.
void* idle(void*)
{
    for (;;)
        ::pause();
    return nullptr;
}

// Runs `body` in a child process and returns how the child ended; what the child writes to the
// descriptor it is given comes back in `said`.
template <typename Body> int inChild(Body body, QByteArray& said)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        qFatal("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        body(pipeFds[1]);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, got);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

void say(int fd, const QByteArray& text)
{
    [[maybe_unused]] const auto written = ::write(fd, text.constData(), size_t(text.size()));
}

} // namespace

class StopPolicyTest : public QObject
{
    Q_OBJECT

private slots:
    // SIGTERM taken by another thread while the move is between link and unlink: the move
    // finishes (one name), the run stops before the next file as on Cancel, then the program ends
    // by the signal. A second SIGTERM meanwhile does not cut the move short either.
    void signalOnAnotherThreadMidMove()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // b.mp3 has no tag: after the stop it is not reached, not read and found wanting.
        for (const char* name : {"a", "b", "c"}) {
            QVERIFY(testing::writeFile(dir.filePath(QLatin1String(name) + QLatin1String(".mp3")),
                                       testing::mp3Bytes({QByteArray("Song ") + name,
                                                          "Nova",
                                                          {},
                                                          {},
                                                          {},
                                                          12,
                                                          name[0] == 'b' ? "ID3" : "TAG"})));
        }
        QByteArray said;
        const int status = inChild(
            [&](int out) {
                InstallStopPolicy();
                ::pthread_create(&g_bystander, nullptr, idle, nullptr);
                Sys.renameat2 = testing::refuseNoReplaceFlag;
                Sys.linkat = [](int fromDir, const char* from, int toDir, const char* to,
                                int flags) {
                    const int result = ::linkat(fromDir, from, toDir, to, flags);
                    if (!StopRequested()) {
                        for (int twice = 0; twice < 2; ++twice) {
                            ::pthread_kill(g_bystander, SIGTERM);
                            while (StopSignal() == 0)
                                ::usleep(100);
                            ::usleep(20000); // the second one has surely been handled
                        }
                    }
                    return result;
                };
                MemoryFieldModel model;
                model.setFolderPath(dir.path());
                const FolderReport report = RenameFolder(model);
                say(out, QByteArray::number(report.stopped) + " " +
                             QByteArray::number(model.FailCount()) + " " +
                             QByteArray::number(int(report.notRenamed.front().outcome.failure ==
                                                    &RenameFailure::NotReached)));
                // A move asked for after the stop does not begin.
                const OpenFolder folder(dir.path());
                say(out, " " + QByteArray::number(int(IsStoppedBeforeMove(
                                   MoveNoReplaceAt(folder, "b.mp3", folder, "x.mp3")))));
                ::close(out);
                FinishStop();
            },
            said);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM, qPrintable(said));
        QCOMPARE(said, QByteArray("1 2 1 1"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
                 (QStringList{"Nova_Song a.mp3", "b.mp3", "c.mp3"}));
    }

    // With no move under way the first signal waits for the program to look at it; a second
    // ends the program at once.
    void secondSignalWithNoMoveEndsAtOnce()
    {
        QByteArray said;
        const int status = inChild(
            [](int out) {
                InstallStopPolicy();
                ::kill(::getpid(), SIGINT);
                say(out, StopSignal() == SIGINT ? "waiting" : "gone");
                ::kill(::getpid(), SIGTERM);
                say(out, " survived");
            },
            said);
        QCOMPARE(said, QByteArray("waiting"));
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(StopPolicyTest)
#include "tst_stoppolicy.moc"
