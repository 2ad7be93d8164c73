#include "base/error.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "run/fieldmodel.h"
#include "run/renamefile.h"
#include "support/tagfiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace sorvane;

namespace
{

struct Parts {
    QString artist{}, album{}, year{}, title{};
    int artistOn = 0, albumOn = 0, yearOn = 0, titleOn = 0;
};

void fill(FieldModel& model, const Parts& p)
{
    model.setText1(FieldModel::Title, p.title);
    model.setText1(FieldModel::Artist, p.artist);
    model.setText1(FieldModel::Album, p.album);
    model.setText1(FieldModel::Year, p.year);
    model.setCheck1(FieldModel::Title, p.titleOn);
    model.setCheck1(FieldModel::Artist, p.artistOn);
    model.setCheck1(FieldModel::Album, p.albumOn);
    model.setCheck1(FieldModel::Year, p.yearOn);
}

} // namespace

class RenameFileTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    MemoryFieldModel m_model;
    int m_case = 0;
    QString m_folder;

    // A fresh folder holding one file, with the model pointing at it.
    QString prepare(const Parts& parts, const QByteArray& content = "song bytes")
    {
        m_folder = m_dir.filePath(QString::number(++m_case));
        QDir().mkpath(m_folder);
        const QString source = m_folder + QStringLiteral("/old.mp3");
        testing::writeFile(source, content);
        m_model.setTxtFile(source);
        m_model.setFolderPath(m_folder);
        m_model.setFailCount(0);
        fill(m_model, parts);
        return source;
    }

    QStringList entries() const
    {
        return QDir(m_folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                        QDir::Name);
    }

    void expectRefused(const char* reasonPart)
    {
        const QStringList before = entries();
        try {
            RenameFile(m_model);
            QFAIL("the rename should have been refused");
        } catch (const Error& error) {
            QVERIFY2(error.message().contains(QString::fromUtf8(reasonPart)),
                     qPrintable(error.message()));
            QVERIFY2(error.message().contains(m_model.txtFile()), qPrintable(error.message()));
        }
        QCOMPARE(entries(), before);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void composesName_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("name");
        QTest::newRow("artist and title") << 0 << QStringLiteral("Nova_Blue Sky.mp3");
        QTest::newRow("all four") << 1 << QStringLiteral("A_B_1999_T.mp3");
        QTest::newRow("title only") << 2 << QStringLiteral("T.mp3");
        QTest::newRow("nothing") << 3 << QStringLiteral("mp3");
        QTest::newRow("one empty part") << 4 << QStringLiteral(".mp3");
        QTest::newRow("two empty parts") << 5 << QStringLiteral("_.mp3");
        QTest::newRow("spaces kept") << 6 << QStringLiteral("Nova%1_X.mp3").arg(QString(26, ' '));
        QTest::newRow("year and album only") << 7 << QStringLiteral("B_1999.mp3");
    }

    void composesName()
    {
        QFETCH(int, row);
        QFETCH(QString, name);
        const Parts rows[] = {
            {"Nova", "", "", "Blue Sky", 1, 0, 0, 1},
            {"A", "B", "1999", "T", 1, 1, 1, 1},
            {"A", "B", "1999", "T", 0, 0, 0, 1},
            {"A", "B", "1999", "T", 0, 0, 0, 0},
            {"", "B", "", "T", 1, 0, 0, 0},
            {"", "", "", "", 1, 0, 0, 1},
            {"Nova" + QString(26, ' '), "", "", "X", 1, 0, 0, 1},
            {"A", "B", "1999", "T", 0, 1, 1, 0},
        };
        MemoryFieldModel model;
        fill(model, rows[row]);
        QCOMPARE(ComposeName(model), name);
    }

    void renamesWithinTheFolder()
    {
        const QString source = prepare({"Nova", "", "", "Blue Sky", 1, 0, 0, 1});
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::Renamed);
        QCOMPARE(entries(), QStringList{QStringLiteral("Nova_Blue Sky.mp3")});
        QCOMPARE(testing::readFile(m_folder + QStringLiteral("/Nova_Blue Sky.mp3")),
                 QByteArray("song bytes"));
        QCOMPARE(m_model.FailCount(), 0);
        QCOMPARE(m_model.txtFile(), source); // the path field still shows the old path
    }

    void nothingSelectedCountsAndKeepsTheFile()
    {
        prepare({"A", "B", "1999", "T"});
        m_model.setFailCount(5);
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::NothingSelected);
        QCOMPARE(m_model.FailCount(), 6);
        m_model.setFailCount(std::numeric_limits<int>::max());
        RenameFile(m_model);
        QCOMPARE(m_model.FailCount(), std::numeric_limits<int>::max());
        QCOMPARE(entries(), QStringList{QStringLiteral("old.mp3")});
    }

    // ".mp3" from a ticked empty part, or a title ".x", would hide the file.
    void nameThatWouldHideTheFileIsRefused()
    {
        prepare({"", "", "", "T", 1, 0, 0, 0});
        expectRefused("в теге нет исполнителя"); // ".mp3": the ticked part has no text
        prepare({"", "", "", ".x", 0, 0, 0, 1});
        expectRefused("точки");
    }

    void existingTargetIsNeverReplaced()
    {
        const QString source = prepare({"Nova", "", "", "X", 1, 0, 0, 1}, "source bytes");
        const QString target = m_folder + QStringLiteral("/Nova_X.mp3");
        QVERIFY(testing::writeFile(target, "target bytes"));
        expectRefused("уже существует");
        QCOMPARE(testing::readFile(target), QByteArray("target bytes"));
        QCOMPARE(testing::readFile(source), QByteArray("source bytes"));
    }

    void separatorInATagIsRefused_data()
    {
        QTest::addColumn<QString>("artist");
        QTest::newRow("subfolder") << QStringLiteral("AC/DC");
        QTest::newRow("parent") << QStringLiteral("../..");
        QTest::newRow("absolute") << QStringLiteral("/tmp/x");
    }

    void separatorInATagIsRefused()
    {
        QFETCH(QString, artist);
        const QString source = prepare({artist, "", "", "T", 1, 0, 0, 1});
        QDir(m_folder).mkpath(QStringLiteral("AC")); // a subfolder the name could reach into
        expectRefused("разделитель");
        QCOMPARE(testing::readFile(source), QByteArray("song bytes"));
        QVERIFY(QDir(m_folder + QStringLiteral("/AC")).isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("T.mp3"))));
    }

    void samePathIsASuccessThatChangesNothing()
    {
        prepare({"", "", "", "old", 0, 0, 0, 1});
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::AlreadyNamed);
        QCOMPARE(entries(), QStringList{QStringLiteral("old.mp3")});
        // A folder ending in a separator names the same file.
        m_model.setFolderPath(m_folder + QLatin1Char('/'));
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::AlreadyNamed);
        m_model.setTxtFile(m_folder + QStringLiteral("//old.mp3"));
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::AlreadyNamed);
    }

    void folderWithTrailingSeparatorRenamesInPlace()
    {
        prepare({"", "", "", "new", 0, 0, 0, 1});
        m_model.setFolderPath(m_folder + QLatin1Char('/'));
        QCOMPARE(RenameFile(m_model).outcome, RenameOutcome::Renamed);
        QCOMPARE(entries(), QStringList{QStringLiteral("new.mp3")});
    }

    void goneSourceFails()
    {
        const QString source = prepare({"", "", "", "new", 0, 0, 0, 1});
        QVERIFY(QFile::remove(source));
        expectRefused("No such file");
        prepare({"", "", "", "old", 0, 0, 0, 1});
        QVERIFY(QFile::remove(m_model.txtFile()));
        expectRefused("файла больше нет");
    }

    void relativeSourceIsRefused()
    {
        prepare({"", "", "", "new", 0, 0, 0, 1});
        m_model.setTxtFile(QStringLiteral("Не выбран файл!!!"));
        expectRefused("не полный путь");
    }

    void missingTargetFolderFails()
    {
        const QString source = prepare({"", "", "", "new", 0, 0, 0, 1});
        m_model.setFolderPath(m_folder + QStringLiteral("/nowhere"));
        expectRefused("No such file");
        QVERIFY(QFile::exists(source));
    }

    // A move across file systems would be a copy; it is refused like any other failure.
    void neverCopiesAcrossVolumes()
    {
        QTemporaryDir other(QStringLiteral("/dev/shm/sorvane-XXXXXX"));
        struct stat here = {}, there = {};
        if (!other.isValid() || ::stat(QFile::encodeName(m_dir.path()), &here) != 0 ||
            ::stat(QFile::encodeName(other.path()), &there) != 0 || here.st_dev == there.st_dev)
            QSKIP("no second file system at hand");
        const QString source = other.filePath(QStringLiteral("away.mp3"));
        QVERIFY(testing::writeFile(source, "far bytes"));
        const QString target = m_dir.filePath(QStringLiteral("here.mp3"));
        QCOMPARE(MoveNoReplaceAt(OpenFolder(other.path()), "away.mp3", OpenFolder(m_dir.path()),
                                 "here.mp3"),
                 EXDEV);
        QCOMPARE(testing::readFile(source), QByteArray("far bytes"));
        QVERIFY(!QFile::exists(target));
    }
};

QTEST_GUILESS_MAIN(RenameFileTest)
#include "tst_renamefile.moc"
