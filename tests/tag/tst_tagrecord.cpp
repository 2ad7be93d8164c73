#include "base/error.h"
#include "support/tagfiles.h"
#include "tag/codepage.h"
#include "tag/tagrecord.h"
#include "tag/tagtext.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace sorvane;
using testing::V1Tag;

class TagRecordTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    const TagTextDecoder m_1252{1252};
    const TagTextDecoder m_1251{1251};

    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    // Puts a known record into Tag, so a failing read can be shown to leave it alone.
    void loadKnownTag()
    {
        const QString known = path("known.mp3");
        QFile::remove(known);
        QVERIFY(testing::writeFile(known, testing::mp3Bytes({"Known", "Artist"})));
        ReadTagRecord(known, m_1252);
        QCOMPARE(Tag.Title.left(5), QStringLiteral("Known"));
    }

    void expectReadFails(const QString& file, const char* reasonPart)
    {
        loadKnownTag();
        try {
            ReadTagRecord(file, m_1252);
            QFAIL("the read should have failed");
        } catch (const Error& error) {
            QVERIFY2(error.message().contains(QDir::toNativeSeparators(file)),
                     qPrintable(error.message()));
            QVERIFY2(error.message().contains(QString::fromUtf8(reasonPart), Qt::CaseInsensitive),
                     qPrintable(error.message()));
        }
        QCOMPARE(Tag.Title.left(6), QStringLiteral("Known") + QChar::Null);
        QCOMPARE(Tag.Artist.left(6), QStringLiteral("Artist"));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void startsAllZero()
    {
        const ID3v1Tag fresh;
        QCOMPARE(fresh.Title, QString(30, QChar::Null));
        QCOMPARE(fresh.Year, QString(4, QChar::Null));
        QCOMPARE(fresh.Marker.size(), 3);
        QCOMPARE(fresh.Genre, quint8(0));
    }

    void parsesFieldsAtTheirOffsets()
    {
        const QByteArray record =
            testing::tagRecord({"Blue Sky", "Nova", "Album", "1999", "Comment", 42, "XYZ"});
        const ID3v1Tag tag = ParseTagRecord(record, m_1252);
        QCOMPARE(tag.Marker, QStringLiteral("XYZ")); // taken as is, never checked
        QCOMPARE(tag.Title, QStringLiteral("Blue Sky") + QString(22, QChar::Null));
        QCOMPARE(tag.Artist, QStringLiteral("Nova") + QString(26, QChar::Null));
        QCOMPARE(tag.Album, QStringLiteral("Album") + QString(25, QChar::Null));
        QCOMPARE(tag.Year, QStringLiteral("1999"));
        QCOMPARE(tag.Comment, QStringLiteral("Comment") + QString(23, QChar::Null));
        QCOMPARE(tag.Genre, quint8(42));
    }

    void keepsNulsAndTrailingSpaces()
    {
        const ID3v1Tag tag = ParseTagRecord(
            testing::tagRecord({QByteArray("Ab\0cd", 5), "Nova" + QByteArray(26, ' ')}), m_1252);
        QCOMPARE(tag.Title.size(), 30);
        QCOMPARE(tag.Title.left(5), QStringLiteral("Ab") + QChar::Null + QStringLiteral("cd"));
        QCOMPARE(tag.Artist, QStringLiteral("Nova") + QString(26, QLatin1Char(' ')));
    }

    // Every field goes through the same decoding: high bytes in each come out as Cyrillic.
    void decodesHighBytesInEveryField()
    {
        QByteArray record(128, '\0');
        for (int i = 0; i < 127; ++i)
            record[i] = static_cast<char>(0xC0 + i % 64); // А..я
        const ID3v1Tag tag = ParseTagRecord(record, m_1251);
        const QString fields[] = {tag.Marker, tag.Title, tag.Artist,
                                  tag.Album,  tag.Year,  tag.Comment};
        int offset = 0;
        for (const QString& field : fields) {
            for (int k = 0; k < field.size(); ++k)
                QCOMPARE(field.at(k), QChar(0x0410 + (offset + k) % 64));
            offset += int(field.size());
        }
        QCOMPARE(offset, 127);
        QCOMPARE(ParseTagRecord(testing::tagRecord({"\xCD\xEE\xE2\xE0"}), m_1251).Title.left(4),
                 QStringLiteral("Нова"));
    }

    void doubleBytePageDecodesAFieldAsAWhole()
    {
        // "日本" in Shift_JIS: four bytes, two characters.
        const ID3v1Tag tag =
            ParseTagRecord(testing::tagRecord({"\x93\xfa\x96\x7b"}), TagTextDecoder(932));
        QCOMPARE(tag.Title, QStringLiteral("日本") + QString(26, QChar::Null));
    }

    // A title cut in the middle of a character must not spill into the artist, nor into the next
    // record read with the same decoder.
    void doubleBytePageKeepsNoStateBetweenFields()
    {
        const TagTextDecoder decoder(932);
        const QByteArray cutTitle = QByteArray(29, 'A') + "\x93"; // the first byte of 日
        for (int record = 0; record < 2; ++record) {
            const ID3v1Tag tag =
                ParseTagRecord(testing::tagRecord({cutTitle, "\x93\xfa\x96\x7b"}), decoder);
            QCOMPARE(tag.Title.left(29), QString(29, QLatin1Char('A')));
            QCOMPARE(tag.Artist, QStringLiteral("日本") + QString(26, QChar::Null));
        }
    }

    void readsTheLast128Bytes()
    {
        const QString file = path("song.mp3");
        QVERIFY(testing::writeFile(file, testing::mp3Bytes({"Title", "Artist", {}, {}, {}, 7})));
        ReadTagRecord(file, m_1252);
        QCOMPARE(Tag.Title.left(6), QStringLiteral("Title") + QChar::Null);
        QCOMPARE(Tag.Genre, quint8(7));
    }

    void fileOfExactly128BytesIsTheRecord()
    {
        const QString file = path("exact.mp3");
        QVERIFY(testing::writeFile(file, testing::tagRecord({"Only", "Tag"})));
        ReadTagRecord(file, m_1252);
        QCOMPARE(Tag.Title.left(5), QStringLiteral("Only") + QChar::Null);
        QCOMPARE(Tag.Artist.left(3), QStringLiteral("Tag"));
    }

    void fileWithoutATagIsReadAllTheSame()
    {
        const QString file = path("audio-only.mp3");
        QVERIFY(testing::writeFile(file, QByteArray(500, 'x')));
        ReadTagRecord(file, m_1252);
        QCOMPARE(Tag.Marker, QStringLiteral("xxx"));
        QCOMPARE(Tag.Title, QString(30, QLatin1Char('x')));
        QCOMPARE(Tag.Genre, quint8('x'));
    }

    void shortFileFailsAndKeepsTag()
    {
        const QString file = path("short.mp3");
        QVERIFY(testing::writeFile(file, QByteArray(127, 'y')));
        expectReadFails(file, "128");
        const QString empty = path("empty.mp3");
        QVERIFY(testing::writeFile(empty, QByteArray()));
        expectReadFails(empty, "128");
    }

    void missingFileFailsAndIsNotCreated()
    {
        const QString file = path("missing.mp3");
        expectReadFails(file, "No such file");
        QVERIFY(!QFile::exists(file));
    }

    // Neither a folder nor a FIFO named like a song is read; the FIFO must not block.
    void nonRegularFilesFail()
    {
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.mp3")));
        expectReadFails(path("folder.mp3"), "");
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.mp3")).constData(), 0600), 0);
        expectReadFails(path("pipe.mp3"), "");
    }

    void unreadableFileFails()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        const QString file = path("locked.mp3");
        QVERIFY(testing::writeFile(file, testing::mp3Bytes({"Locked"})));
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        expectReadFails(file, "Permission denied");
    }

    // Lengths past 32 bits: a sparse file of 3 GiB with its tag at the very end.
    void readsFilesOver2GiB()
    {
        const QString file = path("huge.mp3");
        const qint64 size = Q_INT64_C(3) * 1024 * 1024 * 1024;
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            if (!out.resize(size))
                QSKIP("this file system cannot hold a sparse 3 GiB file");
            QVERIFY(out.seek(size - 128));
            QCOMPARE(out.write(testing::tagRecord({"Far", "Away"})), qint64(128));
        }
        QCOMPARE(QFileInfo(file).size(), size);
        ReadTagRecord(file, m_1252);
        QCOMPARE(Tag.Title.left(4), QStringLiteral("Far") + QChar::Null);
        QFile::remove(file);
    }

    void readingNeverWrites()
    {
        const QString file = path("untouched.mp3");
        const QByteArray bytes = testing::mp3Bytes({"Same"});
        QVERIFY(testing::writeFile(file, bytes));
        const QDateTime modified = QFileInfo(file).lastModified();
        ReadTagRecord(file, m_1252);
        QCOMPARE(testing::readFile(file), bytes);
        QCOMPARE(QFileInfo(file).lastModified(), modified);
    }
};

QTEST_GUILESS_MAIN(TagRecordTest)
#include "tst_tagrecord.moc"
