#include "rename/fieldmodel.h"
#include "rename/folderrun.h"
#include "support/tagfiles.h"
#include "tag/error.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;
using testing::TagBytes;

class FolderRunTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    MemoryFieldModel m_model;

    QString folder() const { return m_dir->path(); }

    void add(const QString& name, const TagBytes& tag)
    {
        QVERIFY(testing::writeFile(m_dir->filePath(name), testing::mp3Bytes(tag)));
    }

    QStringList names() const
    {
        return QDir(folder()).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    int run()
    {
        m_model.setFolderPath(folder());
        return RenameFolder(m_model);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_model.setCheck1(FieldModel::Album, 0);
        m_model.setCheck1(FieldModel::Year, 0);
        m_model.setFailCount(7);
    }

    void emptyFolderIsDone()
    {
        QCOMPARE(run(), 0);
        QCOMPARE(m_model.FailCount(), 0);
    }

    void renamesEachFileFromItsOwnTag()
    {
        add(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        add(QStringLiteral("B.MP3"), {"Red Sun", "Lumen"});
        QCOMPARE(run(), 0);
        QCOMPARE(names(), (QStringList{QStringLiteral("Lumen_Red Sun.mp3"),
                                       QStringLiteral("Nova_Blue Sky.mp3")}));
        QCOMPARE(m_model.txtFile(), QString());
        // A second run finds every file already named: nothing fails.
        QCOMPARE(run(), 0);
        QCOMPARE(names().size(), 2);
    }

    void blankTitlesCount()
    {
        add(QStringLiteral("1.mp3"), {"", "Nova"});
        add(QStringLiteral("2.mp3"), {"======", "Nova"});
        QCOMPARE(run(), 2);
        QCOMPARE(names(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("2.mp3")}));
    }

    void albumAndYearSelectionsApplyToEveryFile()
    {
        m_model.setCheck1(FieldModel::Year, 1);
        add(QStringLiteral("1.mp3"), {"One", "A", "Alb", "2001"});
        add(QStringLiteral("2.mp3"), {"Two", "B", "Alb", "2002"});
        QCOMPARE(run(), 0);
        QCOMPARE(names(),
                 (QStringList{QStringLiteral("A_2001_One.mp3"), QStringLiteral("B_2002_Two.mp3")}));
        QCOMPARE(m_model.Check1(FieldModel::Year), 1);
    }

    // The short file fails; the file after it must get its own name, not the one before's.
    void failuresCountAndTheRunGoesOn()
    {
        add(QStringLiteral("1.mp3"), {"First", "A"});
        QVERIFY(testing::writeFile(m_dir->filePath(QStringLiteral("2.mp3")), "short"));
        add(QStringLiteral("3.mp3"), {"Third", "C"});
        add(QStringLiteral("4.mp3"), {"Taken", "D"});
        add(QStringLiteral("D_Taken.mp3"), {"Other", "E"}); // listed after 4.mp3, so still there
        QCOMPARE(run(), 2);
        QCOMPARE(names(), (QStringList{QStringLiteral("2.mp3"), QStringLiteral("4.mp3"),
                                       QStringLiteral("A_First.mp3"), QStringLiteral("C_Third.mp3"),
                                       QStringLiteral("E_Other.mp3")}));
    }

    void listingKeepsOnlyPlainMp3Files()
    {
        add(QStringLiteral("b.mp3"), {});
        add(QStringLiteral("A.Mp3"), {});
        add(QStringLiteral(".hidden.mp3"), {});
        add(QStringLiteral("notes.txt"), {});
        add(QStringLiteral("song.mp3.bak"), {});
        QVERIFY(QDir(folder()).mkdir(QStringLiteral("folder.mp3")));
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("b.mp3")),
                            m_dir->filePath(QStringLiteral("link.mp3"))));
        QVERIFY(
            QFile::link(QStringLiteral("/nowhere"), m_dir->filePath(QStringLiteral("gone.mp3"))));
        QStringList listed;
        for (const ListedFile& file : ListMp3Files(folder()))
            listed << file.name;
        QCOMPARE(listed, (QStringList{QStringLiteral("A.Mp3"), QStringLiteral("b.mp3")}));
    }

    void failedListingTouchesNothing()
    {
        m_model.setTxtFile(QStringLiteral("/earlier/file.mp3"));
        m_model.setFolderPath(m_dir->filePath(QStringLiteral("vanished")));
        try {
            RenameFolder(m_model);
            QFAIL("listing a missing folder should fail");
        } catch (const Error& error) {
            QVERIFY2(error.message().contains(QStringLiteral("vanished")),
                     qPrintable(error.message()));
        }
        QCOMPARE(m_model.FailCount(), 7);
        QCOMPARE(m_model.txtFile(), QStringLiteral("/earlier/file.mp3"));
    }
};

QTEST_GUILESS_MAIN(FolderRunTest)
#include "tst_folderrun.moc"
