#include "base/error.h"
#include "run/fieldmodel.h"
#include "run/tagloading.h"
#include "support/tagfiles.h"
#include "tag/codepage.h"
#include "tag/tagtext.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;
using testing::V1Tag;

class TagLoadingTest : public QObject
{
    Q_OBJECT

private:
    // Loads a record as if it had just been read from a file.
    static void load(FieldModel& model, const V1Tag& tag)
    {
        TagBytes bytes;
        const QByteArray record = testing::tagRecord(tag);
        std::copy(record.begin(), record.end(), bytes.tail.begin());
        bytes.tailSize = int(record.size());
        LoadTagFields(model, ParseTagBytes(bytes, TagTextDecoder(1252)));
    }

private slots:
    void storingCutsAtTheFirstNul()
    {
        MemoryFieldModel model;
        model.setText1(0, QStringLiteral("ab") + QChar::Null + QStringLiteral("cd"));
        QCOMPARE(model.Text1(0), QStringLiteral("ab"));
        model.setTxtFile(QChar::Null + QStringLiteral("x"));
        QCOMPARE(model.txtFile(), QString());
        model.setFolderPath(QStringLiteral("/music") + QChar::Null);
        QCOMPARE(model.FolderPath(), QStringLiteral("/music"));
        model.setText1(1, QStringLiteral("  spaced  "));
        QCOMPARE(model.Text1(1), QStringLiteral("  spaced  "));
    }

    void onlyExactlyOneSelects()
    {
        MemoryFieldModel model;
        model.setCheck1(2, 1);
        QCOMPARE(model.Check1(2), 1);
        model.setCheck1(2, 2);
        QCOMPARE(model.Check1(2), 0);
    }

    void fillsFieldsFromTheRecord()
    {
        MemoryFieldModel model;
        QByteArray comment(30, 'c');
        comment[28] = '\0'; // the 29th byte ends it; the 30th never shows
        load(model, {"Blue Sky", "Nova" + QByteArray(26, ' '), "Album", "1999", comment, 42});
        QCOMPARE(model.Text1(0), QStringLiteral("Blue Sky"));
        QCOMPARE(model.Text1(1), QStringLiteral("Nova") + QString(26, QLatin1Char(' ')));
        QCOMPARE(model.Text1(2), QStringLiteral("Album"));
        QCOMPARE(model.Text1(3), QStringLiteral("1999"));
        QCOMPARE(model.Text1(4), QString(28, QLatin1Char('c')));
        QCOMPARE(model.Text1(5), QStringLiteral("Punk"));
        load(model, {"T", "A", {}, {}, {}, 200});
        QCOMPARE(model.Text1(5), QString());
    }

    void selections_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QByteArray>("artist");
        QTest::addColumn<int>("titleSelected");
        QTest::addColumn<int>("artistSelected");
        QTest::newRow("both filled") << QByteArray("Blue Sky") << QByteArray("Nova") << 1 << 1;
        QTest::newRow("all NUL title") << QByteArray() << QByteArray("Nova") << 0 << 0;
        QTest::newRow("six spaces") << QByteArray("      x") << QByteArray("Nova") << 0 << 0;
        QTest::newRow("six A then B") << QByteArray("AAAAAAB") << QByteArray("Nova") << 0 << 0;
        QTest::newRow("five A then B") << QByteArray("AAAAAB") << QByteArray("Nova") << 1 << 1;
        QTest::newRow("case differs") << QByteArray("aaaaaA") << QByteArray("Nova") << 1 << 1;
        QTest::newRow("one letter") << QByteArray("A") << QByteArray() << 1 << 0;
        QTest::newRow("artist starts NUL")
            << QByteArray("Title") << QByteArray("\0Hidden", 7) << 1 << 0;
        QTest::newRow("title starts NUL")
            << QByteArray("\0Hidden", 7) << QByteArray("Nova") << 0 << 1;
    }

    void selections()
    {
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, artist);
        QFETCH(int, titleSelected);
        QFETCH(int, artistSelected);
        MemoryFieldModel model;
        for (int i = 0; i < FieldModel::CheckCount; ++i)
            model.setCheck1(i, 1 - (i % 2)); // a state the load must overwrite or keep
        load(model, {title, artist});
        QCOMPARE(model.Check1(0), titleSelected);
        QCOMPARE(model.Check1(1), artistSelected);
        QCOMPARE(model.Check1(2), 1); // album and year are the user's
        QCOMPARE(model.Check1(3), 0);
    }

    void failedReadLoadsNothing()
    {
        QTemporaryDir dir;
        MemoryFieldModel model;
        const QString good = dir.filePath(QStringLiteral("good.mp3"));
        QVERIFY(testing::writeFile(good, testing::mp3Bytes({"Title", "Artist", "Album"})));
        model.setTxtFile(good);
        ReadTag(model);
        const QString bad = dir.filePath(QStringLiteral("bad.mp3"));
        QVERIFY(testing::writeFile(bad, QByteArray(100, 'z')));
        model.setTxtFile(bad);
        QVERIFY_THROWS_EXCEPTION(Error, ReadTag(model));
        QCOMPARE(model.Text1(0), QStringLiteral("Title"));
        QCOMPARE(model.Text1(2), QStringLiteral("Album"));
        QCOMPARE(model.Check1(0), 1);
        QCOMPARE(model.Check1(1), 1);
    }
};

QTEST_GUILESS_MAIN(TagLoadingTest)
#include "tst_tagloading.moc"
