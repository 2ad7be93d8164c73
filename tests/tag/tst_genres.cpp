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
