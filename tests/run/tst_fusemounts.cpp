#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "names/renamefailures.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>

#include <unistd.h>

using namespace sorvane;
using testing::V1Tag;

namespace
{

struct Kind {
    const char* name;
    QStringList mkfs;  // the program and its options; the device follows
    QStringList mount; // the FUSE driver and its options to stay in the foreground; device and
                       // mount point follow
    QString check;     // run with -n on the device once unmounted
    bool caseInsensitive;
    bool hardLinks;
    bool unicodeNames;    // fusefat refuses every name that is not ASCII
    bool needsLoopDevice; // exfat-fuse takes block devices only
};

const Kind Kinds[] = {
    {"FAT32 (fusefat)",
     {"mkfs.vfat", "-F", "32"},
     {"fusefat", "-f", "-o", "rw+"},
     "fsck.vfat",
     true,
     false,
     false,
     false},
    {"NTFS (ntfs-3g)",
     {"mkntfs", "-F", "-q", "-f"},
     {"ntfs-3g", "-o", "no_detach"},
     "ntfsfix",
     false,
     true,
     true,
     false},
    // -d is the only way exfat-fuse stays in the foreground; its debug output goes to a file.
    {"exFAT (exfat-fuse)",
     {"mkfs.exfat"},
     {"mount.exfat-fuse", "-d"},
     "fsck.exfat",
     true,
     false,
     true,
     true},
};

bool run(const QString& program, const QStringList& arguments, QString* output = nullptr)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

bool isMountPoint(const QString& point)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    return table.open(QIODevice::ReadOnly) &&
           table.readAll().contains(' ' + QFile::encodeName(point) + ' ');
}

// A fresh image of the kind, mounted in the test's temporary folder by its driver running as a
// child process in the foreground; unmounted (and its loop device let go) on every way out of
// the test. Only once the driver has exited has it written its last blocks to the image.
class Mount
{
public:
    Mount(const Kind& kind, const QString& base)
        : m_point(base + QStringLiteral("/mnt")), m_check(kind.check),
          m_device(base + QStringLiteral("/fs.img")), m_log(base + QStringLiteral("/driver.log"))
    {
        m_skip = whyNot(kind);
        if (!m_skip.isEmpty())
            return;
        QDir().mkpath(m_point);
        const QString image = m_device;
        QString output;
        if (!run(QStringLiteral("truncate"),
                 {QStringLiteral("-s"), QStringLiteral("64M"), image})) {
            m_skip = QStringLiteral("cannot make an image");
            return;
        }
        if (kind.needsLoopDevice) {
            if (!run(QStringLiteral("losetup"),
                     {QStringLiteral("-f"), QStringLiteral("--show"), image}, &m_loop)) {
                m_skip = QStringLiteral("no loop device to put the image on");
                return;
            }
            m_device = m_loop;
        }
        if (!run(kind.mkfs[0], kind.mkfs.mid(1) << m_device, &output)) {
            m_skip = kind.mkfs[0] + QStringLiteral(" failed: ") + output;
            return;
        }
        m_driver.setProgram(kind.mount[0]);
        m_driver.setArguments(kind.mount.mid(1) << m_device << m_point);
        m_driver.setStandardOutputFile(m_log);
        m_driver.setStandardErrorFile(m_log, QIODevice::Append);
        m_driver.start();
        QElapsedTimer clock;
        clock.start();
        while (!isMountPoint(m_point) && m_driver.state() != QProcess::NotRunning &&
               clock.elapsed() < 20000)
            QThread::msleep(10);
        if (isMountPoint(m_point))
            m_mounted = true;
        else
            m_skip = kind.mount[0] + QStringLiteral(" could not mount the image: ") + log();
    }

    ~Mount()
    {
        QString ignored;
        unmount(ignored);
        if (m_driver.state() != QProcess::NotRunning) {
            m_driver.kill();
            m_driver.waitForFinished();
        }
        if (!m_loop.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
    }

    // Unmounted, the driver gone, the file system checker finds nothing wrong with what the
    // driver wrote. Empty, or which step failed and what the tool said.
    QString unmountAndCheck()
    {
        QString failure;
        if (!unmount(failure))
            return failure;
        QString output;
        if (!run(m_check, {QStringLiteral("-n"), m_device}, &output))
            return m_check + QStringLiteral(" -n found faults:\n") + output;
        return QString();
    }

    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    const QString& skipReason() const { return m_skip; }
    const QString& point() const { return m_point; }

private:
    static QString whyNot(const Kind& kind)
    {
        if (::geteuid() != 0)
            return QStringLiteral("mounting needs root");
        if (!QFile::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("no /dev/fuse");
        const QStringList sbin = {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
        for (const QString& tool : {kind.mkfs[0], kind.mount[0], kind.check}) {
            if (QStandardPaths::findExecutable(tool).isEmpty() &&
                QStandardPaths::findExecutable(tool, sbin).isEmpty())
                return tool + QStringLiteral(" is not installed (scripts/test installs it)");
        }
        return QString();
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
        if (!run(QStringLiteral("fusermount"), {QStringLiteral("-u"), m_point}, &output)) {
            failure = QStringLiteral("fusermount -u failed: ") + output;
            run(QStringLiteral("fusermount"),
                {QStringLiteral("-u"), QStringLiteral("-z"), m_point});
            return false;
        }
        if (!m_driver.waitForFinished(60000)) {
            failure = QStringLiteral("the driver did not exit after the unmount");
            return false;
        }
        if (m_driver.exitStatus() != QProcess::NormalExit || m_driver.exitCode() != 0) {
            failure = QStringLiteral("the driver ended with status %1: ").arg(m_driver.exitCode()) +
                      log();
            return false;
        }
        return true;
    }

    QString m_point;
    QString m_check;
    QString m_device;
    QString m_log;
    QString m_loop;
    QString m_skip;
    QProcess m_driver;
    bool m_mounted = false;
};

// Every file on the drive with its bytes.
QMap<QString, QByteArray> contents(const QDir& folder)
{
    QMap<QString, QByteArray> found;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
        found.insert(name, testing::readFile(folder.filePath(name)));
    return found;
}

QByteArray cp1251(const char16_t* text)
{
    QByteArray bytes;
    for (const char16_t* c = text; *c; ++c)
        bytes.append(static_cast<char>(*c - 0x0410 + 0xC0));
    return bytes;
}

} // namespace

class FuseMountsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Tags written on a Russian Windows; the locale picks the page they decode with.
        qputenv("LC_ALL", "ru_RU.UTF-8");
    }

    void folderRunOnEachFileSystem_data()
    {
        QTest::addColumn<int>("kind");
        for (int i = 0; i < int(std::size(Kinds)); ++i)
            QTest::newRow(Kinds[i].name) << i;
    }

    void folderRunOnEachFileSystem()
    {
        QFETCH(int, kind);
        const Kind& fs = Kinds[kind];
        QTemporaryDir base;
        QVERIFY(base.isValid());
        Mount mount(fs, base.path());
        if (!mount.skipReason().isEmpty())
            QSKIP(qPrintable(mount.skipReason()));
        const QDir music(mount.point());
        const auto add = [&](const char16_t* name, const QByteArray& bytes) {
            QVERIFY(testing::writeFile(music.filePath(QString::fromUtf16(name)), bytes));
        };
        add(u"01.mp3", testing::mp3Bytes({"Blue Sky", "Nova"}, 100, '1'));
        add(u"02.mp3", testing::mp3Bytes({cp1251(u"Звезда"), cp1251(u"Кино")}, 100, '2'));
        add(u"nova_new day.mp3", testing::mp3Bytes({"New Day", "Nova"}, 100, '3'));
        // Its name differs from the next file's new name only in case; it has no tag itself.
        add(u"lumen_other.mp3", QByteArray(300, 'u'));
        add(u"03.mp3", testing::mp3Bytes({"Other", "Lumen"}, 100, '4'));
        QMap<QString, QByteArray> expected = {
            {QStringLiteral("Nova_Blue Sky.mp3"), testing::readFile(music.filePath("01.mp3"))},
            {fs.unicodeNames ? QStringLiteral("Кино_Звезда.mp3") : QStringLiteral("02.mp3"),
             testing::readFile(music.filePath("02.mp3"))},
            {QStringLiteral("Nova_New Day.mp3"),
             testing::readFile(music.filePath("nova_new day.mp3"))},
            {QStringLiteral("lumen_other.mp3"), QByteArray(300, 'u')},
        };
        int notRenamed = fs.unicodeNames ? 1 : 2; // lumen_other.mp3: no tag
        if (fs.caseInsensitive) {
            expected.insert(QStringLiteral("03.mp3"), testing::readFile(music.filePath("03.mp3")));
            ++notRenamed;
        } else {
            expected.insert(QStringLiteral("Lumen_Other.mp3"),
                            testing::readFile(music.filePath("03.mp3")));
        }
        if (fs.hardLinks) {
            // One file under two names, with no journal saying a move was killed between link and
            // unlink: both names stay, and the file counts as named.
            add(u"04.mp3", testing::mp3Bytes({"Twice", "Linked"}, 100, '5'));
            QVERIFY(::link(QFile::encodeName(music.filePath("04.mp3")),
                           QFile::encodeName(music.filePath("Linked_Twice.mp3"))) == 0);
            expected.insert(QStringLiteral("04.mp3"), testing::readFile(music.filePath("04.mp3")));
            expected.insert(QStringLiteral("Linked_Twice.mp3"),
                            testing::readFile(music.filePath("04.mp3")));
        }

        MemoryFieldModel model;
        model.setFolderPath(mount.point());
        const FolderReport report = RenameFolder(model);
        QStringList reasons;
        for (const NotRenamed& file : report.notRenamed)
            reasons << report.tree.displayPath(file.file) + QStringLiteral(": ") +
                           Reason(file.outcome);
        QVERIFY2(model.FailCount() == notRenamed, qPrintable(reasons.join(QLatin1Char('\n'))));

        QCOMPARE(contents(music), expected);
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void otherSpellingSavedBeforeTheCheck_data()
    {
        QTest::addColumn<int>("kind");
        for (int i = 0; i < int(std::size(Kinds)); ++i) {
            if (Kinds[i].caseInsensitive)
                QTest::newRow(Kinds[i].name) << i;
        }
    }

    // Another program saves a file atomically (a temporary file renamed) onto another letter case
    // of each name Sorvane has just reserved, right before Sorvane checks the reservation. The
    // driver replaces the reservation with that file, while a lookup by Sorvane's spelling still
    // shows the empty reservation. Every one of those files must stay, and every song keep its
    // name and bytes, each counted as not renamed.
    void otherSpellingSavedBeforeTheCheck()
    {
        QFETCH(int, kind);
        const Kind& fs = Kinds[kind];
        QTemporaryDir base;
        QVERIFY(base.isValid());
        Mount mount(fs, base.path());
        if (!mount.skipReason().isEmpty())
            QSKIP(qPrintable(mount.skipReason()));
        const QDir music(mount.point());
        constexpr int Files = 5;
        QMap<QString, QByteArray> expected;
        for (int i = 0; i < Files; ++i) {
            const QString name = QStringLiteral("%1.mp3").arg(i);
            const QByteArray bytes =
                testing::mp3Bytes({"Song " + QByteArray::number(i), "Nova"}, 100, char('a' + i));
            QVERIFY(testing::writeFile(music.filePath(name), bytes));
            expected.insert(name, bytes);
            expected.insert(QStringLiteral("NOVA_SONG %1.MP3").arg(i), "theirs " + name.toUtf8());
        }
        const testing::SeamGuard seam;
        static QSet<QByteArray> saved;
        saved.clear();
        Sys.fstatat = [](int dir, const char* name, struct stat* info, int flags) {
            const QByteArray ours(name);
            if (ours.startsWith("Nova_Song ") && !saved.contains(ours)) {
                saved.insert(ours);
                const int fd =
                    ::openat(dir, "theirs.tmp", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                const QByteArray bytes = "theirs " + ours.mid(10, 1) + ".mp3";
                [[maybe_unused]] const auto written =
                    ::write(fd, bytes.constData(), std::size_t(bytes.size()));
                ::close(fd);
                ::renameat(dir, "theirs.tmp", dir, ours.toUpper().constData());
            }
            return ::fstatat(dir, name, info, flags);
        };
        MemoryFieldModel model;
        model.setFolderPath(mount.point());
        const FolderReport report = RenameFolder(model);
        Sys = RealSystemCalls();
        QCOMPARE(model.FailCount(), Files);
        for (const NotRenamed& file : report.notRenamed)
            QCOMPARE(file.outcome.failure, &RenameFailure::TargetExists);
        QCOMPARE(contents(music), expected);
        const QString fault = mount.unmountAndCheck();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QTEST_GUILESS_MAIN(FuseMountsTest)
#include "tst_fusemounts.moc"
