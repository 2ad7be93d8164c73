#include "names/nameparts.h"
#include "names/namerules.h"
#include "names/printablename.h"

#include <QtTest>

using namespace sorvane;

// One table of names against the verdict the rules give: made as it is, shortened, or refused
// with its reason.
class NameRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data()
    {
        QTest::addColumn<QString>("artist"); // null: not ticked
        QTest::addColumn<QString>("title");  // null: not ticked
        QTest::addColumn<QString>("name");   // empty when refused
        QTest::addColumn<QString>("reason"); // empty when made
        QTest::addColumn<bool>("shortened");

        const QString a = QStringLiteral("a");
        const auto title = [](QString text, const char* name) {
            QTest::newRow(name) << QString() << text << text + QStringLiteral(".mp3") << QString()
                                << false;
        };
        const auto control = [](char16_t c, const char* name, const char* code) {
            QTest::newRow(name) << QString() << QStringLiteral("a%1b").arg(QChar(c)) << QString()
                                << QStringLiteral("в имени управляющий символ U+%1").arg(code)
                                << false;
        };
        control(0x001F, "U+001F", "001F");
        title(QStringLiteral("a b"), "U+0020");
        title(QStringLiteral("a~b"), "U+007E");
        control(0x007F, "U+007F", "007F");
        control(0x0080, "U+0080", "0080");
        control(0x009F, "U+009F", "009F");
        title(QStringLiteral("a\u00A0b"), "U+00A0");
        QTest::newRow("the first control is named")
            << QString() << QStringLiteral("x\u0085y\u001B") << QString()
            << QStringLiteral("в имени управляющий символ U+0085") << false;

        const QString noText = QStringLiteral("в теге нет текста для имени");
        const QString noTitle = QStringLiteral("в теге нет названия");
        QTest::newRow("_") << QString("") << QString("") << QString() << noTitle << false;
        QTest::newRow(" _ ") << QString(" ") << QString(" ") << QString() << noTitle << false;
        QTest::newRow("_a") << QString("") << a << QStringLiteral("_a.mp3") << QString() << false;
        QTest::newRow(".mp3") << QString() << QString("") << QString() << noTitle << false;
        QTest::newRow("an artist of spaces, no title")
            << QString("  ") << QString() << QString() << QStringLiteral("в теге нет исполнителя")
            << false;
        QTest::newRow("__") << QString("_") << QString("_") << QString() << noText << false;
        QTest::newRow("nothing ticked") << QString() << QString() << QString()
                                        << QStringLiteral("не выбрана ни одна часть") << false;
        QTest::newRow("a separator") << QString() << QStringLiteral("AC/DC") << QString()
                                     << QStringLiteral("разделитель пути") << false;

        // 255 bytes with ".mp3" is the longest name; one more and the title loses a whole
        // character, two bytes or three, never part of one.
        title(QString(251, 'a'), "255 bytes");
        title(QString(249, 'a') + QStringLiteral("é"), "255 bytes, two-byte last");
        title(QString(248, 'a') + QStringLiteral("€"), "255 bytes, three-byte last");
        title(QString(247, 'a') + QStringLiteral("\U0001F3B5"), "255 bytes, four-byte last");
        QTest::newRow("256 bytes")
            << QString() << QString(252, 'a') << QString(251, 'a') + QStringLiteral(".mp3")
            << QString() << true;
        QTest::newRow("256 bytes, two-byte at the cut")
            << QString() << QString(250, 'a') + QStringLiteral("é")
            << QString(250, 'a') + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("256 bytes, three-byte at the cut")
            << QString() << QString(249, 'a') + QStringLiteral("€")
            << QString(249, 'a') + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("256 bytes, four-byte at the cut")
            << QString() << QString(248, 'a') + QStringLiteral("\U0001F3B5")
            << QString(248, 'a') + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("256 bytes, Cyrillic throughout")
            << QString() << QString(126, QChar(0x0436))
            << QString(125, QChar(0x0436)) + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("no space left at the cut")
            << QString() << QString(250, 'a') + QStringLiteral(" bc")
            << QString(250, 'a') + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("the title goes first")
            << QStringLiteral("Nova") << QString(300, 'x')
            << QStringLiteral("Nova_") + QString(246, 'x') + QStringLiteral(".mp3") << QString()
            << true;
        QTest::newRow("then the part before it, no _ left")
            << QString(300, 'x') << QStringLiteral("T")
            << QString(251, 'x') + QStringLiteral(".mp3") << QString() << true;
        QTest::newRow("nothing but spaces left")
            << QString() << QString(300, ' ') + QStringLiteral("x") << QString() << noText << true;
    }

    void verdicts()
    {
        QFETCH(QString, artist);
        QFETCH(QString, title);
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QFETCH(bool, shortened);
        NameParts parts;
        parts.selected[NamePart::Artist] = !artist.isNull();
        parts.text[NamePart::Artist] = artist;
        parts.selected[NamePart::Title] = !title.isNull();
        parts.text[NamePart::Title] = title;
        const NameVerdict verdict = DecideName(parts);
        QCOMPARE(!verdict.ok(), !reason.isEmpty());
        QVERIFY2(Reason(verdict.refused).contains(reason), qPrintable(Reason(verdict.refused)));
        QCOMPARE(verdict.ok() ? verdict.name : QString(), name);
        QCOMPARE(verdict.shortened, shortened);
        if (verdict.ok())
            QVERIFY(verdict.name.toUtf8().size() <= LongestName);
    }

    // The reason names the part the tag lacks where the tag left it out; the user's own choice
    // of nothing stays the user's. Refused names are shown with the character marked.
    void reasonsNameTheCause_data()
    {
        QTest::addColumn<QStringList>("texts"); // title, artist, album, year
        QTest::addColumn<QString>("selected");  // of "TAAY", which are ticked
        QTest::addColumn<unsigned>("blankInTag");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("marked");
        const unsigned title = 1u << NamePart::Title, artist = 1u << NamePart::Artist;
        QTest::newRow("blank title, album ticked but empty")
            << QStringList{"", "Nova", "", ""} << "..A." << title << "в теге нет названия"
            << ".mp3";
        QTest::newRow("blank title, nothing else ticked")
            << QStringList{"", "Nova", "", ""} << "...." << (title | artist)
            << "в теге нет названия"
            << "";
        QTest::newRow("nothing ticked by the user")
            << QStringList{"T", "Nova", "", ""} << "...." << 0u << "не выбрана ни одна часть имени"
            << "";
        QTest::newRow("only the year, empty")
            << QStringList{"T", "Nova", "", ""} << "...Y" << 0u << "в теге нет года"
            << ".mp3";
        QTest::newRow("album and year, empty, title blank")
            << QStringList{"", "", "", ""} << "..AY" << (title | artist) << "в теге нет названия"
            << "_.mp3";
        QTest::newRow("a separator marked")
            << QStringList{"Back", "AC/DC", "", ""} << "TA.." << 0u << "разделитель пути"
            << "AC⟦/⟧DC_Back.mp3";
        QTest::newRow("a control character marked, the rest printable")
            << QStringList{"a"
                           "b",
                           "", "", ""}
            << "T..." << 0u << "управляющий символ U+0001"
            << "a⟦\\x01⟧b\\x02.mp3";
        QTest::newRow("a leading dot marked")
            << QStringList{".x", "", "", ""} << "T..." << 0u << "начинается с точки"
            << "⟦.⟧x.mp3";
    }

    void reasonsNameTheCause()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, selected);
        QFETCH(unsigned, blankInTag);
        QFETCH(QString, reason);
        QFETCH(QString, marked);
        NameParts parts;
        const int order[] = {NamePart::Title, NamePart::Artist, NamePart::Album, NamePart::Year};
        for (int i = 0; i < 4; ++i) {
            parts.text[order[i]] = texts[i];
            parts.selected[order[i]] = selected.at(i) != QLatin1Char('.');
        }
        const NameVerdict verdict = DecideName(parts, blankInTag);
        QVERIFY(!verdict.ok());
        QVERIFY2(Reason(verdict.refused).contains(reason), qPrintable(Reason(verdict.refused)));
        QCOMPARE(MarkedName(verdict), marked);
    }

    // Names as they are shown, by the same definition of a control character.
    void printableNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << QByteArray("Nova_Blue Sky.mp3") << "Nova_Blue Sky.mp3"
                               << "Nova_Blue Sky.mp3";
        QTest::newRow("Cyrillic") << QString("Кино.mp3").toUtf8() << "Кино.mp3"
                                  << "Кино.mp3";
        QTest::newRow("an escape sequence") << QByteArray("\x1b[31mred.mp3") << "\\x1b[31mred.mp3"
                                            << "\\x1b[31mred.mp3";
        QTest::newRow("newline, tab, DEL") << QByteArray("a\nb\tc\x7f") << "a\\x0ab\\x09c\\x7f"
                                           << "a\\x0ab\\x09c\\x7f";
        QTest::newRow("C1 as UTF-8") << QByteArray("a\xc2\x9b") << "a\\xc2\\x9b"
                                     << "a\\xc2\\x9b";
        QTest::newRow("U+00A0 stays") << QByteArray("a\xc2\xa0"
                                                    "b")
                                      << "a\u00A0b"
                                      << "a\u00A0b";
        QTest::newRow("not UTF-8") << QByteArray("bad\xff\xc3(.mp3") << "bad\\xff\\xc3(.mp3"
                                   << "bad\\xff\\xc3(.mp3";
        QTest::newRow("overlong and surrogate")
            << QByteArray("\xc0\xaf\xed\xa0\x80") << "\\xc0\\xaf\\xed\\xa0\\x80"
            << "\\xc0\\xaf\\xed\\xa0\\x80";
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x8e\xb5") << "\U0001F3B5"
                                    << "\U0001F3B5";
        QTest::newRow("quote and backslash") << QByteArray("a\"b\\c") << "a\"b\\c"
                                             << "a\\\"b\\\\c";
        // Space to "~": each byte as it is, but for the two the quoted form escapes.
        QByteArray ascii, quotedAscii;
        for (char byte = ' '; byte <= '~'; ++byte) {
            ascii += byte;
            quotedAscii +=
                byte == '"' || byte == '\\' ? QByteArray(1, '\\') + byte : QByteArray(1, byte);
        }
        QTest::newRow("printable ASCII")
            << ascii << QString::fromLatin1(ascii) << QString::fromLatin1(quotedAscii);
    }

    void printableNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QFETCH(QString, quoted);
        QCOMPARE(PrintableName(name), shown);
        QCOMPARE(PrintableName(name, true), quoted);
    }
};

QTEST_GUILESS_MAIN(NameRulesTest)
#include "tst_namerules.moc"
