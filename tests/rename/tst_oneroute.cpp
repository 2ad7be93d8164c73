#include "base/error.h"
#include "rename/fieldmodel.h"
#include "rename/folderrun.h"
#include "rename/renamefile.h"
#include "rename/tagloading.h"
#include "support/tagfiles.h"
#include "tag/tagrecord.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;

namespace
{

// Tag text as collections have it: plain, blank, runs of one character, padded, 8-bit, with a
// newline, a separator or a leading dot, and repeated so that names collide.
QByteArray randomField(QRandomGenerator& random, int size)
{
    static const QByteArray pool[] = {"",
                                      "Nova",
                                      "Blue Sky",
                                      "      ",
                                      "AAAAAAB",
                                      "Red Sun   ",
                                      "\xC7\xE2\xE5\xE7\xE4\xE0",
                                      "A/B",
                                      "Line\nBreak",
                                      ".hidden",
                                      "x",
                                      "1999",
                                      "\xE9t\xE9",
                                      "Lumen"};
    QByteArray field = pool[random.bounded(int(std::size(pool)))];
    if (random.bounded(4) == 0)
        field += QByteArray::number(random.bounded(5));
    return field.left(size);
}

struct State {
    QStringList names;
    int failCount;
    QStringList fields;
};

State stateOf(const QString& folder, const FieldModel& model)
{
    State state{
        QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), model.FailCount(), {}};
    for (int i = 0; i < FieldModel::TextCount; ++i)
        state.fields << model.Text1(i);
    for (int i = 0; i < FieldModel::CheckCount; ++i)
        state.fields << QString::number(model.Check1(i));
    return state;
}

} // namespace

// The folder run takes the same route as renaming the files one by one: the same names, the
// same count, the same fields at the end, with or without reading ahead.
class OneRouteTest : public QObject
{
    Q_OBJECT

private slots:
    void folderRunEqualsSingleRenames()
    {
        QRandomGenerator random(20261207);
        QTemporaryDir folders[3];
        for (int i = 0; i < 300; ++i) {
            testing::TagBytes tag{randomField(random, 30), randomField(random, 30),
                                  randomField(random, 30), randomField(random, 4),
                                  randomField(random, 30), quint8(random.bounded(256))};
            if (random.bounded(20) == 0)
                tag.marker = "APE";
            QByteArray bytes = testing::mp3Bytes(tag, 64, char(i));
            if (random.bounded(40) == 0)
                bytes = "short";
            const QString name = QStringLiteral("%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
            for (const QTemporaryDir& folder : folders)
                QVERIFY(testing::writeFile(folder.filePath(name), bytes));
        }
        const bool album = true, year = false;

        State runs[2];
        for (int ahead = 0; ahead < 2; ++ahead) {
            MemoryFieldModel model;
            model.setCheck1(FieldModel::Album, album);
            model.setCheck1(FieldModel::Year, year);
            model.setFolderPath(folders[ahead].path());
            FolderRunOptions options;
            options.readAhead = ahead == 1;
            RenameFolder(model, options);
            runs[ahead] = stateOf(folders[ahead].path(), model);
        }

        // One by one, in the order of the listing, as the window's commands would.
        MemoryFieldModel model;
        model.setCheck1(FieldModel::Album, album);
        model.setCheck1(FieldModel::Year, year);
        const QString folder = folders[2].path();
        model.setFolderPath(folder);
        const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
        int failures = 0; // those RenameFile does not count itself
        for (const QString& name : names) {
            model.setTxtFile(folder + QLatin1Char('/') + name);
            bool isTag = false;
            try {
                isTag = ReadTagRecord(model.txtFile());
            } catch (const Error&) {
                ++failures;
                continue;
            }
            if (!isTag) {
                ++failures;
                continue;
            }
            LoadTagFields(model);
            try {
                RenameFile(model);
            } catch (const Error&) {
                ++failures;
            }
        }
        model.setFailCount(model.FailCount() + failures);
        model.setTxtFile(QString());
        const State single = stateOf(folder, model);

        QVERIFY(runs[0].failCount > 20 && runs[0].failCount < 280); // both kinds are there
        for (const State& run : runs) {
            QCOMPARE(run.names, single.names);
            QCOMPARE(run.failCount, single.failCount);
            QCOMPARE(run.fields, single.fields);
        }
    }
};

QTEST_GUILESS_MAIN(OneRouteTest)
#include "tst_oneroute.moc"
