#include "base/error.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "run/renamefile.h"
#include "run/tagloading.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "tag/tagtext.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

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

// Round trips to a share, each of its own length up to 400 µs: readers are added, and their reads
// end out of order.
void randomDelay()
{
    thread_local std::minstd_rand delays(
        unsigned(std::hash<std::thread::id>()(std::this_thread::get_id())));
    QThread::usleep(delays() % 400);
}

} // namespace

// The folder run takes the same route as renaming the files one by one: the same names, the
// same count, the same fields at the end, with or without reading ahead, and reading ahead
// with several reads in flight past the read-ahead's window.
class OneRouteTest : public QObject
{
    Q_OBJECT

private slots:
    void folderRunEqualsSingleRenames()
    {
        QRandomGenerator random(20261207);
        QTemporaryDir folders[4];
        for (int i = 0; i < 700; ++i) {
            testing::V1Tag tag{randomField(random, 30), randomField(random, 30),
                               randomField(random, 30), randomField(random, 4),
                               randomField(random, 30), quint8(random.bounded(256))};
            if (random.bounded(20) == 0)
                tag.marker = "APE";
            QByteArray bytes = testing::mp3Bytes(tag, 64, char(i));
            // Downloads without ID3v1: the same text in an ID3v2.3 (8-bit) or 2.4 (UTF-8) tag, or
            // in an APEv2 tag.
            const int kind = random.bounded(10);
            const QString decoded[] = {
                QString::fromLatin1(tag.title), QString::fromLatin1(tag.artist),
                QString::fromLatin1(tag.album), QString::fromLatin1(tag.year)};
            if (kind < 2) {
                const char encoding = kind == 0 ? 0 : 3;
                bytes =
                    testing::id3v2Tag(3 + kind, {{"TIT2", testing::text(encoding, decoded[0])},
                                                 {"TPE1", testing::text(encoding, decoded[1])},
                                                 {"TALB", testing::text(encoding, decoded[2])},
                                                 {"TYER", testing::text(encoding, decoded[3])}}) +
                    QByteArray(64, char(i));
            } else if (kind == 2) {
                bytes = QByteArray(64, char(i)) + testing::apeTag({{"Title", decoded[0].toUtf8()},
                                                                   {"Artist", decoded[1].toUtf8()},
                                                                   {"Album", decoded[2].toUtf8()}});
            }
            if (random.bounded(40) == 0)
                bytes = "short";
            const QString name = QStringLiteral("%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
            for (const QTemporaryDir& folder : folders)
                QVERIFY(testing::writeFile(folder.filePath(name), bytes));
        }
        const bool album = true, year = false;

        State runs[3];
        for (int run = 0; run < 3; ++run) {
            const testing::SeamGuard seam;
            if (run == 2) {
                Sys.openat = [](int dir, const char* name, int flags, mode_t mode) {
                    randomDelay();
                    return ::openat(dir, name, flags, mode);
                };
                Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) {
                    randomDelay();
                    return ::pread(fd, buffer, count, offset);
                };
            }
            MemoryFieldModel model;
            model.setCheck1(FieldModel::Album, album);
            model.setCheck1(FieldModel::Year, year);
            model.setFolderPath(folders[run].path());
            FolderRunOptions options;
            options.readAhead = run > 0;
            const FolderReport report = RenameFolder(model, options);
            if (run == 2)
                QVERIFY2(report.readers > 1, qPrintable(QString::number(report.readers)));
            runs[run] = stateOf(folders[run].path(), model);
        }

        // One by one, in the order of the listing, as the window's commands would.
        MemoryFieldModel model;
        model.setCheck1(FieldModel::Album, album);
        model.setCheck1(FieldModel::Year, year);
        const QString folder = folders[3].path();
        model.setFolderPath(folder);
        const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
        int failures = 0; // those RenameFile does not count itself
        for (const QString& name : names) {
            model.setTxtFile(folder + QLatin1Char('/') + name);
            TagText tag;
            try {
                tag = ReadTagRecord(model.txtFile());
            } catch (const Error&) {
                ++failures;
                continue;
            }
            if (tag.kind == TagKind::None) {
                ++failures;
                continue;
            }
            LoadTagFields(model, tag);
            try {
                RenameFile(model);
            } catch (const Error&) {
                ++failures;
            }
        }
        model.setFailCount(model.FailCount() + failures);
        model.setTxtFile(QString());
        const State single = stateOf(folder, model);

        QVERIFY(runs[0].failCount > 50 && runs[0].failCount < 650); // both kinds are there
        for (const State& run : runs) {
            QCOMPARE(run.names, single.names);
            QCOMPARE(run.failCount, single.failCount);
            QCOMPARE(run.fields, single.fields);
        }
    }
};

QTEST_GUILESS_MAIN(OneRouteTest)
#include "tst_oneroute.moc"
