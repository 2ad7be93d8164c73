#include "rename/fieldmodel.h"
#include "rename/folderrun.h"
#include "support/tagfiles.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace sorvane;
using testing::TagBytes;

namespace
{

struct Kind {
    const char* name;
    QStringList mkfs;  // the program and its options; the device follows
    QStringList mount; // the FUSE driver and its options; device and mount point follow
    QString check;     // run with -n on the device once unmounted
    bool caseInsensitive;
    bool hardLinks;
    bool unicodeNames;    // fusefat refuses every name that is not ASCII
    bool needsLoopDevice; // exfat-fuse takes block devices only
};

const Kind Kinds[] = {
    {"FAT32 (fusefat)",
     {"mkfs.vfat", "-F", "32"},
     {"fusefat", "-o", "rw+"},
     "fsck.vfat",
     true,
     false,
     false,
     false},
    {"NTFS (ntfs-3g)",
     {"mkntfs", "-F", "-q", "-f"},
     {"ntfs-3g"},
     "ntfsfix",
     false,
     true,
     true,
     false},
    {"exFAT (exfat-fuse)",
     {"mkfs.exfat"},
     {"mount.exfat-fuse"},
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
    process.start();
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return ok;
}

// A fresh image of the kind, mounted in the test's temporary folder; unmounted (and its loop
// device let go) on every way out of the test.
class Mount
{
public:
    Mount(const Kind& kind, const QString& base)
        : m_point(base + QStringLiteral("/mnt")), m_check(kind.check),
          m_device(base + QStringLiteral("/fs.img"))
    {
        m_skip = whyNot(kind);
        if (!m_skip.isEmpty())
            return;
        QDir().mkpath(m_point);
        const QString image = m_device;
        if (!run(QStringLiteral("truncate"),
                 {QStringLiteral("-s"), QStringLiteral("64M"), image})) {
            m_skip = QStringLiteral("cannot make an image");
        } else if (kind.needsLoopDevice &&
                   !run(QStringLiteral("losetup"),
                        {QStringLiteral("-f"), QStringLiteral("--show"), image}, &m_loop)) {
            m_skip = QStringLiteral("no loop device to put the image on");
        } else {
            if (kind.needsLoopDevice)
                m_device = m_loop;
            if (!run(kind.mkfs[0], kind.mkfs.mid(1) << m_device))
                m_skip = kind.mkfs[0] + QStringLiteral(" failed");
            else if (!run(kind.mount[0], kind.mount.mid(1) << m_device << m_point))
                m_skip = kind.mount[0] + QStringLiteral(" could not mount the image");
            else
                m_mounted = true;
        }
    }

    ~Mount()
    {
        unmount();
        if (!m_loop.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
    }

    // Unmounted, the file system checker finds nothing wrong with what the driver wrote.
    bool unmountAndCheck() { return unmount() && run(m_check, {QStringLiteral("-n"), m_device}); }

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

    bool unmount()
    {
        if (!m_mounted)
            return true;
        m_mounted = false;
        if (run(QStringLiteral("fusermount"), {QStringLiteral("-u"), m_point}))
            return true;
        run(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), m_point});
        return false;
    }

    QString m_point;
    QString m_check;
    QString m_device;
    QString m_loop;
    QString m_skip;
    bool m_mounted = false;
};

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
            QSKIP(qPrintable(
                QStringLiteral("%1: %2").arg(QLatin1String(fs.name), mount.skipReason())));
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
            // A move killed between link and unlink: one file under two names.
            add(u"04.mp3", testing::mp3Bytes({"Twice", "Linked"}, 100, '5'));
            QVERIFY(::link(QFile::encodeName(music.filePath("04.mp3")),
                           QFile::encodeName(music.filePath("Linked_Twice.mp3"))) == 0);
            expected.insert(QStringLiteral("Linked_Twice.mp3"),
                            testing::readFile(music.filePath("04.mp3")));
        }

        MemoryFieldModel model;
        model.setFolderPath(mount.point());
        const FolderReport report = RenameFolder(model);
        QStringList reasons;
        for (const NotRenamed& file : report.notRenamed)
            reasons << report.files.displayName(file.file) + QStringLiteral(": ") +
                           Reason(file.outcome);
        QVERIFY2(model.FailCount() == notRenamed, qPrintable(reasons.join(QLatin1Char('\n'))));

        QMap<QString, QByteArray> found;
        for (const QString& name : music.entryList(QDir::Files | QDir::Hidden))
            found.insert(name, testing::readFile(music.filePath(name)));
        QCOMPARE(found, expected);
        QVERIFY(mount.unmountAndCheck());
    }
};

QTEST_GUILESS_MAIN(FuseMountsTest)
#include "tst_fusemounts.moc"
