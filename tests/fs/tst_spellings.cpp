#include "fs/openfolder.h"
#include "fs/spellings.h"
#include "support/syscallseam.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <sys/inotify.h>

using namespace sorvane;

namespace
{

// The events the next read of the watch gets, laid out as the kernel lays them out.
QByteArray g_events;
int g_readError = 0;

void addEvent(quint32 mask, const char* name)
{
    const std::size_t length = name ? (std::strlen(name) + 1 + 15) / 16 * 16 : 0;
    inotify_event event = {};
    event.mask = mask;
    event.len = quint32(length);
    g_events.append(reinterpret_cast<const char*>(&event), sizeof event);
    QByteArray padded(qsizetype(length), '\0');
    if (name)
        std::memcpy(padded.data(), name, std::strlen(name));
    g_events.append(padded);
}

ssize_t scriptedRead(int, void* buffer, size_t count)
{
    if (g_readError != 0) {
        errno = g_readError;
        return -1;
    }
    if (g_events.isEmpty()) {
        errno = EAGAIN;
        return -1;
    }
    const auto n = std::min<qsizetype>(qsizetype(count), g_events.size());
    std::memcpy(buffer, g_events.constData(), std::size_t(n));
    g_events.remove(0, n);
    return n;
}

} // namespace

class SpellingsTest : public QObject
{
    Q_OBJECT

private slots:
    // A name made in another letter case is seen through the kernel's own events.
    void watchSeesAnotherSpellingMade()
    {
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        NameWatch watch;
        QVERIFY(watch.start(folder.fd()));
        QCOMPARE(watch.otherSpellingMade("nova.mp3"), NameWatch::Seen::Nothing);
        QFile made(dir.filePath(QStringLiteral("NOVA.mp3")));
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.close();
        QCOMPARE(watch.otherSpellingMade("nova.mp3"), NameWatch::Seen::OtherSpelling);
        QCOMPARE(watch.otherSpellingMade("nova.mp3"), NameWatch::Seen::Nothing);
    }

    // Lost events or a failed read leave it unknown; the same spelling, or another name, is
    // nothing.
    void whatTheEventsSay_data()
    {
        QTest::addColumn<QByteArrayList>("names"); // "!" for a queue overflow
        QTest::addColumn<int>("readError");
        QTest::addColumn<int>("seen");
        const auto seen = [](NameWatch::Seen s) { return int(s); };
        QTest::newRow("the same spelling")
            << QByteArrayList{"nova.mp3"} << 0 << seen(NameWatch::Seen::Nothing);
        QTest::newRow("another name")
            << QByteArrayList{"lumen.mp3"} << 0 << seen(NameWatch::Seen::Nothing);
        QTest::newRow("another spelling among others")
            << QByteArrayList{"lumen.mp3", "Nova.MP3", "x.mp3"} << 0
            << seen(NameWatch::Seen::OtherSpelling);
        QTest::newRow("the queue overflowed")
            << QByteArrayList{"!"} << 0 << seen(NameWatch::Seen::Unsure);
        QTest::newRow("events, then lost ones")
            << QByteArrayList{"lumen.mp3", "!"} << 0 << seen(NameWatch::Seen::Unsure);
        QTest::newRow("the read failed")
            << QByteArrayList{} << EIO << seen(NameWatch::Seen::Unsure);
    }
    void whatTheEventsSay()
    {
        QFETCH(QByteArrayList, names);
        QFETCH(int, readError);
        QFETCH(int, seen);
        QTemporaryDir dir;
        const OpenFolder folder(dir.path());
        NameWatch watch;
        QVERIFY(watch.start(folder.fd()));
        const testing::SeamGuard seam;
        g_events.clear();
        g_readError = readError;
        for (const QByteArray& name : names)
            addEvent(name == "!" ? IN_Q_OVERFLOW : IN_CREATE,
                     name == "!" ? nullptr : name.constData());
        Sys.read = scriptedRead;
        QCOMPARE(int(watch.otherSpellingMade("nova.mp3")), seen);
    }
};

QTEST_GUILESS_MAIN(SpellingsTest)
#include "tst_spellings.moc"
