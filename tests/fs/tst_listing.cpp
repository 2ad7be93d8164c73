#include "fs/listing.h"
#include "fs/openfolder.h"
#include "support/syscallseam.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <unistd.h>

using namespace sorvane;

namespace
{

// The most the kernel may hand over per call, in bytes: small enough that a listing takes many
// calls.
size_t g_batchBytes = 0;

ssize_t smallBatches(int dir, void* buffer, size_t length)
{
    return ::getdents64(dir, buffer, std::min(length, g_batchBytes));
}

// Empty files of these names in the folder.
bool make(const QTemporaryDir& dir, const QStringList& names)
{
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

QStringList listed(Listing& entries)
{
    QStringList names;
    while (const auto* entry = entries.next())
        names << QString::fromUtf8(entry->d_name);
    names.sort();
    return names;
}

// Records, laid out as the kernel lays them out, each claiming a length of the test's
// choosing; once they are handed over, the end, or the failure g_thenError.
QByteArray g_records;
int g_thenError = 0;

ssize_t scriptedRecords(int, void* buffer, size_t length)
{
    if (g_records.isEmpty() && g_thenError != 0) {
        errno = g_thenError;
        return -1;
    }
    const auto n = std::min<qsizetype>(qsizetype(length), g_records.size());
    std::memcpy(buffer, g_records.constData(), std::size_t(n));
    g_records.remove(0, n);
    return n;
}

QByteArray record(const char* name, unsigned short length)
{
    QByteArray bytes(qsizetype(sizeof(dirent64)), '\0');
    auto* entry = reinterpret_cast<struct dirent64*>(bytes.data());
    entry->d_ino = 1;
    entry->d_reclen = length;
    entry->d_type = DT_REG;
    std::strncpy(entry->d_name, name, sizeof entry->d_name - 1);
    // What is handed over ends with the name, whatever the record says of its length.
    bytes.truncate(qsizetype(offsetof(dirent64, d_name) + std::strlen(name) + 1));
    return bytes.leftJustified(length, '\0');
}

} // namespace

class ListingTest : public QObject
{
    Q_OBJECT

private slots:
    void everyEntryWhateverTheBatches_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("batchBytes");
        QTest::newRow("empty folder") << 0 << 32768;
        QTest::newRow("one entry a call") << 40 << 64;
        QTest::newRow("a few a call") << 40 << 200;
        QTest::newRow("all at once") << 40 << 32768;
    }

    // Each batch is read to its end before the next is asked for, "." and ".." are left out.
    void everyEntryWhateverTheBatches()
    {
        QFETCH(int, files);
        QFETCH(int, batchBytes);
        QTemporaryDir dir;
        QStringList made;
        for (int i = 0; i < files; ++i)
            made << QStringLiteral("song %1.mp3").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(make(dir, made));
        const testing::SeamGuard seam;
        g_batchBytes = size_t(batchBytes);
        Sys.getdents64 = smallBatches;
        const OpenFolder folder(dir.path());
        Listing entries(folder.fd());
        QCOMPARE(listed(entries), made);
        QVERIFY(!entries.failed());
    }

    // The folder's own descriptor is listed: a second listing, after a whole one or half of one,
    // starts from the first entry again, or a name's other spellings would go unseen.
    void secondListingStartsOver()
    {
        QTemporaryDir dir;
        const QStringList made{QStringLiteral("a.mp3"), QStringLiteral("b.mp3"),
                               QStringLiteral("c.mp3")};
        QVERIFY(make(dir, made));
        const testing::SeamGuard seam;
        g_batchBytes = 64;
        Sys.getdents64 = smallBatches;
        const OpenFolder folder(dir.path());
        {
            Listing whole(folder.fd());
            QCOMPARE(listed(whole), made);
        }
        {
            Listing half(folder.fd());
            QVERIFY(half.next() != nullptr);
        }
        Listing again(folder.fd());
        QCOMPARE(listed(again), made);
    }

    void failuresAreTold_data()
    {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<int>("seekError");
        QTest::addColumn<int>("thenError");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("goodEntries");
        const QByteArray good = record("good.mp3", 32);
        QTest::newRow("cannot start") << good << int(EBADF) << 0 << int(EBADF) << 0;
        QTest::newRow("length of nothing")
            << good + record("zero.mp3", 0) << 0 << 0 << int(EIO) << 1;
        // Longer than what was handed over: never read past the buffer.
        QTest::newRow("past the end")
            << good + record("long.mp3", 2000).left(40) << 0 << 0 << int(EIO) << 1;
        // The folder removed meanwhile: a failed listing, not a short one.
        QTest::newRow("call fails half-way") << good << 0 << int(ENOENT) << int(ENOENT) << 1;
    }

    // A listing that fails says so with the system's code, after what it read well.
    void failuresAreTold()
    {
        QFETCH(QByteArray, records);
        QFETCH(int, seekError);
        QFETCH(int, thenError);
        QFETCH(int, error);
        QFETCH(int, goodEntries);
        const testing::SeamGuard seam;
        g_records = records;
        g_thenError = thenError;
        Sys.getdents64 = scriptedRecords;
        static int s_seekError;
        s_seekError = seekError;
        Sys.lseek = [](int fd, off_t offset, int whence) -> off_t {
            if (s_seekError != 0) {
                errno = s_seekError;
                return -1;
            }
            return ::lseek(fd, offset, whence);
        };
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        Listing entries(folder.fd());
        int good = 0;
        while (const auto* entry = entries.next()) {
            QCOMPARE(entry->d_name, "good.mp3");
            ++good;
        }
        QCOMPARE(good, goodEntries);
        QVERIFY(entries.failed());
        QCOMPARE(entries.error(), error);
        QVERIFY(entries.next() == nullptr);
    }
};

QTEST_GUILESS_MAIN(ListingTest)
#include "tst_listing.moc"
