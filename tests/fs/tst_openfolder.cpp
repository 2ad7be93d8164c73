#include "fs/openfolder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace sorvane;

class OpenFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void childPathIsParentAndName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QByteArray("Album") << QStringLiteral("Album");
        QTest::newRow("colon first") << QByteArray(":Live") << QStringLiteral(":Live");
        QTest::newRow("UTF-8") << QByteArray("Кино") << QStringLiteral("Кино");
    }

    // A folder entered from its parent is named in messages by the parent's path and its own
    // name, whatever the name begins with.
    void childPathIsParentAndName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        QVERIFY(QDir().mkdir(dir.path() + QLatin1Char('/') + QString::fromUtf8(name)));
        for (const QString& parentPath : {dir.path(), dir.path() + QLatin1Char('/')}) {
            const OpenFolder parent(parentPath);
            int error = 0;
            const std::unique_ptr<OpenFolder> child =
                OpenFolder::child(parent, name.constData(), error);
            QVERIFY(child);
            QCOMPARE(error, 0);
            QCOMPARE(child->path(), dir.path() + QLatin1Char('/') + shown);
        }
    }
};

QTEST_GUILESS_MAIN(OpenFolderTest)
#include "tst_openfolder.moc"
