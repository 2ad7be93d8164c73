#include "support/scripteddialogs.h"
#include "support/tagfiles.h"
#include "ui/frmmain.h"

#include <QCryptographicHash>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace sorvane;
using sorvane::Answer;
using testing::ScriptedDialogs;
using testing::V1Tag;
namespace fs = std::filesystem;

namespace
{

// Every entry below a folder by its raw relative name: a file's content hash, a link's target,
// or a folder mark. Raw bytes, so names that are not valid UTF-8 are compared too.
std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = fs::relative(it->path(), root).native();
        const auto type = it->symlink_status().type();
        if (type == fs::file_type::symlink) {
            entries[name] = "link to " + fs::read_symlink(it->path()).native();
        } else if (type == fs::file_type::directory) {
            entries[name] = "folder";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            entries[name] = QCryptographicHash::hash(QByteArray::fromStdString(bytes.str()),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .toStdString();
        }
    }
    return entries;
}

std::multiset<std::string> contents(const std::map<std::string, std::string>& entries)
{
    std::multiset<std::string> values;
    for (const auto& [name, value] : entries)
        values.insert(value);
    return values;
}

std::set<std::string> names(const std::map<std::string, std::string>& entries)
{
    std::set<std::string> result;
    for (const auto& [name, value] : entries)
        result.insert(name);
    return result;
}

QByteArray cp1251(const char16_t* text)
{
    // Cyrillic А..я sit at 0xC0..0xFF in windows-1251.
    QByteArray bytes;
    for (const char16_t* c = text; *c; ++c)
        bytes.append(static_cast<char>(*c - 0x0410 + 0xC0));
    return bytes;
}

// An APEv2 tag at the end of a file, as some rippers leave it: items, then the 32-byte footer.
QByteArray apeTag()
{
    const auto le32 = [](int n) {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((n >> (8 * i)) & 0xFF);
        return bytes;
    };
    QByteArray items;
    for (const char* key : {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "MP3GAIN_MINMAX"})
        items += le32(7) + le32(0) + key + '\0' + "-6.5 dB";
    return items + "APETAGEX" + le32(2000) + le32(items.size() + 32) + le32(3) + le32(0) +
           QByteArray(8, '\0');
}

} // namespace

class MessyFolderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    fs::path m_music;
    int m_unique = 0;

    void add(const std::string& name, const QByteArray& bytes)
    {
        std::ofstream out(m_music / name, std::ios::binary);
        // A distinct first line in every file, so each file's bytes can be found exactly once.
        const QByteArray unique = "file " + QByteArray::number(++m_unique) + "\n";
        out.write(unique.constData(), unique.size());
        out.write(bytes.constData(), bytes.size());
    }
    void add(const std::string& name, const V1Tag& tag) { add(name, testing::mp3Bytes(tag)); }

private slots:
    void initTestCase()
    {
        // Tags written by a Russian user's tagger; the locale picks the page they decode with.
        qputenv("LC_ALL", "ru_RU.UTF-8");
        QVERIFY(m_root.isValid());
        const fs::path root = m_root.path().toStdString();
        m_music = root / "music";
        fs::create_directory(m_music);
        std::ofstream(root / "outside.mp3") << "a file beside the chosen folder";
        std::ofstream(root / "escape.mp3") << "a name a tag could reach with ..";

        add("01 good.mp3", V1Tag{"Blue Sky", "Nova", "Horizons", "1999"});
        add("02 good.mp3", V1Tag{"Red Sun", "Lumen"});
        add("03 collide.mp3", V1Tag{"Same", "Twin"});
        add("04 collide.mp3", V1Tag{"Same", "Twin"});
        add("05 exists.mp3", V1Tag{"Target", "Existing"});
        add("Existing_Target.mp3", V1Tag{"Target", "Existing"});
        add("06 short.mp3", QByteArray("too short for a tag"));
        add("07 blank.mp3", V1Tag{"", "Ghost"});
        add("08 blank.mp3", V1Tag{"      ", "Spaces"});
        // Names that would reach into the subfolder below and out of the folder, were they taken
        // as paths.
        add("09 slash.mp3", V1Tag{"folder.mp3/inside"});
        add("10 dotdot.mp3", V1Tag{"../escaped"});
        add("11 UPPER.MP3", V1Tag{"Loud", "Caps"});
        add("12 cyrillic.mp3", V1Tag{cp1251(u"Звезда"), cp1251(u"Кино")});
        // Without ID3v1, their last bytes must never become a name: an ID3v2 header that is not
        // at the start (add() puts a line first), and an APEv2 tag without a title.
        add("13 id3v2 only.mp3", "ID3\x04\x00\x00\x00\x00\x00\x10" + QByteArray(300, '\xFB') +
                                     "audio\nwith a newline" + QByteArray(120, '\x01'));
        add("14 apev2.mp3", QByteArray(300, '\xFB') + apeTag());
        add("15 control.mp3", V1Tag{"Line\nBreak", "Nova"});
        add("16 dot title.mp3", V1Tag{".x"});
        // 0x98 is the one byte windows-1251 leaves undefined: it reads as a C1 control.
        add("17 undefined byte.mp3", V1Tag{"Bad\x98", "Nova"});
        add("Kept_Name.mp3", V1Tag{"Name", "Kept"});
        add(".hidden.mp3", V1Tag{"Hidden", "Dot"});
        add("bad\xff name.mp3", V1Tag{"Bytes", "Raw"});
        add("notes.txt", V1Tag{"Not", "Music"});
        fs::create_directory(m_music / "folder.mp3");
        std::ofstream(m_music / "folder.mp3" / "inner.mp3") << "inside a folder named like a song";
        fs::create_symlink(root / "nowhere.mp3", m_music / "dangling.mp3");
    }

    void cleanupTestCase()
    {
        // QTemporaryDir cannot remove a name that is not valid UTF-8.
        fs::remove_all(m_music);
    }

    void wholeRunKeepsEveryFile()
    {
        const fs::path root = m_root.path().toStdString();
        const auto musicBefore = snapshot(m_music);
        auto outsideBefore = snapshot(root);

        ScriptedDialogs dialogs;
        frmMain window(dialogs);
        window.show();
        dialogs.folderAnswers.enqueue(QString::fromStdString(m_music.native()));
        // The folder named like a song holds an MP3 file: the question comes, and the whole
        // tree is renamed.
        dialogs.answers.enqueue(Answer::Yes);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdFolder")),
                          Qt::LeftButton);
        QCOMPARE(dialogs.questions,
                 QStringList{QStringLiteral(
                     "В подпапках тоже есть MP3-файлы: 1 в 1 папке. Переименовать и их?")});

        const auto musicAfter = snapshot(m_music);
        // Every file's bytes are still in the folder, each exactly once.
        QCOMPARE(contents(musicAfter), contents(musicBefore));
        QCOMPARE(musicAfter.size(), musicBefore.size());

        const std::set<std::string> expected = {
            "Nova_Blue Sky.mp3",
            "Lumen_Red Sun.mp3",
            "Twin_Same.mp3",
            "04 collide.mp3", // its name was taken by the file before it
            "05 exists.mp3",  // its target already exists
            "Existing_Target.mp3",
            "06 short.mp3",
            "07 blank.mp3",
            "08 blank.mp3",
            "09 slash.mp3",
            "10 dotdot.mp3",
            "13 id3v2 only.mp3",
            "14 apev2.mp3",
            "15 control.mp3",
            "16 dot title.mp3",
            "17 undefined byte.mp3",
            "Caps_Loud.mp3",
            QString::fromUtf8("Кино_Звезда.mp3").toStdString(),
            "Kept_Name.mp3",
            ".hidden.mp3",
            "Raw_Bytes.mp3", // a name not valid UTF-8 is renamed by its own bytes
            "notes.txt",
            "folder.mp3",
            "folder.mp3/inner.mp3",
            "dangling.mp3"};
        QCOMPARE(names(musicAfter), expected);
        QCOMPARE(musicAfter.at("Nova_Blue Sky.mp3"), musicBefore.at("01 good.mp3"));
        QCOMPARE(musicAfter.at("Twin_Same.mp3"), musicBefore.at("03 collide.mp3"));
        QCOMPARE(musicAfter.at("04 collide.mp3"), musicBefore.at("04 collide.mp3"));

        // Nothing outside the folder changed.
        auto outsideAfter = snapshot(root);
        for (auto* entries : {&outsideBefore, &outsideAfter}) {
            for (auto it = entries->begin(); it != entries->end();)
                it = it->first.rfind("music", 0) == 0 ? entries->erase(it) : std::next(it);
        }
        QCOMPARE(outsideAfter, outsideBefore);

        // Every file not renamed is in the details, in the order of the run, with its reason.
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages.last().text, QStringLiteral("13 файлов не переименовано!"));
        const std::pair<const char*, const char*> notRenamed[] = {
            {"04 collide.mp3", "→ «Twin_Same.mp3»: файл «Twin_Same.mp3» уже существует"},
            {"05 exists.mp3", "→ «Existing_Target.mp3»: файл «Existing_Target.mp3» уже существует"},
            {"06 short.mp3", "короче 128 байт"},
            {"07 blank.mp3", "в теге нет названия"},
            {"08 blank.mp3", "в теге нет названия"},
            {"09 slash.mp3", "⟦/⟧"},
            {"10 dotdot.mp3", "разделитель пути «/»"},
            {"13 id3v2 only.mp3", "нет тега (ни ID3v1, ни ID3v2, ни APEv2)"},
            {"14 apev2.mp3", "в теге нет названия"}, // an APEv2 tag without a title
            {"15 control.mp3", "управляющий символ"},
            {"16 dot title.mp3", "⟦.⟧"},
            {"17 undefined byte.mp3", "в имени управляющий символ U+0098"},
            {"folder.mp3/inner.mp3", "тега в нём нет"},
        };
        const QStringList lines = dialogs.messages.last().details.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + int(std::size(notRenamed)));
        QVERIFY(lines.at(0).contains(QString::fromStdString(m_music.native())));
        for (std::size_t i = 0; i < std::size(notRenamed); ++i) {
            const QString line = lines.at(int(i) + 1);
            QVERIFY2(line.startsWith(QStringLiteral("«%1»").arg(notRenamed[i].first)) &&
                         line.contains(QString::fromUtf8(notRenamed[i].second)),
                     qPrintable(line));
        }

        // A second run finds the same twelve and moves nothing.
        dialogs.folderAnswers.enqueue(QString::fromStdString(m_music.native()));
        dialogs.answers.enqueue(Answer::Yes);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdFolder")),
                          Qt::LeftButton);
        QCOMPARE(snapshot(m_music), musicAfter);
        QCOMPARE(dialogs.messages.last().text, QStringLiteral("13 файлов не переименовано!"));
    }
};

QTEST_MAIN(MessyFolderTest)
#include "tst_messyfolder.moc"
