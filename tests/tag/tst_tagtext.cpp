#include "base/syscalls.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "tag/tagtext.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;
using testing::Frame;
using testing::text;

Q_DECLARE_METATYPE(sorvane::TagKind)

namespace
{

QByteArray audio(int size = 3000)
{
    return QByteArray(size, '\xFB');
}

QByteArray cp1251(const QString& value)
{
    QByteArray bytes;
    for (const QChar c : value)
        bytes += c.unicode() < 0x80 ? char(c.unicode()) : char(c.unicode() - 0x0410 + 0xC0);
    return bytes;
}

// A comment frame: encoding, language, an empty description and its terminator, the text.
QByteArray comment(char encoding, const QString& value)
{
    const bool wide = encoding == 1 || encoding == 2;
    return QByteArray(1, encoding) + "eng" + text(encoding, QString()).mid(1) +
           QByteArray(wide ? 2 : 1, '\0') + text(encoding, value).mid(1);
}

// The text frames of a full tag, TIT2 ... TCON, in one encoding.
QList<Frame> fullTag(char encoding, const QString& year, const QString& genre)
{
    return {{"TIT2", text(encoding, QStringLiteral("Blue Sky"))},
            {"TPE1", text(encoding, QStringLiteral("Nova"))},
            {"TALB", text(encoding, QStringLiteral("Horizons"))},
            {"TDRC", text(encoding, year)},
            {"COMM", comment(encoding, QStringLiteral("Nice"))},
            {"TCON", text(encoding, genre)}};
}

qint64 g_bytesRead = 0;

} // namespace

class TagTextTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString file(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".mp3"));
        if (!testing::writeFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void fieldsFromEachTag_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<TagKind>("kind");
        QTest::addColumn<QStringList>("fields");

        const QStringList blueSky = {"Blue Sky", "Nova", "Horizons", "2001", "Nice", "Rock"};
        QTest::newRow("2.4, UTF-8, date and numeric genre")
            << testing::id3v2Tag(4, fullTag(3, "2001-05-03", "17")) + audio() << 1252
            << TagKind::ID3v24 << blueSky;
        QTest::newRow("2.4, UTF-16BE") << testing::id3v2Tag(4, fullTag(2, "2001", "17")) + audio()
                                       << 1252 << TagKind::ID3v24 << blueSky;
        QTest::newRow("2.3, UTF-16 with BOM, (17)Rock")
            << testing::id3v2Tag(3, fullTag(1, "2001", "(17)Rock")) + audio() << 1252
            << TagKind::ID3v23 << blueSky;
        QTest::newRow("2.3, Latin-1, padding after the frames")
            << testing::id3v2Tag(3, fullTag(0, "2001", "(17)"), 512) + audio() << 1252
            << TagKind::ID3v23 << blueSky;
        QTest::newRow("2.2 frame names")
            << testing::id3v2Tag(2, {{"TT2", text(0, "Blue Sky")},
                                     {"TP1", text(0, "Nova")},
                                     {"TAL", text(0, "Horizons")},
                                     {"TYE", text(0, "2001")},
                                     {"COM", QByteArray("\0eng\0Nice", 9)},
                                     {"TCO", text(0, "(17)")}}) +
                   audio()
            << 1252 << TagKind::ID3v22 << blueSky;
        // Frames marked Latin-1 but written by a Russian Windows tagger.
        QTest::newRow("2.3, cp1251 bytes in Latin-1 frames")
            << testing::id3v2Tag(
                   3, {{"TIT2", QByteArray(1, 0) + cp1251(QStringLiteral("Группа крови"))},
                       {"TPE1", QByteArray(1, 0) + cp1251(QStringLiteral("Кино"))}}) +
                   audio()
            << 1251 << TagKind::ID3v23 << QStringList{"Группа крови", "Кино", "", "", "", ""};
        QTest::newRow("text genre as it is, 147 and up empty")
            << testing::id3v2Tag(4, {{"TIT2", text(3, "A")}, {"TCON", text(3, "Synthwave")}}) +
                   audio()
            << 1252 << TagKind::ID3v24 << QStringList{"A", "", "", "", "", "Synthwave"};
        QTest::newRow("genre 200")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "A")}, {"TCON", text(0, "(200)")}}) + audio()
            << 1252 << TagKind::ID3v23 << QStringList{"A", "", "", "", "", ""};
        QTest::newRow("APEv2 only") << audio() + testing::apeTag({{"Title", "Blue Sky"},
                                                                  {"Artist", "Nova"},
                                                                  {"Album", "Horizons"},
                                                                  {"Year", "2001"},
                                                                  {"Comment", "Nice"},
                                                                  {"Genre", "Rock"}})
                                    << 1252 << TagKind::APEv2 << blueSky;
        QTest::newRow("APEv2 before a Lyrics3v2 block")
            << audio() + testing::apeTag({{"Title", "T"}, {"Artist", "A"}}) + "LYRICSBEGIN" +
                   "IND00002" + "00" + "000021" + "LYRICS200"
            << 1252 << TagKind::APEv2 << QStringList{"T", "A", "", "", "", ""};
        // A record at the end is read, whatever else the file holds: the window has always read it.
        QTest::newRow("ID3v1 wins over ID3v2")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Other")}}) + audio() +
                   testing::tagRecord({"Blue Sky", "Nova"})
            << 1252 << TagKind::ID3v1 << QStringList{"Blue Sky", "Nova", "", "", "", "Other"};
        const QByteArray cut = "A title of exactly thirty cha"; // 29 bytes ...
        QTest::newRow("a cut ID3v1 title completed from ID3v2")
            << testing::id3v2Tag(3, {{"TIT2", text(0, cut + "racters and more")}}) + audio() +
                   testing::tagRecord({cut + "r", "Nova"})
            << 1252 << TagKind::ID3v1
            << QStringList{cut + "racters and more", "Nova", "", "", "", "Other"};
        QTest::newRow("an ID3v2 title that does not begin with the cut one")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Something else entirely, longer")}}) +
                   audio() + testing::tagRecord({cut + "r", "Nova"})
            << 1252 << TagKind::ID3v1 << QStringList{cut + "r", "Nova", "", "", "", "Other"};
        QTest::newRow("a cut that ends in a space is completed too")
            << testing::id3v2Tag(3, {{"TIT2", text(0, cut + " and more")}}) + audio() +
                   testing::tagRecord({cut + " ", "Nova"})
            << 1252 << TagKind::ID3v1
            << QStringList{cut + " and more", "Nova", "", "", "", "Other"};
        // A year is compared as it is shown: the record's "Live" is no copy of "1999". The full
        // title is what has the ID3v2 tag read.
        QTest::newRow("a year compared as shown")
            << testing::id3v2Tag(3,
                                 {{"TIT2", text(0, cut + "r")}, {"TYER", text(0, "Live 1999")}}) +
                   audio() + testing::tagRecord({cut + "r", "Nova", "", "Live"})
            << 1252 << TagKind::ID3v1 << QStringList{cut + "r", "Nova", "", "Live", "", "Other"};
        QTest::newRow("no tag: the last 128 bytes, for the user to check")
            << audio(200) << 1252 << TagKind::None
            << QStringList{QString(30, QChar(0xFB)), QString(30, QChar(0xFB)),
                           QString(30, QChar(0xFB)), QString(4, QChar(0xFB)),
                           QString(30, QChar(0xFB)), QString()};
    }

    void fieldsFromEachTag()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, codePage);
        QFETCH(TagKind, kind);
        QFETCH(QStringList, fields);
        const TagTextDecoder decoder(codePage);
        const TagText tag = ReadTagRecord(file(bytes), decoder);
        QCOMPARE(tag.kind, kind);
        for (int i = 0; i < TagField::Count; ++i)
            QCOMPARE(tag.text[i].section(QChar::Null, 0, 0), fields[i]);
    }

    // A frame's values as a field shows them: joined with ", ", empty ones left out, a lone
    // surrogate made U+FFFD and a pair kept; a year's first four digits of all, a genre's first.
    void valuesShownAsOneText_data()
    {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<char>("encoding");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("shown");
        const QChar lone(char16_t(0xD800));
        const QString pair = QString::fromUtf16(u"\U0001F600");
        QTest::newRow("one") << QByteArray("TPE1") << '\3' << QStringList{"Nova"} << "Nova";
        QTest::newRow("two, UTF-8")
            << QByteArray("TPE1") << '\3' << QStringList{"Nova", "Lune"} << "Nova, Lune";
        QTest::newRow("two, Latin-1")
            << QByteArray("TPE1") << '\0' << QStringList{"Nova", "Lune"} << "Nova, Lune";
        QTest::newRow("an empty one between")
            << QByteArray("TPE1") << '\3' << QStringList{"Nova", "", "Lune"} << "Nova, Lune";
        QTest::newRow("an empty one first")
            << QByteArray("TPE1") << '\2' << QStringList{"", "Lune"} << "Lune";
        QTest::newRow("a lone surrogate")
            << QByteArray("TPE1") << '\2' << QStringList{QStringLiteral("A") + lone}
            << QStringLiteral("A\uFFFD");
        QTest::newRow("a surrogate pair")
            << QByteArray("TPE1") << '\2' << QStringList{QStringLiteral("A") + pair}
            << QStringLiteral("A") + pair;
        QTest::newRow("a lone surrogate beside a value")
            << QByteArray("TPE1") << '\2' << QStringList{"Nova", QString(lone)}
            << QStringLiteral("Nova, \uFFFD");
        QTest::newRow("years") << QByteArray("TDRC") << '\3' << QStringList{"2001-05-03", "1999"}
                               << "2001";
        QTest::newRow("genres") << QByteArray("TCON") << '\3' << QStringList{"17", "Pop"} << "Rock";
    }
    void valuesShownAsOneText()
    {
        QFETCH(QByteArray, id);
        QFETCH(char, encoding);
        QFETCH(QStringList, values);
        QFETCH(QString, shown);
        const QList<Frame> frames = {{"TIT2", text(3, QStringLiteral("Blue Sky"))},
                                     {id, text(encoding, values.join(QChar::Null))}};
        const TagText tag =
            ReadTagRecord(file(testing::id3v2Tag(4, frames) + audio()), TagTextDecoder(1252));
        const int field = id == "TPE1"   ? TagField::Artist
                          : id == "TDRC" ? TagField::Year
                                         : TagField::Genre;
        QCOMPARE(tag.text[field], shown);
    }

    // The blank-title rule sees an ID3v2 or APEv2 title padded with NULs to 30 characters.
    void blankTestTitleIsPadded()
    {
        const TagText tag =
            ReadTagRecord(file(testing::id3v2Tag(4, {{"TPE1", text(3, "Nova")}}) + audio()),
                          TagTextDecoder(1252));
        QCOMPARE(tag.blankTestTitle, QString(30, QChar::Null));
        const TagText longer =
            ReadTagRecord(file(testing::id3v2Tag(4, {{"TIT2", text(3, "AAAAAAB")}}) + audio()),
                          TagTextDecoder(1252));
        QCOMPARE(longer.blankTestTitle, QStringLiteral("AAAAAAB") + QString(23, QChar::Null));
    }

    void readsNoMoreThanTheLimit_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("title");
        const QByteArray picture = "\0image/jpeg\0\3\0" + QByteArray(1 << 20, '\x42');
        QTest::newRow("a 1 MiB picture first")
            << testing::id3v2Tag(
                   3, {{"APIC", picture}, {"TIT2", text(0, "After")}, {"TPE1", text(0, "Art")}}) +
                   audio()
            << "After";
        QTest::newRow("2.4 with pictures around the text")
            << testing::id3v2Tag(4, {{"APIC", picture},
                                     {"TIT2", text(3, "Between")},
                                     {"APIC", picture},
                                     {"TPE1", text(3, "Art")}}) +
                   audio()
            << "Between";
        QTest::newRow("a tag just over the limit")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Small")},
                                     {"PRIV", QByteArray(int(TagReadLimit), '\x01')}}) +
                   audio()
            << "Small";
        QTest::newRow("APEv2 with a cover item first")
            << audio() + testing::apeTag({{"Cover Art (Front)", QByteArray(600000, '\x07')},
                                          {"Title", "Ape"},
                                          {"Artist", "Art"}})
            << "Ape";
        // A cut stream: no tag anywhere, only noise, 3 MiB of it.
        QTest::newRow("noise") << QByteArray(3 << 20, '\x5A') << QString(30, QChar('Z'));
    }

    // However large the file and its tags, a read takes at most 256 KiB beyond the last 128
    // bytes, and still finds the fields after a picture.
    void readsNoMoreThanTheLimit()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, title);
        const QString path = file(bytes);
        const testing::SeamGuard seam;
        g_bytesRead = 0;
        Sys.pread = [](int fd, void* buffer, size_t count, off_t offset) {
            const ssize_t got = ::pread(fd, buffer, count, offset);
            g_bytesRead += got > 0 ? got : 0;
            return got;
        };
        const TagText tag = ReadTagRecord(path, TagTextDecoder(1252));
        QCOMPARE(tag.text[TagField::Title], title);
        QVERIFY2(g_bytesRead <= TagReadLimit + 128, qPrintable(QString::number(g_bytesRead)));
    }

    void genreAndYearTexts_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("genre");
        QTest::addColumn<QString>("year");
        QTest::newRow("0") << "0"
                           << "Blues"
                           << "";
        QTest::newRow("(146)") << "(146)"
                               << "SynthPop"
                               << "";
        QTest::newRow("147") << "147"
                             << ""
                             << "";
        QTest::newRow("255") << "255"
                             << ""
                             << "";
        QTest::newRow("256") << "256"
                             << ""
                             << "";
        QTest::newRow("(9)Metal") << "(9)Metal"
                                  << "Metal"
                                  << "";
        QTest::newRow("text") << "Hip-Hop"
                              << "Hip-Hop"
                              << "";
        QTest::newRow("date") << "1999-12-31"
                              << "1999-12-31"
                              << "1999";
        QTest::newRow("three digits") << "199"
                                      << ""
                                      << "";
        QTest::newRow("digits later") << "c. 2003"
                                      << "c. 2003"
                                      << "2003";
    }

    void genreAndYearTexts()
    {
        QFETCH(QString, input);
        QFETCH(QString, genre);
        QFETCH(QString, year);
        if (input.at(0).isDigit() || input.at(0) == QLatin1Char('('))
            QCOMPARE(GenreText(input), genre);
        QCOMPARE(YearText(input), year);
    }
};

QTEST_GUILESS_MAIN(TagTextTest)
#include "tst_tagtext.moc"
