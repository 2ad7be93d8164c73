#include "base/plural.h"
#include "journal/journalfiles.h"
#include "journal/journalwriter.h"
#include "journal/undo.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "support/scripteddialogs.h"
#include "support/syscallseam.h"
#include "support/tagfiles.h"
#include "ui/dialogs.h"
#include "ui/frmmain.h"
#include "ui/summarydialog.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QDirIterator>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <fnmatch.h>
#include <sys/stat.h>

using namespace sorvane;
using testing::ScriptedDialogs;

Q_DECLARE_METATYPE(sorvane::Answer)

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    static QString newestJournalPath()
    {
        const QStringList paths = JournalPaths();
        return paths.isEmpty() ? QString() : paths.last();
    }
    static void UndoJournalNewest()
    {
        QString error;
        const auto undo = Undo::open(newestJournalPath(), error);
        QVERIFY2(undo, qPrintable(error));
        QVERIFY(undo->run().allBack());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_state; // journals
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<frmMain> m_window;

    template <typename T> T* control(const char* name) const
    {
        auto* found = m_window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QLineEdit* text1(int i) const
    {
        return control<QLineEdit>(QStringLiteral("Text1(%1)").arg(i).toLatin1().constData());
    }
    QCheckBox* check1(int i) const
    {
        return control<QCheckBox>(QStringLiteral("Check1(%1)").arg(i).toLatin1().constData());
    }
    void click(const char* button)
    {
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }

    QString addFile(const QString& name, const testing::V1Tag& tag)
    {
        const QString path = m_dir->filePath(name);
        if (!testing::writeFile(path, testing::mp3Bytes(tag)))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Files "000.mp3" ... tagged "Song 0" ... by Nova.
    void addSongsOnASlowStick(int count)
    {
        for (int i = 0; i < count; ++i)
            addFile(QStringLiteral("%1.mp3").arg(i, 3, 10, QLatin1Char('0')),
                    {"Song " + QByteArray::number(i), "Nova"});
    }

    // Every rename takes 20 ms, as on a slow stick: a run of a hundred files takes seconds.
    static void slowRenames()
    {
        Sys.renameat2 = [](int fromDir, const char* from, int toDir, const char* to,
                           unsigned flags) {
            QThread::msleep(20);
            return ::renameat2(fromDir, from, toDir, to, flags);
        };
    }

    // The user picks the file with "Файл".
    void choose(const QString& path)
    {
        m_dialogs->fileAnswers.enqueue(path);
        click("cmdRead");
    }

    QStringList folderEntries() const
    {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    ScriptedDialogs::Message lastMessage() const
    {
        if (m_dialogs->messages.isEmpty())
            qFatal("no message was shown");
        return m_dialogs->messages.last();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", m_state->path().toUtf8());
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_window = std::make_unique<frmMain>(*m_dialogs);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() { m_window.reset(); }

    void windowAndControls()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane"));
        QVERIFY(!m_window->windowIcon().isNull());
        QCOMPARE(m_window->windowIcon().availableSizes(),
                 (QList<QSize>{QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64),
                               QSize(128, 128), QSize(256, 256)}));
        QCOMPARE(control<QPushButton>("cmdRead")->text(), QStringLiteral("Файл"));
        QCOMPARE(control<QPushButton>("ReName")->text(), QStringLiteral("Переименовать"));
        QCOMPARE(control<QPushButton>("cmdFolder")->text(), QStringLiteral("Папка"));
        const char* captions[] = {
            "Title:", "Artist:", "Album:", "Year:", "Comment:", "Genre:", "File:"};
        for (int i = 0; i < 7; ++i) {
            const auto* label = control<QLabel>(QStringLiteral("Label1(%1)").arg(i).toLatin1());
            QCOMPARE(label->text(), QLatin1String(captions[i]));
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        }
        QSet<QString> accessibleNames;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(check1(i)->text().isEmpty());
            QVERIFY(!check1(i)->isChecked());
            accessibleNames.insert(check1(i)->accessibleName());
        }
        QCOMPARE(accessibleNames.size(), 4);
        QVERIFY(!accessibleNames.contains(QString()));
        for (const auto* button : m_window->findChildren<QPushButton*>()) {
            QVERIFY(!button->autoDefault() && !button->isDefault());
            QVERIFY(!button->text().contains(QLatin1Char('&')));
        }
    }

    // At the desktop's font the window may be larger than the design's 402×188 at 96 DPI, but
    // every control keeps its place in the twip table, scaled alike.
    void controlsKeepTheirPlacesInTheTable()
    {
        const double unit = m_window->width() / 6030.0;
        const auto near = [&](const QRect& actual, int l, int t, int w, int h) {
            const QRect expected(qRound(l * unit), qRound(t * unit), qRound(w * unit),
                                 qRound(h * unit));
            return qAbs(actual.left() - expected.left()) <= 1 &&
                   qAbs(actual.top() - expected.top()) <= 1 &&
                   qAbs(actual.width() - expected.width()) <= 1 &&
                   qAbs(actual.height() - expected.height()) <= 1;
        };
        QVERIFY(m_window->width() >= 402);
        QVERIFY(near(QRect(QPoint(), m_window->size()), 0, 0, 6030, 2820));
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QVERIFY(near(control<QPushButton>("cmdFolder")->geometry(), 5160, 120, 825, 285));
        QVERIFY(near(control<QPushButton>("ReName")->geometry(), 4440, 2340, 1455, 315));
        QVERIFY(near(control<QLabel>("Label1(4)")->geometry(), 75, 1980, 690, 240));
        QVERIFY(near(text1(5)->geometry(), 825, 2325, 3465, 285));
        QVERIFY(near(check1(3)->geometry(), 4380, 1560, 615, 315));
    }

    void tabOrderAndFirstFocus()
    {
        QStringList order;
        QWidget* w = control<QPushButton>("cmdRead");
        do {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != control<QPushButton>("cmdRead"));
        QCOMPARE(order, (QStringList{"cmdRead", "Text1(0)", "Text1(1)", "Text1(2)", "Text1(3)",
                                     "Text1(4)", "Text1(5)", "txtFile", "Check1(0)", "Check1(1)",
                                     "Check1(2)", "Check1(3)", "ReName", "cmdFolder"}));
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(QApplication::focusWidget(), control<QPushButton>("cmdRead"));
    }

    // Focus shows from the start; Return presses the focused button and nothing else; screen
    // readers find each field's caption and each button's description.
    void keyboardAndScreenReaders()
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QStyleOptionButton option;
        option.initFrom(control<QPushButton>("cmdRead"));
        QVERIFY(option.state & QStyle::State_HasFocus);
        QVERIFY(option.state & QStyle::State_KeyboardFocusChange);

        QTest::keyClick(text1(0), Qt::Key_Return);
        QVERIFY(m_dialogs->openTitles.isEmpty() && m_dialogs->messages.isEmpty());
        QTest::keyClick(control<QPushButton>("cmdRead"), Qt::Key_Return);
        QCOMPARE(m_dialogs->openTitles.size(), 1);
        QTest::keyClick(control<QPushButton>("cmdFolder"), Qt::Key_Enter);
        QCOMPARE(m_dialogs->folderTitles.size(), 1);

        for (int i = 0; i < 7; ++i) {
            auto* label = control<QLabel>(QStringLiteral("Label1(%1)").arg(i).toLatin1());
            QWidget* field =
                i < 6 ? static_cast<QWidget*>(text1(i)) : control<QLineEdit>("txtFile");
            const auto relations =
                QAccessible::queryAccessibleInterface(label)->relations(QAccessible::Labelled);
            QVERIFY(!relations.isEmpty());
            QCOMPARE(relations.first().first->object(), field);
        }
        for (QWidget* w : m_window->findChildren<QWidget*>()) {
            if (!qobject_cast<QPushButton*>(w) && !qobject_cast<QCheckBox*>(w))
                continue;
            QVERIFY2(!w->accessibleDescription().isEmpty(), qPrintable(w->objectName()));
            QCOMPARE(w->toolTip(), w->accessibleDescription());
        }
    }

    // Drops anywhere on the window, fields included: one MP3 file opens as with "Файл" even when
    // the drag also offers its address as text; one folder starts "Папка" on it; other files
    // are refused; plain text still edits a field.
    void dropsOnTheWindowAndItsFields()
    {
        const QString song = addFile(QStringLiteral("LOUD.MP3"), {"Blue Sky", "Nova"});
        const auto drag = [](QWidget* target, const QList<QUrl>& urls, const QString& text) {
            QMimeData data;
            if (!urls.isEmpty())
                data.setUrls(urls);
            if (!text.isNull())
                data.setText(text);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            enter.ignore();
            QApplication::sendEvent(target, &enter);
            const bool accepted = enter.isAccepted();
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            if (accepted)
                QApplication::sendEvent(target, &drop);
            QCoreApplication::processEvents();
            return accepted;
        };
        // Onto the title field, with the address as text as file managers offer it.
        QVERIFY(drag(text1(0), {QUrl::fromLocalFile(song)}, QUrl::fromLocalFile(song).toString()));
        QTRY_COMPARE(control<QLineEdit>("txtFile")->text(), song);
        QCOMPARE(text1(0)->text(), QStringLiteral("Blue Sky"));

        // Two files, or one that is not an MP3 file, onto a field or the window: refused.
        const QString notes = addFile(QStringLiteral("notes.txt"), {"x", "y"});
        QVERIFY(!drag(text1(1), {QUrl::fromLocalFile(song), QUrl::fromLocalFile(notes)},
                      QStringLiteral("two")));
        QVERIFY(!drag(m_window.get(), {QUrl::fromLocalFile(notes)}, QString()));
        QCOMPARE(text1(1)->text(), QStringLiteral("Nova"));

        // Text: the field takes it.
        text1(2)->clear();
        QVERIFY(drag(text1(2), {}, QStringLiteral("Typed by drag")));
        QCOMPARE(text1(2)->text(), QStringLiteral("Typed by drag"));

        // A folder: its run starts without the folder dialog.
        const QString folder = m_dir->filePath(QStringLiteral("dropped"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(testing::writeFile(folder + QStringLiteral("/a.mp3"),
                                   testing::mp3Bytes({"Red Sun", "Lumen"})));
        QVERIFY(drag(text1(3), {QUrl::fromLocalFile(folder)}, folder));
        QTRY_COMPARE(m_dialogs->summaries.size(), 1);
        QVERIFY(m_dialogs->folderTitles.isEmpty());
        QVERIFY(QFile::exists(folder + QStringLiteral("/Lumen_Red Sun.mp3")));
    }

    // The filter lets "LOUD.MP3" through in Qt's wildcards and in the glob patterns GTK and the
    // desktop portal take.
    void filterMatchesAnyLetterCase()
    {
        const QString filter = AnyCaseFilter(QStringLiteral("mp3 - файлы (*.mp3)"));
        QVERIFY(filter.startsWith(QStringLiteral("mp3 - файлы (")));
        const QString pattern = filter.section(QLatin1Char('('), 1).chopped(1);
        const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(pattern));
        for (const char* name : {"a.mp3", "LOUD.MP3", "Mixed.Mp3"}) {
            QVERIFY2(wildcard.match(QLatin1String(name)).hasMatch(), name);
            QCOMPARE(::fnmatch(pattern.toUtf8().constData(), name, 0), 0);
        }
        for (const char* name : {"a.mp4", "a.mp3.txt"}) {
            QVERIFY(!wildcard.match(QLatin1String(name)).hasMatch());
            QVERIFY(::fnmatch(pattern.toUtf8().constData(), name, 0) != 0);
        }
    }

    // The first dialogs of a run open in the Music folder, else in the home folder.
    void firstDialogsOpenInTheMusicFolder()
    {
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", m_dir->path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(StartFolder(), m_dir->path());
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Music")));
        QCOMPARE(StartFolder(), m_dir->filePath(QStringLiteral("Music")));
        choose(QString());
        QCOMPARE(m_dialogs->openStartPaths, QStringList{m_dir->filePath(QStringLiteral("Music"))});
        qputenv("HOME", savedHome);
    }

    void choosingAFileLoadsItsTag()
    {
        const QString path =
            addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova", "Album", "1999", "Nice", 17});
        check1(2)->setChecked(true);
        check1(3)->setChecked(true);
        choose(path);
        QCOMPARE(m_dialogs->openTitles, QStringList{QStringLiteral("Открытие файла")});
        QCOMPARE(m_dialogs->openFilters, QStringList{QStringLiteral("mp3 - файлы (*.mp3)")});
        QCOMPARE(control<QLineEdit>("txtFile")->text(), path);
        const char* expected[] = {"Blue Sky", "Nova", "Album", "1999", "Nice", "Rock"};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(text1(i)->text(), QLatin1String(expected[i]));
        QVERIFY(check1(0)->isChecked() && check1(1)->isChecked());
        QVERIFY(!check1(2)->isChecked() && !check1(3)->isChecked());
        QVERIFY(m_dialogs->messages.isEmpty());
        // The next dialog opens where the last choice was.
        choose(path);
        QCOMPARE(m_dialogs->openStartPaths.last(), path);
    }

    void cancelledChoiceKeepsTheFields()
    {
        choose(addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova"}));
        check1(2)->setChecked(true);
        choose(QString());
        QCOMPARE(control<QLineEdit>("txtFile")->text(), QStringLiteral("Не выбран файл!!!"));
        QCOMPARE(text1(0)->text(), QStringLiteral("Blue Sky"));
        QVERIFY(check1(0)->isChecked() && check1(2)->isChecked());
        QVERIFY(m_dialogs->messages.isEmpty());
    }

    void failedReadIsShownAndKeepsTheFields()
    {
        choose(addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova"}));
        check1(2)->setChecked(true);
        const QString shortFile = m_dir->filePath(QStringLiteral("short.mp3"));
        QVERIFY(testing::writeFile(shortFile, "tiny"));
        choose(shortFile);
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(lastMessage().text.contains(shortFile));
        QCOMPARE(control<QLineEdit>("txtFile")->text(), shortFile);
        QCOMPARE(text1(0)->text(), QStringLiteral("Blue Sky"));
        QVERIFY(check1(0)->isChecked() && check1(2)->isChecked());
        // The earlier file's fields must not become the unread file's name.
        click("ReName");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(lastMessage().text.contains(QStringLiteral("Выберите другой файл")));
        QCOMPARE(folderEntries(),
                 (QStringList{QStringLiteral("short.mp3"), QStringLiteral("song.mp3")}));
    }

    void fileWithoutATagIsShownWithAWarning()
    {
        QByteArray audio(400, '\xFB');
        audio.replace(300, 10, "Riff\nTitle");
        const QString path = m_dir->filePath(QStringLiteral("untagged.mp3"));
        QVERIFY(testing::writeFile(path, audio));
        choose(path);
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(
            lastMessage().text.contains(QStringLiteral("нет тега (ни ID3v1, ни ID3v2, ни APEv2)")));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane"));
        QVERIFY(!text1(0)->text().isEmpty()); // the fields still show the last 128 bytes
        // The user may type the parts in and rename.
        text1(0)->setText(QStringLiteral("Typed"));
        check1(0)->setChecked(true);
        check1(1)->setChecked(false);
        click("ReName");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Typed.mp3")});
    }

    // While the fields hold an ID3v2 or APEv2 tag, the title says which; otherwise it is the
    // program's name, after a completed ID3v1 field and a failed load too.
    void windowTitleNamesTheTag()
    {
        const auto write = [&](const char* name, const QByteArray& bytes) {
            const QString path = m_dir->filePath(QLatin1String(name));
            if (!testing::writeFile(path, bytes))
                qFatal("cannot write %s", name);
            return path;
        };
        const QByteArray audio(500, '\xFB');
        choose(write("v23.mp3", testing::id3v2Tag(3, {{"TIT2", testing::text(1, "Blue Sky")},
                                                      {"TPE1", testing::text(1, "Nova")}}) +
                                    audio));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane — ID3v2.3"));
        QCOMPARE(text1(0)->text(), QStringLiteral("Blue Sky"));
        QVERIFY(check1(0)->isChecked() && check1(1)->isChecked());
        const QByteArray cut = "Thirty characters, cut short!!";
        choose(write("v1.mp3", testing::id3v2Tag(4, {{"TIT2", testing::text(3, cut + " Whole")}}) +
                                   audio + testing::tagRecord({cut, "Nova"})));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane"));
        QCOMPARE(text1(0)->text(), QString::fromLatin1(cut + " Whole"));
        choose(write("ape.mp3", audio + testing::apeTag({{"Title", "T"}, {"Artist", "A"}})));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane — APEv2"));
        choose(write("short.mp3", "tiny"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane"));

        const QTemporaryDir folder;
        QVERIFY(
            testing::writeFile(folder.filePath(QStringLiteral("a.mp3")),
                               testing::id3v2Tag(4, {{"TIT2", testing::text(3, "X")}}) + audio));
        m_dialogs->folderAnswers.enqueue(folder.path());
        click("cmdFolder");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Sorvane — ID3v2.4"));
    }

    // A path typed into the field is renamed in its own folder, whatever the dialog chose.
    void typedPathIsRenamedWhereItIs()
    {
        choose(addFile(QStringLiteral("chosen.mp3"), {"Blue Sky", "Nova"}));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("elsewhere")));
        const QString typed = m_dir->filePath(QStringLiteral("elsewhere/typed.mp3"));
        QVERIFY(testing::writeFile(typed, "typed bytes"));
        control<QLineEdit>("txtFile")->setText(typed);
        click("ReName");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("elsewhere"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("Nova_Blue Sky.mp3")});
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("chosen.mp3")});
    }

    void editedArtistGoesIntoTheName()
    {
        const QString path = addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova", "Album"});
        choose(path);
        text1(1)->clear();
        QTest::keyClicks(text1(1), QStringLiteral("Lumen"));
        check1(2)->setChecked(true);
        click("ReName");
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Lumen_Album_Blue Sky.mp3")});
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QCOMPARE(lastMessage().icon, MessageIcon::Information);
        // The field and the dialog follow the file, so a second press finds it named.
        const QString renamed = m_dir->filePath(QStringLiteral("Lumen_Album_Blue Sky.mp3"));
        QCOMPARE(control<QLineEdit>("txtFile")->text(), renamed);
        click("ReName");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QVERIFY(lastMessage().details.contains(QStringLiteral("уже называется")));
        choose(QString());
        QCOMPARE(m_dialogs->openStartPaths.last(), renamed);
    }

    void nothingSelectedIsNotReportedAsDone()
    {
        choose(addFile(QStringLiteral("blank.mp3"), {"", "Nova"}));
        QVERIFY(!check1(0)->isChecked() && !check1(1)->isChecked());
        click("ReName");
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("blank.mp3")});
        QVERIFY(lastMessage().text.contains(QStringLiteral("не переименован")));
        QVERIFY(lastMessage().text != QStringLiteral("Готово!"));
    }

    void fileAlreadyNamedIsDone()
    {
        choose(addFile(QStringLiteral("Nova_Blue Sky.mp3"), {"Blue Sky", "Nova"}));
        click("ReName");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Nova_Blue Sky.mp3")});
    }

    void existingTargetStaysAndTheFailureIsShown()
    {
        const QString path = addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova"});
        const QString target = addFile(QStringLiteral("Nova_Blue Sky.mp3"), {"Other", "Tag"});
        const QByteArray before = testing::readFile(target);
        choose(path);
        click("ReName");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(lastMessage().text.contains(QStringLiteral("уже существует")));
        QVERIFY(lastMessage().text.contains(path));
        QCOMPARE(testing::readFile(target), before);
        QVERIFY(QFile::exists(path));
    }

    void renameBeforeAnyChoiceIsAnErrorNotACrash()
    {
        click("ReName");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        choose(QString());
        click("ReName");
        QCOMPARE(m_dialogs->messages.size(), 2);
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(m_window->isVisible());
    }

    void tagTextWithASeparatorMovesNothing()
    {
        const QString path = addFile(QStringLiteral("song.mp3"), {"x", "../.."});
        choose(path);
        click("ReName");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("song.mp3")});
    }

    void folderRunThroughTheWindow()
    {
        addFile(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        addFile(QStringLiteral("b.mp3"), {"", "Blank"});
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(m_dialogs->folderTitles, QStringList{QStringLiteral("Select Folder")});
        QCOMPARE(folderEntries(),
                 (QStringList{QStringLiteral("Nova_Blue Sky.mp3"), QStringLiteral("b.mp3")}));
        QCOMPARE(lastMessage().text, QStringLiteral("1 файлов не переименовано!"));
        QCOMPARE(lastMessage().icon, MessageIcon::Information);
        QCOMPARE(control<QLineEdit>("txtFile")->text(), QString());
        QVERIFY(lastMessage().details.contains(QStringLiteral("«b.mp3»: в теге нет названия")));
        // The fields show the last file's tag once the run is over.
        QCOMPARE(text1(1)->text(), QStringLiteral("Blank"));
        QCOMPARE(text1(5)->text(), QStringLiteral("Other"));
        // After the run there is no file to rename.
        click("ReName");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
    }

    // The name rules through the window's folder run: an empty tag under album and year makes
    // no name; a byte windows-1252 leaves undefined is a control character; a long ID3v2 title
    // is cut to 255 bytes, and the details say so.
    void folderRunKeepsTheNameRules()
    {
        addFile(QStringLiteral("1 empty.mp3"), {"", "", "", ""});
        addFile(QStringLiteral("2 control.mp3"), {"Bad\x9Dtitle", "Nova"});
        QString longTitle;
        while (longTitle.size() < 300)
            longTitle += QStringLiteral("Ab ");
        QVERIFY(testing::writeFile(m_dir->filePath(QStringLiteral("3 long.mp3")),
                                   testing::id3v2Tag(3, {{"TIT2", testing::text(0, longTitle)},
                                                         {"TPE1", testing::text(0, "Nova")},
                                                         {"TALB", testing::text(0, "Alb")},
                                                         {"TYER", testing::text(0, "2001")}}) +
                                       QByteArray(500, '\xFB')));
        check1(2)->setChecked(true);
        check1(3)->setChecked(true);
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(lastMessage().text, QStringLiteral("2 файлов не переименовано!"));
        const QString details = lastMessage().details;
        // A refused name is shown as it was made, the refused character marked.
        QVERIFY2(details.contains(QStringLiteral("«1 empty.mp3» → «_.mp3»: в теге нет названия.")),
                 qPrintable(details));
        QVERIFY2(
            details.contains(QStringLiteral("«2 control.mp3» → «Nova___Bad⟦\\xc2\\x9d⟧title.mp3»: "
                                            "в имени управляющий символ U+009D.")),
            qPrintable(details));
        // 251 bytes before ".mp3", less the space the cut left.
        const QString shortName = QStringLiteral("Nova_Alb_2001_") + longTitle.left(236) + ".mp3";
        QCOMPARE(longTitle.at(236), QLatin1Char(' '));
        QCOMPARE(folderEntries(), (QStringList{QStringLiteral("1 empty.mp3"),
                                               QStringLiteral("2 control.mp3"), shortName}));
        QVERIFY2(
            details.contains(QStringLiteral("«3 long.mp3» → «%1»: имя сокращено.").arg(shortName)),
            qPrintable(details));
    }

    void subfolderQuestion_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QStringList>("renamed");
        QTest::newRow("Да") << Answer::Yes
                            << QStringList{"Nova_Top.mp3", "sub/Nova_A.mp3",
                                           "sub/deeper/Nova_B.mp3"};
        QTest::newRow("Нет") << Answer::No << QStringList{"Nova_Top.mp3"};
        QTest::newRow("Отмена") << Answer::Cancel << QStringList{};
    }

    // Subfolders with MP3 files bring one question; the answer decides what is renamed.
    void subfolderQuestion()
    {
        QFETCH(Answer, answer);
        QFETCH(QStringList, renamed);
        addFile(QStringLiteral("top.mp3"), {"Top", "Nova"});
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("sub/deeper")));
        addFile(QStringLiteral("sub/a.mp3"), {"A", "Nova"});
        addFile(QStringLiteral("sub/deeper/b.mp3"), {"B", "Nova"});
        m_dialogs->answers.enqueue(answer);
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(m_dialogs->questions,
                 QStringList{QStringLiteral(
                     "В подпапках тоже есть MP3-файлы: 2 в 2 папках. Переименовать и их?")});
        QStringList found;
        for (QDirIterator it(m_dir->path(), QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString name = QDir(m_dir->path()).relativeFilePath(it.next());
            if (name.contains(QLatin1String("Nova_")))
                found << name;
        }
        found.sort();
        QCOMPARE(found, renamed);
        QCOMPARE(m_dialogs->summaries.size(), answer == Answer::Cancel ? 0 : 1);
    }

    // A run is taken back from its summary, and again with Ctrl+Z only while there is one not
    // yet undone; a run whose journal cannot be written still runs, after saying so once.
    void undoFromTheSummaryAndCtrlZ()
    {
        addFile(QStringLiteral("01 intro.mp3"), {"Intro", "Nova"});
        addFile(QStringLiteral("02 blank.mp3"), {"", "Nova"});
        const QStringList before = folderEntries();
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        m_dialogs->undoAnswers.enqueue(true);
        click("cmdFolder");
        QCOMPARE(m_dialogs->summaries.size(), 2);
        QVERIFY(m_dialogs->summaries.first().offerUndo);
        QCOMPARE(m_dialogs->summaries.last().text, QStringLiteral("Прежние имена возвращены."));
        QVERIFY(!m_dialogs->summaries.last().offerUndo);
        QCOMPARE(folderEntries(), before);

        // Again, closing the summary; then Ctrl+Z asks and takes it back.
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(folderEntries(),
                 (QStringList{QStringLiteral("02 blank.mp3"), QStringLiteral("Nova_Intro.mp3")}));
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        // The question names the run: when, where, how many.
        const QString asked = m_dialogs->questions.last();
        QVERIFY2(asked.startsWith(QStringLiteral("Вернуть прежние имена переименования ")) &&
                     asked.contains(QuotedPath(m_dir->path())) &&
                     asked.endsWith(QStringLiteral("(1 файл)?")),
                 qPrintable(asked));
        QCOMPARE(folderEntries(), before);
        // Nothing is left to take back.
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QCOMPARE(m_dialogs->questions.size(), 1);
        QCOMPARE(lastMessage().text, QStringLiteral("Нет переименования, которое можно отменить."));

        // A state folder that cannot be made: said once, and the run goes on.
        QVERIFY(testing::writeFile(m_state->filePath(QStringLiteral("blocked")), "a file"));
        qputenv("XDG_STATE_HOME", m_state->filePath(QStringLiteral("blocked")).toUtf8());
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(m_dialogs->messages.at(m_dialogs->messages.size() - 2).text,
                 QStringLiteral("Журнал не записан: переименование нельзя будет отменить."));
        QVERIFY(!m_dialogs->summaries.last().offerUndo);
        QVERIFY(folderEntries().contains(QStringLiteral("Nova_Intro.mp3")));
    }

    // A run killed midway leaves a journal neither complete nor held: the next start asks, "Нет"
    // the default; Да takes every renamed file back; Нет leaves it, and it is not asked again;
    // Escape asks again at the next start. Another instance's run under way is not asked about.
    void interruptedRunIsOfferedAtStart()
    {
        addFile(QStringLiteral("a.mp3"), {"A", "Nova"});
        addFile(QStringLiteral("b.mp3"), {"B", "Nova"});
        const QStringList before = folderEntries();
        const auto killedRun = [this] {
            QString error;
            auto journal =
                JournalWriter::create(JournalKind::Run, QFile::encodeName(m_dir->path()), error);
            QVERIFY(journal);
            MemoryFieldModel model;
            model.setFolderPath(m_dir->path());
            FolderRunOptions options;
            options.journal = journal.get();
            RenameFolder(model, options);
            // Killed before the end: the journal is not closed.
            const QString path = journal->path();
            const QByteArray bytes = testing::readFile(path);
            journal.reset();
            QFile rewrite(path);
            QVERIFY(rewrite.open(QIODevice::WriteOnly | QIODevice::Truncate));
            rewrite.write(bytes.left(bytes.indexOf("end\t")));
        };
        {
            // A run under way (here: held by this process): nobody asks about it.
            killedRun();
            const int asked = m_dialogs->questions.size();
            HoldJournal(newestJournalPath());
            m_window->CheckInterruptedRuns();
            QTest::qWait(300);
            QCOMPARE(m_dialogs->questions.size(), asked);
            LetGoOfJournal(newestJournalPath());
            UndoJournalNewest();
            QCOMPARE(folderEntries(), before);
        }
        for (const QString& path : JournalPaths())
            QFile::remove(path);
        for (const Answer answer : {Answer::Cancel, Answer::No, Answer::Yes}) {
            killedRun();
            m_dialogs->answers.enqueue(answer);
            const int asked = m_dialogs->questions.size();
            m_window->CheckInterruptedRuns();
            QTRY_COMPARE(m_dialogs->questions.size(), asked + 1);
            const QString question = m_dialogs->questions.last();
            QVERIFY2(question.startsWith(QStringLiteral("Прошлое переименование было прервано")) &&
                         question.endsWith(QStringLiteral(": 2 файла под новыми именами. Вернуть "
                                                          "прежние имена?")),
                     qPrintable(question));
            if (answer == Answer::Cancel) {
                // Asked again at the next start, then left as it is.
                m_dialogs->answers.enqueue(Answer::No);
                m_window->CheckInterruptedRuns();
                QTRY_COMPARE(m_dialogs->questions.size(), asked + 2);
            }
            m_window->CheckInterruptedRuns();
            QTest::qWait(300);
            QCOMPARE(m_dialogs->questions.size(), asked + (answer == Answer::Cancel ? 2 : 1));
            if (answer != Answer::Yes) {
                QCOMPARE(folderEntries(),
                         (QStringList{QStringLiteral("Nova_A.mp3"), QStringLiteral("Nova_B.mp3")}));
                UndoJournalNewest();
            }
            QCOMPARE(folderEntries(), before);
        }
    }

    // A run longer than a second shows progress, keeps the window answering, and stops at
    // Cancel with a true count.
    void longRunShowsProgressAndStopsAtCancel()
    {
        addSongsOnASlowStick(120);
        const testing::SeamGuard seam;
        slowRenames();
        int ticks = 0;
        QTimer desktop;
        connect(&desktop, &QTimer::timeout, [&] { ++ticks; });
        desktop.start(50);
        m_dialogs->cancelAfterUpdates = 3;
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");

        QCOMPARE(m_dialogs->progressShown, 1);
        QVERIFY(ticks >= 10); // timer events came through while the run went on
        const auto last = m_dialogs->progressUpdates.last();
        QCOMPARE(last.fileName, QStringLiteral("%1.mp3").arg(last.done, 3, 10, QLatin1Char('0')));
        // Nothing was renamed from the file shown at Cancel on.
        const QStringList entries = folderEntries();
        QCOMPARE(entries.filter(QStringLiteral("Nova_")).size(), last.done);
        QCOMPARE(lastMessage().text,
                 QStringLiteral("%1 файлов не переименовано!").arg(120 - last.done));
        QCOMPARE(m_dialogs->summaries.last().countLine,
                 Plural(last.done, "Переименован %1 файл.", "Переименовано %1 файла.",
                        "Переименовано %1 файлов."));
        QCOMPARE(m_dialogs->summaries.last().secondLine,
                 Plural(120 - last.done, "Остановлено: %1 файл не обработан.",
                        "Остановлено: %1 файла не обработано.",
                        "Остановлено: %1 файлов не обработано."));
        const QStringList lines = lastMessage().details.split(QLatin1Char('\n'));
        QCOMPARE(lines.filter(QStringLiteral("остановлено")).size(), 120 - last.done);
        QVERIFY(lines.at(1).startsWith(QStringLiteral("«%1»").arg(last.fileName)));
    }

    // Closing the window during a run stops it before the next file, as Cancel does; no summary
    // is shown, and the window closes once the run has stopped.
    void closingTheWindowStopsTheRun()
    {
        addSongsOnASlowStick(120);
        const testing::SeamGuard seam;
        slowRenames();
        QTimer::singleShot(300, m_window.get(), [this] { m_window->close(); });
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_dialogs->summaries.isEmpty());
        const int renamed = folderEntries().filter(QStringLiteral("Nova_")).size();
        QVERIFY2(renamed > 0 && renamed < 120, qPrintable(QString::number(renamed)));
    }

    // A short run shows no progress dialog at all.
    void shortRunShowsNoProgress()
    {
        addFile(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(m_dialogs->progressShown, 0);
        QVERIFY(m_dialogs->questions.isEmpty());
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QVERIFY(lastMessage().details.isEmpty());
    }

    void cancelledFolderChoiceDoesNothing()
    {
        addFile(QStringLiteral("a.mp3"), {"Blue Sky", "Nova"});
        click("cmdFolder");
        QCOMPARE(m_dialogs->folderTitles.size(), 1);
        QVERIFY(m_dialogs->messages.isEmpty());
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("a.mp3")});
    }

    void unreadableFolderIsShown()
    {
        choose(addFile(QStringLiteral("song.mp3"), {"Blue Sky", "Nova"}));
        m_dialogs->folderAnswers.enqueue(m_dir->filePath(QStringLiteral("gone")));
        click("cmdFolder");
        QCOMPARE(lastMessage().icon, MessageIcon::Warning);
        QVERIFY(lastMessage().text.contains(m_dir->filePath(QStringLiteral("gone"))));
        // The window shows and takes tags as before.
        QCOMPARE(text1(0)->text(), QStringLiteral("Blue Sky"));
        text1(0)->setText(QStringLiteral("Edited"));
        QCOMPARE(text1(0)->text(), QStringLiteral("Edited"));
        click("ReName");
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Nova_Edited.mp3")});
    }

    void folderWithoutMp3FilesSaysSo()
    {
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
        QVERIFY(lastMessage().details.contains(QStringLiteral("нет файлов MP3")));
    }

    // The one test of the real message box: polled until it is up, then checked and closed.
    void realMessageBox()
    {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->buttons();
            box->accept();
        });
        poll.start(20);
        QtDialogs().showMessage(m_window.get(), MessageIcon::Information, QStringLiteral("Готово!"),
                                QString());
        QCOMPARE(title, QStringLiteral("Sorvane"));
        QCOMPARE(text, QStringLiteral("Готово!"));
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons.size(), 1);
    }

    // A screen reader hears the progress dialog's folder and its count in steps: a few dozen
    // value changes at most over a run of 3,000 files, and no label read out file by file.
    // Without a screen reader's bus Qt sends no accessibility events at all, so the test counts
    // the bar's valueChanged, which Qt emits at exactly the setValue calls that announce.
    void progressIsAnnouncedAtASaneRate()
    {
        int valueChanges = 0;
        QStringList labelNames;
        {
            const auto progress = QtDialogs().showProgress(m_window.get(), 3000, m_dir->path());
            auto* bar = m_window->findChild<QProgressBar*>();
            auto* label = m_window->findChild<QProgressDialog*>()->findChild<QLabel*>();
            QVERIFY(bar && label);
            QCOMPARE(bar->accessibleName(), m_dir->path());
            connect(bar, &QProgressBar::valueChanged, [&] { ++valueChanges; });
            for (int done = 0; done <= 3000; ++done) {
                progress->setProgress(done, QStringLiteral("%1.mp3").arg(done));
                labelNames << label->accessibleName();
            }
        }
        QVERIFY2(valueChanges >= 10 && valueChanges <= 30,
                 qPrintable(QString::number(valueChanges)));
        // A fixed name: Qt announces a label's text only while it has none.
        labelNames.removeDuplicates();
        QCOMPARE(labelNames, QStringList{QStringLiteral("Ход переименования")});
    }

    // The real question and summary: the question's buttons speak Russian whatever Qt's
    // translations say, Да is the default and Escape cancels; the summary's details are a view
    // that copies and saves exactly its lines.
    void realQuestionAndSummary()
    {
        QStringList captions;
        QString defaultCaption;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QAbstractButton* button : box->buttons())
                captions << button->text();
            defaultCaption = box->defaultButton()->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        poll.start(20);
        QCOMPARE(QtDialogs().ask(m_window.get(), QStringLiteral("?")), Answer::Cancel);
        poll.stop();
        captions.sort();
        QCOMPARE(captions, (QStringList{"Да", "Нет", "Отмена"}));
        QCOMPARE(defaultCaption, QStringLiteral("Да"));

        Summary summary;
        summary.text = QStringLiteral("1 файлов не переименовано!");
        summary.folder = m_dir->path();
        summary.rows =
            DetailsTable({{"a/b.mp3", "Nova_X.mp3", "файл «Nova_X.mp3» уже существует"},
                          {"c.mp3", QString(), "нет тега (ни ID3v1, ни ID3v2, ни APEv2)"},
                          {"d.mp3", QString(250, QLatin1Char('x')) + ".mp3", "имя сокращено"}});
        const QString saved = m_dir->filePath(QStringLiteral("details.txt"));
        int rows = 0;
        bool reasonInView = false;
        bool widened = false;
        bool written = false;
        QTimer pollSummary;
        connect(&pollSummary, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<SummaryDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            const auto* view = dialog->findChild<QTableView*>(QStringLiteral("details"));
            rows = view->model()->rowCount();
            // The reasons start in view, however long a new name is, and the new names widen
            // with the dialog.
            reasonInView = view->horizontalHeader()->sectionViewportPosition(2) <
                           view->viewport()->width() * 3 / 4;
            const int narrow = view->horizontalHeader()->sectionSize(1);
            dialog->resize(dialog->width() * 2, dialog->height());
            QCoreApplication::processEvents();
            widened = view->horizontalHeader()->sectionSize(1) > narrow * 3 / 2;
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("copy")),
                              Qt::LeftButton);
            written = dialog->saveTo(saved);
            dialog->accept();
        });
        pollSummary.start(20);
        QtDialogs().showSummary(m_window.get(), summary);
        QCOMPARE(rows, 3);
        QVERIFY(reasonInView);
        QVERIFY(widened);
        const QString expected =
            QStringLiteral("Папка «%1».\n«a/b.mp3» → «Nova_X.mp3»: файл «Nova_X.mp3» уже "
                           "существует.\n«c.mp3»: нет тега (ни ID3v1, ни ID3v2, ни APEv2).\n"
                           "«d.mp3» → «%2.mp3»: имя сокращено.")
                .arg(m_dir->path(), QString(250, QLatin1Char('x')));
        QCOMPARE(QApplication::clipboard()->text(), expected);
        QVERIFY(written);
        QCOMPARE(testing::readFile(saved), (expected + QLatin1Char('\n')).toUtf8());
    }

    // A single rename is taken back by Ctrl+Z like a run, the newest first, whichever kind, and
    // the question names what it takes back.
    void singleRenameIsUndone()
    {
        const QString path = addFile(QStringLiteral("track01.mp3"), {"Blue Sky", "Nova"});
        choose(path);
        click("ReName");
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Nova_Blue Sky.mp3")});
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QVERIFY2(m_dialogs->questions.last().startsWith(
                     QStringLiteral("Вернуть прежнее имя файлу, переименованному ")),
                 qPrintable(m_dialogs->questions.last()));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("track01.mp3")});
        QCOMPARE(m_dialogs->summaries.last().text, QStringLiteral("Прежние имена возвращены."));
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QCOMPARE(lastMessage().text, QStringLiteral("Нет переименования, которое можно отменить."));
    }

    // Ctrl+Z in a field takes back the user's typing there first; with none, it takes back the
    // last rename, as anywhere in the window.
    void undoKeyInAField()
    {
        const QString path = addFile(QStringLiteral("track01.mp3"), {"Blue Sky", "Nova"});
        choose(path);
        click("ReName");
        QLineEdit* title = text1(0);
        title->setFocus();
        QTest::keyClicks(title, QStringLiteral("!"));
        const qsizetype asked = m_dialogs->questions.size();
        QTest::keySequence(title, QKeySequence::Undo);
        QCOMPARE(title->text(), QStringLiteral("Blue Sky"));
        QCOMPARE(m_dialogs->questions.size(), asked);
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(title, QKeySequence::Undo);
        QCOMPARE(m_dialogs->questions.size(), asked + 1);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("track01.mp3")});
    }

    // Cancel during an undo leaves the rest undoable, and says how many files are not back; a
    // second undo finishes it.
    void cancelledUndoIsFinishedByTheNext()
    {
        addSongsOnASlowStick(100);
        const QStringList before = folderEntries();
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        QCOMPARE(folderEntries().filter(QStringLiteral("Nova_")).size(), 100);
        const testing::SeamGuard seam;
        slowRenames();
        m_dialogs->cancelAfterUpdates = m_dialogs->progressUpdates.size() + 3;
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        const Summary stopped = m_dialogs->summaries.last();
        const int left = folderEntries().filter(QStringLiteral("Nova_")).size();
        QVERIFY(left > 0 && left < 100);
        QCOMPARE(stopped.text, Plural(left, "%1 файл не возвращён!", "%1 файла не возвращено!",
                                      "%1 файлов не возвращено!"));
        QVERIFY(stopped.secondLine.startsWith(QStringLiteral("Остановлено:")));
        m_dialogs->cancelAfterUpdates = -1;
        Sys = RealSystemCalls();
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QCOMPARE(m_dialogs->summaries.last().text, QStringLiteral("Прежние имена возвращены."));
        QCOMPARE(folderEntries(), before);
    }

    // Where the undo's own records cannot be written (the state disk full), the window says so
    // before anything moves, and "Нет" moves nothing.
    void undoOnAFullStateDisk()
    {
        addFile(QStringLiteral("a.mp3"), {"A", "Nova"});
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        click("cmdFolder");
        const QStringList renamed = folderEntries();
        const testing::SeamGuard seam;
        Sys.fallocate = [](int, int, off_t, off_t) {
            errno = ENOSPC;
            return -1;
        };
        m_dialogs->answers.enqueue(Answer::Yes); // take the run back
        m_dialogs->answers.enqueue(Answer::No);  // not without records
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QVERIFY(!m_dialogs->questions.isEmpty());
        QVERIFY2(m_dialogs->questions.last().startsWith(QStringLiteral("Журнал отмены не записан")),
                 qPrintable(m_dialogs->questions.last()));
        QCOMPARE(folderEntries(), renamed);
        // "Да" goes on without them.
        m_dialogs->answers.enqueue(Answer::Yes);
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("a.mp3")});
    }

    // The real boxes answer the keys people press: Return and Escape close the summary and keep
    // the run; "Вернуть прежние имена" takes Tab and Space, or a click; Return on a question that
    // would change files answers "Нет".
    void keysOnTheRealBoxes()
    {
        Summary summary;
        summary.text = QStringLiteral("Готово!");
        summary.countLine = QStringLiteral("Переименовано 3 файла.");
        summary.folder = m_dir->path();
        summary.offerUndo = true;
        summary.offerReplace = true;
        summary.rows = DetailsTable({{"a.mp3", "Nova_A.mp3", "имя сокращено"}});
        const auto press = [&](std::function<void(QWidget*)> keys) {
            QTimer poll;
            QString focused;
            connect(&poll, &QTimer::timeout, [&] {
                QWidget* box = QApplication::activeModalWidget();
                if (!box || !box->isVisible())
                    return;
                poll.stop();
                focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                      : QString();
                keys(box);
            });
            poll.start(20);
            // Return must neither undo nor replace.
            const SummaryChoice chosen = QtDialogs().showSummary(m_window.get(), summary);
            return std::make_pair(chosen, focused);
        };
        const auto key = [](int code) {
            return
                [code](QWidget*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key(code)); };
        };
        // With details to show, and without (then the buttons are all there is to focus).
        for (const bool details : {true, false}) {
            if (!details)
                summary.rows = DetailsTable();
            const auto [afterReturn, focused] = press(key(Qt::Key_Return));
            QCOMPARE(afterReturn, SummaryChoice::Close);
            QCOMPARE(focused, QStringLiteral("ok"));
            QCOMPARE(press(key(Qt::Key_Enter)).first, SummaryChoice::Close);
            QCOMPARE(press(key(Qt::Key_Escape)).first, SummaryChoice::Close);
            // Tab to the undo button: Return still closes the box and keeps the run...
            const auto tabTo = [](const char* name, int then) {
                return [name, then](QWidget* box) {
                    for (int i = 0;
                         i < 8 && QApplication::focusWidget() &&
                         QApplication::focusWidget()->objectName() != QLatin1String(name);
                         ++i)
                        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                    // Not reached: the box is closed, and the test sees Close.
                    QWidget* focus = QApplication::focusWidget();
                    if (!focus || focus->objectName() != QLatin1String(name))
                        QTest::keyClick(box, Qt::Key_Escape);
                    else
                        QTest::keyClick(focus, Qt::Key(then));
                };
            };
            // ... Space presses it, as does a click; the same for the offer to replace.
            for (const auto& [name, choice] :
                 {std::pair{"undo", SummaryChoice::Undo}, {"replace", SummaryChoice::Replace}}) {
                QCOMPARE(press(tabTo(name, Qt::Key_Return)).first, SummaryChoice::Close);
                QCOMPARE(press(tabTo(name, Qt::Key_Space)).first, choice);
                QCOMPARE(press([name = name](QWidget* box) {
                             QTest::mouseClick(box->findChild<QPushButton*>(QLatin1String(name)),
                                               Qt::LeftButton);
                         }).first,
                         choice);
            }
            // Every button is reached by Tab, and Tab comes back round to OK.
            QStringList reached;
            press([&](QWidget* box) {
                for (int i = 0; i < 12; ++i) {
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                    const QString name = QApplication::focusWidget()->objectName();
                    if (name == QLatin1String("ok"))
                        break;
                    reached << name;
                }
                QTest::keyClick(box, Qt::Key_Escape);
            });
            QStringList buttons = {"replace", "undo"};
            if (details)
                buttons = QStringList{"details", "copy", "save"} + buttons;
            QCOMPARE(reached, buttons);
        }

        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll.stop();
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            }
        });
        poll.start(20);
        QCOMPARE(QtDialogs().askYesNo(m_window.get(), QStringLiteral("Вернуть прежние имена?")),
                 Answer::No);
    }

    // Names refused for a character: the summary offers them with the characters replaced, as a
    // run of its own that Ctrl+Z takes back alone; the other files are renamed as always.
    void refusedCharactersOffered()
    {
        addFile(QStringLiteral("1.mp3"), {"Thunderstruck", "AC/DC"});
        addFile(QStringLiteral("2.mp3"), {"Numb/Encore", "Jay"});
        addFile(QStringLiteral("3.mp3"), {"What's Up?", "Four"});
        m_dialogs->folderAnswers.enqueue(m_dir->path());
        m_dialogs->replaceAnswers.enqueue(true);
        click("cmdFolder");
        QCOMPARE(m_dialogs->summaries.size(), 2);
        const Summary first = m_dialogs->summaries.first();
        QVERIFY(first.offerReplace);
        QCOMPARE(first.text, QStringLiteral("2 файлов не переименовано!"));
        QVERIFY2(
            m_dialogs->messages.at(m_dialogs->messages.size() - 2)
                .details.contains(QStringLiteral("с заменой символов: «AC-DC_Thunderstruck.mp3»")),
            qPrintable(m_dialogs->messages.at(m_dialogs->messages.size() - 2).details));
        QCOMPARE(m_dialogs->summaries.last().text, QStringLiteral("Готово!"));
        QVERIFY(!m_dialogs->summaries.last().offerReplace);
        QCOMPARE(folderEntries(), (QStringList{QStringLiteral("AC-DC_Thunderstruck.mp3"),
                                               QStringLiteral("Four_What's Up?.mp3"),
                                               QStringLiteral("Jay_Numb-Encore.mp3")}));
        m_dialogs->answers.enqueue(Answer::Yes);
        QTest::keySequence(m_window.get(), QKeySequence::Undo);
        QVERIFY(m_dialogs->questions.last().endsWith(QStringLiteral("(2 файла)?")));
        QCOMPARE(folderEntries(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("2.mp3"),
                                               QStringLiteral("Four_What's Up?.mp3")}));
    }

    // A single file refused for a character: the message names it and offers the same table for
    // this one file; "Нет" renames nothing.
    void singleFileOffersTheTable()
    {
        const QString path = addFile(QStringLiteral("1.mp3"), {"Back in Black", "AC/DC"});
        choose(path);
        m_dialogs->answers.enqueue(Answer::No);
        click("ReName");
        QVERIFY2(
            m_dialogs->questions.last().contains(QStringLiteral("«/»")) &&
                m_dialogs->questions.last().contains(QStringLiteral("«AC-DC_Back in Black.mp3»")),
            qPrintable(m_dialogs->questions.last()));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("1.mp3")});
        m_dialogs->answers.enqueue(Answer::Yes);
        click("ReName");
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("AC-DC_Back in Black.mp3")});
        QCOMPARE(lastMessage().text, QStringLiteral("Готово!"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_frmmain.moc"
