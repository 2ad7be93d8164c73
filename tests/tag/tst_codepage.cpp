#include "tag/codepage.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
