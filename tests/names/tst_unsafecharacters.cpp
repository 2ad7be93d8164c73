#include "names/renamefailures.h"
#include "names/unsafecharacters.h"

#include <QtTest>

#include <cerrno>

using namespace sorvane;

class UnsafeCharactersTest : public QObject
{
    Q_OBJECT

private slots:
    void table_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("replaced");
        const auto row = [](const char* part, const char* replaced) {
            QTest::newRow(part) << QString::fromUtf8(part) << QString::fromUtf8(replaced);
        };
        row("AC/DC", "AC-DC");
        row("Numb/Encore", "Numb-Encore");
        row("back\\slash", "back-slash");
        row("pipe|d", "pipe-d");
        row("Part 1: Intro", "Part 1 - Intro");
        row("12:30", "12-30");
        row("a:", "a-");
        row("What's Up?", "What's Up");
        row("A ? B", "A B");
        row("*starred*", "starred");
        row("Tom \"Jerry\"", "Tom 'Jerry'");
        row("<3", "(3");
        row("<<a>>", "((a))");
        row("Кино: Звезда?", "Кино - Звезда");
        // Spaces are tidied only where a character was replaced.
        row("Nova  ", "Nova  ");
        row("Nova ? ", "Nova");
        row("??", "");
        row("", "");
    }

    // The one table, part by part.
    void table()
    {
        QFETCH(QString, part);
        QFETCH(QString, replaced);
        QCOMPARE(ReplaceUnsafe(part), replaced);
        QVERIFY(!HasUnsafeCharacter(ReplaceUnsafe(part)));
    }

    void partsAreEachReplaced()
    {
        NameParts parts;
        parts.text = {QStringLiteral("What?"), QStringLiteral("AC/DC"), QStringLiteral("a  b"),
                      QStringLiteral("19:99")};
        parts.selected = {true, true, false, true};
        const NameParts replaced = ReplaceUnsafe(parts);
        QCOMPARE(replaced.text[NamePart::Title], QStringLiteral("What"));
        QCOMPARE(replaced.text[NamePart::Artist], QStringLiteral("AC-DC"));
        QCOMPARE(replaced.text[NamePart::Album], QStringLiteral("a  b"));
        QCOMPARE(replaced.text[NamePart::Year], QStringLiteral("19-99"));
        QCOMPARE(replaced.selected, parts.selected);
        QCOMPARE(ComposeName(replaced), QStringLiteral("AC-DC_19-99_What.mp3"));
    }

    void whichRefusalsCount_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("sourceThere");
        QTest::addColumn<bool>("counts");
        enum { Separator, Failed, Exists, NoText };
        QTest::newRow("a slash, anywhere") << int(Separator) << 0 << "AC/DC_X.mp3" << true << true;
        QTest::newRow("fusefat's EPERM") << int(Failed) << EPERM << "What?.mp3" << true << true;
        QTest::newRow("ntfs-3g's EINVAL") << int(Failed) << EINVAL << "A:B.mp3" << true << true;
        QTest::newRow("exfat-fuse's ENOENT") << int(Failed) << ENOENT << "A*B.mp3" << true << true;
        QTest::newRow("ENOENT, the file gone") << int(Failed) << ENOENT << "A*B.mp3" << false
                                               << false;
        QTest::newRow("refused, no such character")
            << int(Failed) << EPERM << "Plain.mp3" << true << false;
        QTest::newRow("another error") << int(Failed) << EIO << "What?.mp3" << true << false;
        QTest::newRow("the name taken") << int(Exists) << EEXIST << "What?.mp3" << true << false;
        QTest::newRow("no text") << int(NoText) << 0 << "_.mp3" << true << false;
    }

    // A refusal counts as one for a character only where replacing the character can help.
    void whichRefusalsCount()
    {
        QFETCH(int, kind);
        QFETCH(int, error);
        QFETCH(QString, name);
        QFETCH(bool, sourceThere);
        QFETCH(bool, counts);
        const Failure failures[] = {&RenameFailure::NameHasSeparator, &RenameFailure::RenameFailed,
                                    &RenameFailure::TargetExists, &RenameFailure::NoTextForName};
        QCOMPARE(RefusedForCharacter({failures[kind], error}, name, sourceThere), counts);
    }
};

QTEST_GUILESS_MAIN(UnsafeCharactersTest)
#include "tst_unsafecharacters.moc"
