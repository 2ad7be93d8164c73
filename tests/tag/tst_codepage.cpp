#include "tag/codepage.h"

#include <QtTest>

#include <map>

using namespace sorvane;

class CodePageTest : public QObject
{
    Q_OBJECT

private slots:
    void pageForLocale_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<int>("page");
        const std::pair<const char*, int> rows[] = {
            {"ru_RU.UTF-8", 1251},
            {"uk_UA.UTF-8", 1251},
            {"be_BY", 1251},
            {"bg_BG.UTF-8", 1251},
            {"sr_RS", 1251},
            {"sr_RS@latin", 1250},
            {"mk_MK", 1251},
            {"kk_KZ.UTF-8", 1251},
            {"cs_CZ.UTF-8", 1250},
            {"pl_PL", 1250},
            {"hu_HU.ISO-8859-2", 1250},
            {"bs_BA", 1250},
            {"el_GR.UTF-8", 1253},
            {"tr_TR.UTF-8", 1254},
            {"az_AZ", 1254},
            {"he_IL.UTF-8", 1255},
            {"fa_IR", 1256},
            {"ur_PK", 1256},
            {"et_EE", 1257},
            {"vi_VN", 1258},
            {"th_TH.UTF-8", 874},
            {"ja_JP.UTF-8", 932},
            {"zh_CN.UTF-8", 936},
            {"zh_SG", 936},
            {"ko_KR.EUC-KR", 949},
            {"zh_TW.UTF-8", 950},
            {"zh_HK", 950},
            {"de_DE.UTF-8", 1252},
            {"en_US.UTF-8", 1252},
            {"C", 1252},
            {"C.UTF-8", 1252},
            {"POSIX", 1252},
            {"", 1252},
        };
        for (const auto& [locale, page] : rows)
            QTest::newRow(locale) << QByteArray(locale) << page;
    }

    void pageForLocale()
    {
        QFETCH(QByteArray, locale);
        QFETCH(int, page);
        QCOMPARE(AnsiCodePageForLocale(locale), page);
    }

    void environmentOrder()
    {
        const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LC_CTYPE"), qgetenv("LANG")};
        qputenv("LC_ALL", "");
        qputenv("LC_CTYPE", "el_GR.UTF-8");
        qputenv("LANG", "ru_RU.UTF-8");
        QCOMPARE(SystemAnsiCodePage(), 1253); // an empty LC_ALL does not count
        qputenv("LC_ALL", "pl_PL.UTF-8");
        QCOMPARE(SystemAnsiCodePage(), 1250);
        qunsetenv("LC_ALL");
        qunsetenv("LC_CTYPE");
        QCOMPARE(SystemAnsiCodePage(), 1251);
        qunsetenv("LANG");
        QCOMPARE(SystemAnsiCodePage(), 1252);
        qputenv("LC_ALL", saved[0]);
        qputenv("LC_CTYPE", saved[1]);
        qputenv("LANG", saved[2]);
    }

    // One character per byte on every single-byte page, undefined bytes included.
    void singleBytePagesKeepEveryByte()
    {
        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<char>(i);
        for (const int page : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
            const QString text = TagTextDecoder(page).decode(all);
            QCOMPARE(text.size(), 256);
            QCOMPARE(text.at(0), QChar::Null);
            QCOMPARE(text.at('A'), QLatin1Char('A'));
            QVERIFY(!text.contains(QChar::ReplacementCharacter));
        }
        const TagTextDecoder western(1252);
        QCOMPARE(western.decode("\x80\x81\xE9"), QStringLiteral("€\u0081é"));
        QCOMPARE(TagTextDecoder(1251).decode("\x98\xC0\xFF"), QStringLiteral("\u0098Ая"));
    }

    // Each character a page holds is written as the lowest byte that reads back as it, never as
    // a byte the page leaves undefined; any other is the replacement, or left out. Checked
    // against every byte read back, for every character of the BMP.
    void encodingIsReadingBackwards()
    {
        for (const int page : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
            const TagTextDecoder decoder(page);
            std::map<char16_t, char> lowest;
            for (int byte = 255; byte >= 0; --byte) {
                const char c = static_cast<char>(byte);
                if (!decoder.undefined(static_cast<unsigned char>(byte)))
                    lowest[decoder.decode(QByteArrayView(&c, 1)).at(0).unicode()] = c;
            }
            QString text;
            QByteArray withMark, without;
            for (int point = 0; point < 0x10000; ++point) {
                if (QChar::isSurrogate(char32_t(point)))
                    continue;
                text += QChar(point);
                const auto found = lowest.find(char16_t(point));
                withMark += found != lowest.end() ? found->second : '?';
                if (found != lowest.end())
                    without += found->second;
            }
            QCOMPARE(decoder.encode(text, '?'), withMark);
            QCOMPARE(decoder.encode(text, '\0'), without);
        }
        // A pair is one character beyond any such page; a lone half is none it holds either.
        const TagTextDecoder western(1252);
        QCOMPARE(western.encode(QStringLiteral("a\U0001F3B5b"), '?'), QByteArray("a?b"));
        const QChar lone[] = {QChar(0xD83C), QLatin1Char('x'), QChar(0xDFB5)};
        QCOMPARE(western.encode(QStringView(lone, 3), '?'), QByteArray("?x?"));
        QCOMPARE(western.encode(QStringView(lone, 3), '\0'), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
