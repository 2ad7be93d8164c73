#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Real drives for the tests: FAT, NTFS and exFAT images mounted by their FUSE drivers, ext4 in a
// loop-mounted image, and sshfs over an sshd the test starts on 127.0.0.1 with a configuration
// and keys of its own. Each needs root and what scripts/test installs; without them a test skips
// and says why.
// Skips the test where the drive cannot be had, saying why; where scripts/test says every drive
// must be there (it runs as root with /dev/fuse and has installed the drivers), fails it instead,
// so a drive that stopped mounting cannot turn the tests into skips unseen.
#define SORVANE_NEED_MOUNT(mount)                                                                  \
    do {                                                                                           \
        if (!(mount).skipReason().isEmpty()) {                                                     \
            if (qEnvironmentVariableIsSet("SORVANE_DRIVES_REQUIRED"))                              \
                QFAIL(qPrintable((mount).skipReason()));                                           \
            QSKIP(qPrintable((mount).skipReason()));                                               \
        }                                                                                          \
    } while (false)

namespace testing
{

struct DriveKind {
    enum Way { Fuse, Loop, Ssh };
    const char* name;
    Way way;
    QStringList mkfs;  // the program and its options; the device follows
    QStringList mount; // Fuse: the driver and its options to stay in the foreground
    QString check;     // run with -n on the device once unmounted; empty for none
    bool caseInsensitive;
    bool hardLinks;
    bool unicodeNames;      // fusefat refuses every name that is not ASCII
    bool needsLoopDevice;   // exfat-fuse takes block devices only
    bool realInodes = true; // sshfs makes up inode numbers and link counts
};

inline const DriveKind DriveKinds[] = {
    {"FAT32 (fusefat)",
     DriveKind::Fuse,
     {"mkfs.vfat", "-F", "32"},
     {"fusefat", "-f", "-o", "rw+"},
     "fsck.vfat",
     true,
     false,
     false,
     false},
    {"NTFS (ntfs-3g)",
     DriveKind::Fuse,
     {"mkntfs", "-F", "-q", "-f"},
     {"ntfs-3g", "-o", "no_detach"},
     "ntfsfix",
     false,
     true,
     true,
     false},
    // -d is the only way exfat-fuse stays in the foreground; its debug output goes to a file.
    {"exFAT (exfat-fuse)",
     DriveKind::Fuse,
     {"mkfs.exfat"},
     {"mount.exfat-fuse", "-d"},
     "fsck.exfat",
     true,
     false,
     true,
     true},
    {"ext4", DriveKind::Loop, {"mkfs.ext4", "-q", "-F"}, {}, "e2fsck", false, true, true, false},
    {"sshfs", DriveKind::Ssh, {}, {}, QString(), false, true, true, false, false},
};

inline bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
                    int timeoutMs = 60000)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    const bool ok = process.waitForFinished(timeoutMs) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

inline bool isMountPoint(const QString& point)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    return table.open(QIODevice::ReadOnly) &&
           table.readAll().contains(' ' + QFile::encodeName(point) + ' ');
}

// A fresh drive of the kind, mounted in the test's temporary folder; unmounted, its driver gone
// and its loop device let go, on every way out of the test. Only once a FUSE driver has exited
// has it written its last blocks to the image.
class Mount
{
public:
    Mount(const DriveKind& kind, const QString& base)
        : m_kind(kind), m_base(base), m_point(base + QStringLiteral("/mnt")),
          m_device(base + QStringLiteral("/fs.img")), m_log(base + QStringLiteral("/driver.log"))
    {
        m_skip = whyNot();
        if (!m_skip.isEmpty())
            return;
        QDir().mkpath(m_point);
        m_skip = make();
        if (m_skip.isEmpty())
            m_skip = mount();
    }

    ~Mount()
    {
        QString ignored;
        unmount(ignored);
        stopServers();
        if (!m_loop.isEmpty())
            runTool(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
    }

    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    const QString& skipReason() const { return m_skip; }
    const QString& point() const { return m_point; }
    qint64 driverPid() const { return m_driver.processId(); }

    // Unmounted and mounted again, as a stick is unplugged and plugged in: what the drive keeps
    // of a file is what is on the disk. Empty, or what failed.
    QString remount()
    {
        QString failure;
        if (!unmount(failure))
            return failure;
        return mount();
    }

    // Unmounted, the driver gone, the file system checker finds nothing wrong with what the
    // driver wrote. Empty, or which step failed and what the tool said.
    QString unmountAndCheck()
    {
        QString failure;
        if (!unmount(failure))
            return failure;
        if (m_kind.check.isEmpty())
            return QString();
        QString output;
        const QStringList options = m_kind.way == DriveKind::Loop
                                        ? QStringList{QStringLiteral("-n"), QStringLiteral("-f")}
                                        : QStringList{QStringLiteral("-n")};
        if (!runTool(m_kind.check, options + QStringList{m_device}, &output))
            return m_kind.check + QStringLiteral(" -n found faults:\n") + output;
        return QString();
    }

private:
    QString whyNot() const
    {
        if (::geteuid() != 0)
            return QStringLiteral("mounting needs root");
        if (m_kind.way == DriveKind::Fuse && !QFile::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("no /dev/fuse");
        QStringList tools = m_kind.mkfs.mid(0, 1) + m_kind.mount.mid(0, 1);
        if (!m_kind.check.isEmpty())
            tools << m_kind.check;
        if (m_kind.way == DriveKind::Ssh)
            tools << QStringLiteral("sshd") << QStringLiteral("sshfs")
                  << QStringLiteral("ssh-keygen");
        const QStringList sbin = {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
        for (const QString& tool : tools) {
            if (QStandardPaths::findExecutable(tool).isEmpty() &&
                QStandardPaths::findExecutable(tool, sbin).isEmpty())
                return tool + QStringLiteral(" is not installed (scripts/test installs it)");
        }
        return QString();
    }

    QString make()
    {
        if (m_kind.way == DriveKind::Ssh)
            return makeServer();
        QString output;
        if (!runTool(QStringLiteral("truncate"),
                     {QStringLiteral("-s"), QStringLiteral("64M"), m_device}))
            return QStringLiteral("cannot make an image");
        if (m_kind.needsLoopDevice) {
            if (!runTool(QStringLiteral("losetup"),
                         {QStringLiteral("-f"), QStringLiteral("--show"), m_device}, &m_loop))
                return QStringLiteral("no loop device to put the image on");
            m_device = m_loop;
        }
        if (!runTool(m_kind.mkfs[0], m_kind.mkfs.mid(1) << m_device, &output))
            return m_kind.mkfs[0] + QStringLiteral(" failed: ") + output;
        return QString();
    }

    // An sshd of the test's own: its port, host key, the key it lets in, nothing else.
    QString makeServer()
    {
        QDir().mkpath(m_base + QStringLiteral("/served"));
        QDir().mkpath(QStringLiteral("/run/sshd"));
        for (const char* key : {"host_key", "user_key"}) {
            if (!runTool(QStringLiteral("ssh-keygen"),
                         {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                          QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                          m_base + QLatin1Char('/') + QLatin1String(key)}))
                return QStringLiteral("ssh-keygen failed");
        }
        QFile::copy(m_base + QStringLiteral("/user_key.pub"),
                    m_base + QStringLiteral("/authorized"));
        m_port = 20000 + int(::getpid() % 20000);
        QFile config(m_base + QStringLiteral("/sshd_config"));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write sshd_config");
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\n"
                                    "AuthorizedKeysFile %2/authorized\nPasswordAuthentication no\n"
                                    "KbdInteractiveAuthentication no\nPermitRootLogin "
                                    "prohibit-password\nStrictModes no\nUsePAM no\n"
                                    "PidFile %2/sshd.pid\nSubsystem sftp internal-sftp\n")
                         .arg(m_port)
                         .arg(m_base)
                         .toUtf8());
        config.close();
        m_server.setProgram(QStandardPaths::findExecutable(
            QStringLiteral("sshd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}));
        m_server.setArguments(
            {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName()});
        m_server.setStandardOutputFile(m_base + QStringLiteral("/sshd.log"));
        m_server.setStandardErrorFile(m_base + QStringLiteral("/sshd.log"), QIODevice::Append);
        m_server.start();
        if (!m_server.waitForStarted(10000))
            return QStringLiteral("sshd did not start");
        // Started is not yet listening: an sshfs that meets a refused connection mounts for a
        // moment and exits, and the test would write to the bare folder beneath.
        QElapsedTimer clock;
        clock.start();
        while (!accepts(m_port)) {
            if (m_server.state() == QProcess::NotRunning || clock.elapsed() > 20000)
                return QStringLiteral("sshd does not listen on port %1").arg(m_port);
            QThread::msleep(10);
        }
        return QString();
    }

    static bool accepts(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    // The probe is on the drive, not in the folder beneath: the point is still mounted, its
    // driver still running, and the probe on another device than the folder holding the point.
    bool probeOnDrive(const QString& probe) const
    {
        struct stat onDrive = {}, beneath = {};
        return isMountPoint(m_point) && m_driver.state() != QProcess::NotRunning &&
               ::stat(QFile::encodeName(probe), &onDrive) == 0 &&
               ::stat(QFile::encodeName(m_base), &beneath) == 0 && onDrive.st_dev != beneath.st_dev;
    }

    QString mount()
    {
        if (m_kind.way == DriveKind::Loop) {
            QString output;
            if (!runTool(QStringLiteral("mount"),
                         {QStringLiteral("-o"), QStringLiteral("loop"), m_device, m_point},
                         &output))
                return QStringLiteral("mount -o loop failed: ") + output;
            m_mounted = true;
            return QString();
        }
        if (m_kind.way == DriveKind::Ssh) {
            m_driver.setProgram(QStringLiteral("sshfs"));
            m_driver.setArguments(
                {QStringLiteral("-f"), QStringLiteral("-o"),
                 QStringLiteral("IdentityFile=%1/user_key,StrictHostKeyChecking=no,"
                                "UserKnownHostsFile=/dev/null,port=%2")
                     .arg(m_base)
                     .arg(m_port),
                 QStringLiteral("root@127.0.0.1:%1/served").arg(m_base), m_point});
        } else {
            m_driver.setProgram(m_kind.mount[0]);
            m_driver.setArguments(m_kind.mount.mid(1) << m_device << m_point);
        }
        m_driver.setStandardOutputFile(m_log);
        m_driver.setStandardErrorFile(m_log, QIODevice::Append);
        m_driver.start();
        QElapsedTimer clock;
        clock.start();
        while (!isMountPoint(m_point) && m_driver.state() != QProcess::NotRunning &&
               clock.elapsed() < 20000)
            QThread::msleep(10);
        if (!isMountPoint(m_point))
            return m_driver.program() + QStringLiteral(" could not mount: ") + log();
        m_mounted = true;
        // Mounted is not yet answering: a file made and removed says the drive is there.
        const QString probe = m_point + QStringLiteral("/.ready");
        while (clock.elapsed() < 20000) {
            QFile file(probe);
            if (file.open(QIODevice::WriteOnly) && file.write("x") == 1) {
                file.close();
                const bool onDrive = probeOnDrive(probe);
                if (QFile::remove(probe) && onDrive)
                    return QString();
                if (!onDrive)
                    break;
            }
            QThread::msleep(50);
        }
        return m_driver.program() +
               QStringLiteral(" mounted a drive that does not answer, or let it go: ") + log();
    }

    QString log() const
    {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(2000))
                                              : QString();
    }

    bool unmount(QString& failure)
    {
        if (!m_mounted)
            return true;
        m_mounted = false;
        QString output;
        if (m_kind.way == DriveKind::Loop) {
            if (runTool(QStringLiteral("umount"), {m_point}, &output))
                return true;
            failure = QStringLiteral("umount failed: ") + output;
            runTool(QStringLiteral("umount"), {QStringLiteral("-l"), m_point});
            return false;
        }
        if (!runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), m_point}, &output)) {
            failure = QStringLiteral("fusermount -u failed: ") + output;
            runTool(QStringLiteral("fusermount"),
                    {QStringLiteral("-u"), QStringLiteral("-z"), m_point});
            m_driver.kill();
            m_driver.waitForFinished();
            return false;
        }
        if (!m_driver.waitForFinished(60000)) {
            failure = QStringLiteral("the driver did not exit after the unmount");
            return false;
        }
        if (m_kind.way == DriveKind::Fuse &&
            (m_driver.exitStatus() != QProcess::NormalExit || m_driver.exitCode() != 0)) {
            failure = QStringLiteral("the driver ended with status %1: ").arg(m_driver.exitCode()) +
                      log();
            return false;
        }
        return true;
    }

    void stopServers()
    {
        for (QProcess* process : {&m_driver, &m_server}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    const DriveKind& m_kind;
    QString m_base;
    QString m_point;
    QString m_device;
    QString m_log;
    QString m_loop;
    QString m_skip;
    QProcess m_driver;
    QProcess m_server;
    int m_port = 0;
    bool m_mounted = false;
};

} // namespace testing
