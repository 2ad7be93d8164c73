#include "support/tagfiles.h"
#include "tag/tagtext.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;
using testing::text;

namespace
{

QByteArray audio()
{
    return QByteArray(3000, '\xFB');
}

// What kid3-cli left in ID3v1 when it copied UTF-16 text there: the low and high bytes of each
// character, up to the NUL of the first space.
QByteArray utf16Bytes(const QString& value)
{
    QByteArray bytes;
    for (const QChar c : value)
        bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
    return bytes;
}

QByteArray comment(const QString& value)
{
    return QByteArray(1, 3) + "eng" + QByteArray(1, '\0') + value.toUtf8();
}

QString shown(const QString& field)
{
    return field.section(QChar::Null, 0, 0);
}

} // namespace

// An ID3v1 field stands unless it is a tagger's lossy copy of the other tag's text; then the
// other tag's text is the field.
class LossyCopyTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

private slots:
    void betterOfTwoTags_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("locale");
        QTest::addColumn<QStringList>("fields"); // title, artist, album, comment

        const QString leningrad = QStringLiteral("Ленинград");
        QTest::newRow("mutagen's ? for each Cyrillic letter, Russian locale")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(3, "Mixtape 3 Song 1")}, {"TPE1", text(3, leningrad)}}) +
                   audio() + testing::tagRecord({"Mixtape 3 Song 1", "?????????"})
            << 1251 << QStringList{"Mixtape 3 Song 1", leningrad, "", ""};
        QTest::newRow("the same under a Western locale")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(3, "Mixtape 3 Song 1")}, {"TPE1", text(3, leningrad)}}) +
                   audio() + testing::tagRecord({"Mixtape 3 Song 1", "?????????"})
            << 1252 << QStringList{"Mixtape 3 Song 1", leningrad, "", ""};
        const QString title = QStringLiteral("Песня 3 и последняя часть 4");
        QTest::newRow("mutagen's copy of a Latin-1 name and a Cyrillic title")
            << testing::id3v2Tag(4, {{"TIT2", text(3, title)},
                                     {"TPE1", text(3, QStringLiteral("Ólafur Arnalds"))}}) +
                   audio() +
                   testing::tagRecord({"????? 3 ? ????????? ????? 4", "\xD3lafur Arnalds"})
            << 1251 << QStringList{title, QStringLiteral("Ólafur Arnalds"), "", ""};
        const QString partisans = QStringLiteral("Партизаны полной луны");
        QTest::newRow("kid3's control bytes")
            << testing::id3v2Tag(3, {{"TIT2", text(1, partisans)}, {"TPE1", text(1, "Аукцыон")}}) +
                   audio() +
                   testing::tagRecord({utf16Bytes(partisans).left(30), utf16Bytes("Аукцыон")})
            << 1251 << QStringList{partisans, QStringLiteral("Аукцыон"), "", ""};
        const QString zombies =
            QStringLiteral("They Are Night Zombies!! They Are Neighbors!! They Have Come Back "
                           "from the Dead!! Ahhhh!");
        QTest::newRow("a 30-byte cut that ends in a space")
            << testing::id3v2Tag(
                   3, {{"TIT2", text(0, zombies)}, {"TPE1", text(0, "Sufjan Stevens")}}) +
                   audio() + testing::tagRecord({zombies.left(30).toLatin1(), "Sufjan Stevens"})
            << 1252 << QStringList{zombies, "Sufjan Stevens", "", ""};
        QTest::newRow("a plainly different ID3v1 field wins")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Blue Sky (Remastered 2011 Edition)")},
                                     {"TPE1", text(0, "Somebody else entirely")}}) +
                   audio() + testing::tagRecord({"Blue Sky, the 1999 single mix", "Nova"})
            << 1252 << QStringList{"Blue Sky, the 1999 single mix", "Nova", "", ""};
        QTest::newRow("a different text with a ? of its own wins too")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Where")}}) + audio() +
                   testing::tagRecord({"Who Are You?", "The Who"})
            << 1252 << QStringList{"Who Are You?", "The Who", "", ""};
        QTest::newRow("the first of several values, copied alone")
            << testing::id3v2Tag(4, {{"TIT2", text(3, "Under Pressure")},
                                     {"TPE1", text(3, "Queen") + '\0' + "David Bowie"}}) +
                   audio() + testing::tagRecord({"Under Pressure", "Queen?"})
            << 1252 << QStringList{"Under Pressure", "Queen?", "", ""};
        QTest::newRow("several values, the first one with a ? copied")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(3, "Song")}, {"TPE1", text(3, "Земфира") + '\0' + "Nova"}}) +
                   audio() + testing::tagRecord({"Song", "???????"})
            << 1252 << QStringList{"Song", "Земфира, Nova", "", ""};
        const QString longComment =
            QStringLiteral("Recorded live at the Café de la Danse, Paris, 2004");
        testing::V1Tag withTrack{"Song", "Nova"};
        withTrack.comment = "Recorded live at the Caf\xE9 de" + QByteArray(1, '\0') + "\x05";
        QTest::newRow("a comment cut at 28 beside a track number")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "Song")}, {"COMM", comment(longComment)}}) +
                   audio() + testing::tagRecord(withTrack)
            << 1252 << QStringList{"Song", "Nova", "", longComment};
        QTest::newRow("APEv2 before the record")
            << audio() +
                   testing::apeTag(
                       {{"Title", QStringLiteral("Кукушка").toUtf8()}, {"Artist", "Kino"}}) +
                   testing::tagRecord({"???????", "Kino"})
            << 1251 << QStringList{QStringLiteral("Кукушка"), "Kino", "", ""};
        QTest::newRow("a good record is not read past")
            << QByteArray("ID3garbage") + audio() + testing::tagRecord({"Blue Sky", "Nova"}) << 1252
            << QStringList{"Blue Sky", "Nova", "", ""};
    }

    void betterOfTwoTags()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, locale);
        QFETCH(QStringList, fields);
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".mp3"));
        QVERIFY(testing::writeFile(path, bytes));
        const TagText tag = ReadTagRecord(path, TagTextDecoder(locale));
        QCOMPARE(tag.kind, TagKind::ID3v1);
        const int order[] = {TagField::Title, TagField::Artist, TagField::Album, TagField::Comment};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(shown(tag.text[order[i]]), fields[i]);
    }

    // Several values of one frame are one field, joined with ", "; "/" within a value stays.
    void multiValueJoins_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("genre");
        QTest::newRow("2.4, UTF-8")
            << testing::id3v2Tag(4, {{"TIT2", text(3, "Under Pressure")},
                                     {"TPE1", text(3, "Queen") + '\0' + "David Bowie"}})
            << "Queen, David Bowie"
            << "";
        QTest::newRow("2.4, UTF-16 with a BOM each, a NUL at the end")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(1, "T")},
                       {"TPE1", text(1, "Queen") + QByteArray(2, '\0') +
                                    text(1, "David Bowie").mid(1) + QByteArray(2, '\0')}})
            << "Queen, David Bowie"
            << "";
        QTest::newRow("2.4, Latin-1, three values")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(0, "T")}, {"TPE1", text(0, "A") + '\0' + "B" + '\0' + "C"}})
            << "A, B, C"
            << "";
        QTest::newRow("a slash is a character")
            << testing::id3v2Tag(3, {{"TIT2", text(0, "T")}, {"TPE1", text(0, "AC/DC")}}) << "AC/DC"
            << "";
        QTest::newRow("the genre is its first value")
            << testing::id3v2Tag(
                   4, {{"TIT2", text(3, "T")}, {"TCON", text(3, "17") + '\0' + "Synthwave"}})
            << ""
            << "Rock";
        QTest::newRow("APEv2 list")
            << audio() + testing::apeTag({{"Title", "T"}, {"Artist", QByteArray("A\0B", 3)}})
            << "A, B"
            << "";
    }

    void multiValueJoins()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, artist);
        QFETCH(QString, genre);
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".mp3"));
        QVERIFY(testing::writeFile(path, bytes.startsWith("ID3") ? bytes + audio() : bytes));
        const TagText tag = ReadTagRecord(path, TagTextDecoder(1252));
        QCOMPARE(tag.text[TagField::Artist], artist);
        QCOMPARE(tag.text[TagField::Genre], genre);
    }

    // A lone surrogate from a hostile UTF-16 tag is U+FFFD once decoded, as it is written.
    void loneSurrogatesBecomeReplacementCharacters()
    {
        QByteArray title = text(2, "ab");
        title += QByteArray("\xDC\x00", 2) +
                 QByteArray("\x00"
                            "c",
                            2) +
                 QByteArray("\xD8\x00", 2);
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".mp3"));
        QVERIFY(testing::writeFile(path, testing::id3v2Tag(4, {{"TIT2", title}}) + audio()));
        QCOMPARE(ReadTagRecord(path, TagTextDecoder(1252)).text[TagField::Title],
                 QStringLiteral("ab\uFFFDc\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(LossyCopyTest)
#include "tst_lossycopy.moc"
