#include "tag/genres.h"

#include <QtTest>

using namespace sorvane;

class GenresTest : public QObject
{
    Q_OBJECT

private slots:
    void namesAtTheEdges()
    {
        QCOMPARE(GenreName(0), QStringLiteral("Blues"));
        QCOMPARE(GenreName(7), QStringLiteral("Hip- Hop"));
        QCOMPARE(GenreName(42), QStringLiteral("Punk"));
        QCOMPARE(GenreName(117), QStringLiteral("Rhytmic Soul"));
        QCOMPARE(GenreName(146), QStringLiteral("SynthPop"));
    }

    // Every name as the table must spell it, misspellings of the original included.
    void everyName()
    {
        const QStringList names =
            QStringLiteral(
                "Blues|Classic Rock|Country|Dance|Disco|Funk|Grunge|Hip- Hop|Jazz|Metal|New "
                "Age|Oldies|"
                "Other|Pop|R&B|Rap|Reggae|Rock|Techno|Industrial|Alternative|Ska|Death "
                "Metal|Pranks|"
                "Soundtrack|Euro-Techno|Ambient|Trip-Hop|Vocal|Jazz+Funk|Fusion|Trance|Classical|"
                "Instrumental|Acid|House|Game|Sound Clip|Gospel|Noise|Alternative "
                "Rock|Bass|Punk|Space|"
                "Meditative|Instrumental Pop|Instrumental Rock|Ethnic|Gothic|Darkwave|"
                "Techno-Industrial|Electronic|Pop-Folk|Eurodance|Dream|Southern Rock|Comedy|Cult|"
                "Gangsta|Top 40|Christian Rap|Pop/Funk|Jungle|Native US|Cabaret|New "
                "Wave|Psychadelic|"
                "Rave|Showtunes|Trailer|Lo-Fi|Tribal|Acid Punk|Acid Jazz|Polka|Retro|Musical|"
                "Rock & Roll|Hard Rock|Folk|Folk-Rock|National Folk|Swing|Fast Fusion|Bebob|Latin|"
                "Revival|Celtic|Bluegrass|Avantgarde|Gothic Rock|Progressive Rock|Psychedelic Rock|"
                "Symphonic Rock|Slow Rock|Big Band|Chorus|Easy Listening|Acoustic|Humour|Speech|"
                "Chanson|Opera|Chamber Music|Sonata|Symphony|Booty Bass|Primus|Porn Groove|Satire|"
                "Slow Jam|Club|Tango|Samba|Folklore|Ballad|Power Ballad|Rhytmic "
                "Soul|Freestyle|Duet|"
                "Punk Rock|Drum Solo|Acapella|Euro-House|Dance Hall|Goa|Drum & Bass|Club-House|"
                "Hardcore|Terror|Indie|BritPop|Negerpunk|Polsk Punk|Beat|Christian Gangsta|"
                "Heavy Metal|Black Metal|Crossover|Contemporary C|Christian Rock|Merengue|Salsa|"
                "Thrash Metal|Anime|JPop|SynthPop")
                .split(QLatin1Char('|'));
        QCOMPARE(names.size(), GenreCount);
        for (int g = 0; g < GenreCount; ++g)
            QCOMPARE(GenreName(quint8(g)), names.at(g));
    }

    void pastTheTableIsEmpty()
    {
        for (int g = GenreCount; g <= 255; ++g)
            QVERIFY2(GenreName(quint8(g)).isEmpty(), qPrintable(QString::number(g)));
        for (int g = 0; g < GenreCount; ++g)
            QVERIFY(!GenreName(quint8(g)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(GenresTest)
#include "tst_genres.moc"
