#include "names/renamefailures.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/mounts.h"
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

using testing::DriveKind;
using testing::DriveKinds;
using testing::Mount;

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
        for (int i = 0; i < int(std::size(DriveKinds)); ++i)
            QTest::newRow(DriveKinds[i].name) << i;
    }

    void folderRunOnEachFileSystem()
    {
        QFETCH(int, kind);
        const DriveKind& fs = DriveKinds[kind];
        QTemporaryDir base;
        QVERIFY(base.isValid());
        Mount mount(fs, base.path());
        SORVANE_NEED_MOUNT(mount);
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
            // unlink: both names stay, and the file counts as named; where inode numbers are made
            // up, it looks like another file, and is not renamed either.
            if (!fs.realInodes)
                ++notRenamed;
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
        for (int i = 0; i < int(std::size(DriveKinds)); ++i) {
            if (DriveKinds[i].caseInsensitive)
                QTest::newRow(DriveKinds[i].name) << i;
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
        const DriveKind& fs = DriveKinds[kind];
        QTemporaryDir base;
        QVERIFY(base.isValid());
        Mount mount(fs, base.path());
        SORVANE_NEED_MOUNT(mount);
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
