#include "base/plural.h"

#include <QtTest>

using namespace sorvane;

class PluralTest : public QObject
{
    Q_OBJECT

private slots:
    void forms_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("notBack");
        const auto row = [](int count, const char* files, const char* notBack) {
            QTest::newRow(qPrintable(QString::number(count)))
                << count << QString::fromUtf8(files) << QString::fromUtf8(notBack);
        };
        row(0, "0 файлов", "0 файлов не возвращено!");
        row(1, "1 файл", "1 файл не возвращён!");
        row(2, "2 файла", "2 файла не возвращено!");
        row(4, "4 файла", "4 файла не возвращено!");
        row(5, "5 файлов", "5 файлов не возвращено!");
        row(11, "11 файлов", "11 файлов не возвращено!");
        row(12, "12 файлов", "12 файлов не возвращено!");
        row(14, "14 файлов", "14 файлов не возвращено!");
        row(21, "21 файл", "21 файл не возвращён!");
        row(22, "22 файла", "22 файла не возвращено!");
        row(25, "25 файлов", "25 файлов не возвращено!");
        row(101, "101 файл", "101 файл не возвращён!");
        row(111, "111 файлов", "111 файлов не возвращено!");
        row(112, "112 файлов", "112 файлов не возвращено!");
        row(1021, "1021 файл", "1021 файл не возвращён!");
    }

    // Russian takes one of three forms by the last two digits of the count.
    void forms()
    {
        QFETCH(int, count);
        QFETCH(QString, files);
        QFETCH(QString, notBack);
        QCOMPARE(Plural(count, "%1 файл", "%1 файла", "%1 файлов"), files);
        QCOMPARE(Plural(count, "%1 файл не возвращён!", "%1 файла не возвращено!",
                        "%1 файлов не возвращено!"),
                 notBack);
    }
};

QTEST_GUILESS_MAIN(PluralTest)
#include "tst_plural.moc"
