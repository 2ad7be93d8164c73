#include "support/tagfiles.h"
#include "tag/tagtext.h"

#include <QStringEncoder>
#include <QtTest>

#include <vector>

using namespace sorvane;

namespace
{

struct Language {
    const char* name;
    int page; // the Windows page its taggers wrote
    std::vector<std::pair<const char*, const char*>> artistsAndTitles;
};

// Real artists and titles, as Windows taggers of each language wrote them.
const Language Languages[] = {
    {"Russian",
     1251,
     {
         {"Кино", "Группа крови"},
         {"Кино", "Звезда по имени Солнце"},
         {"ДДТ", "Что такое осень"},
         {"Аквариум", "Город золотой"},
         {"Земфира", "Хочешь?"},
         {"Сплин", "Выхода нет"},
         {"Мумий Тролль", "Владивосток 2000"},
         {"Алиса", "Трасса Е95"},
         {"Наутилус Помпилиус", "Прогулки по воде"},
         {"Агата Кристи", "Как на войне"},
         {"Чайф", "Оранжевое настроение"},
         {"Ленинград", "Экспонат"},
         {"Би-2", "Полковнику никто не пишет"},
         {"Король и Шут", "Лесник"},
         {"Ария", "Беспечный ангел"},
         {"Машина времени", "Поворот"},
         {"Сектор Газа", "Лирика"},
         {"Любэ", "Конь"},
         {"Кино", "Пачка сигарет"},
         {"Звери", "Районы-кварталы"},
         {"Гражданская оборона", "Всё идёт по плану"},
         {"Пикник", "Фиолетово-чёрный"},
         {"Ночные снайперы", "31-я весна"},
         {"Високосный год", "Тихий огонёк"},
     }},
    {"Ukrainian",
     1251,
     {
         {"Океан Ельзи", "Обійми"},
         {"Океан Ельзи", "Без бою"},
         {"Бумбокс", "Вахтёрам"},
         {"ДахаБраха", "Шо з под дуба"},
         {"Скрябін", "Старі фотографії"},
         {"Воплі Відоплясова", "Весна"},
         {"Друга Ріка", "Секрет"},
         {"Тартак", "Я не хочу"},
         {"Плач Єремії", "Вона"},
         {"Kalush", "Стефанія"},
         {"Go_A", "Шум"},
         {"Jamala", "1944"},
         {"Один в каное", "Човен"},
         {"The Hardkiss", "Журавлі"},
         {"Антитіла", "Гинуть кораблі"},
         {"Софія Ротару", "Червона рута"},
         {"Океан Ельзи", "Там, де нас нема"},
         {"Джамала", "Подих"},
         {"ТНМК", "Відчиняй"},
         {"Сестри Тельнюк", "Ой у полі"},
         {"Христина Соловій", "Тримай"},
         {"Onuka", "Відлік"},
         {"Мотор'ролла", "Вітер"},
         {"Кому Вниз", "Ода до радості"},
     }},
    {"Bulgarian",
     1251,
     {
         {"Щурците", "Клетва"},
         {"Щурците", "Рок в минзухара"},
         {"Сигнал", "Сбогом"},
         {"Тангра", "Ограбление"},
         {"Лили Иванова", "Камино"},
         {"Васил Найденов", "Обич"},
         {"Б.Т.Р.", "Спасение"},
         {"Ахат", "Пак сме тук"},
         {"Контрабанда", "Вечен кръг"},
         {"Ку-ку бенд", "Купон"},
         {"Остава", "Мъжете не плачат"},
         {"Мария Илиева", "Ще се върна"},
         {"Д2", "Пешеходец"},
         {"Уикеда", "Лека нощ"},
         {"Тоника СВ", "Приятели"},
         {"Емил Димитров", "Моя страна"},
         {"Добромир Киряков", "Мила моя"},
         {"Милена", "Нирвана"},
         {"Слави Трифонов", "Жената до мен"},
         {"Пейо Яворов", "Две хубави очи"},
         {"Кристиан Костов", "Красива"},
         {"Поли Генова", "Шампионът"},
         {"Йорданка Христова", "Ако си дал"},
         {"Медикус", "Безкрайна любов"},
     }},
    {"French",
     1252,
     {
         {"Édith Piaf", "La Vie en rose"},
         {"Édith Piaf", "Non, je ne regrette rien"},
         {"Stromae", "Alors on danse"},
         {"Zaz", "Je veux"},
         {"Céline Dion", "Pour que tu m'aimes encore"},
         {"Françoise Hardy", "Tous les garçons et les filles"},
         {"Daft Punk", "Harder, Better, Faster, Stronger"},
         {"Serge Gainsbourg", "Je t'aime... moi non plus"},
         {"Indochine", "J'ai demandé à la lune"},
         {"Mylène Farmer", "Désenchantée"},
         {"Jacques Brel", "Ne me quitte pas"},
         {"Noir Désir", "Le vent nous portera"},
         {"Christine and the Queens", "Christine"},
         {"Angèle", "Balance ton quoi"},
         {"Téléphone", "Ça (c'est vraiment toi)"},
         {"Maître Gims", "Bella"},
         {"Charles Aznavour", "La Bohème"},
         {"Renaud", "Mistral gagnant"},
         {"Vanessa Paradis", "Joe le taxi"},
         {"Louane", "Avenir"},
         {"Alizée", "Moi... Lolita"},
         {"Benjamin Biolay", "Ton héritage"},
         {"Étienne Daho", "Week-end à Rome"},
         {"Cœur de pirate", "Comme des enfants"},
     }},
    {"German",
     1252,
     {
         {"Rammstein", "Du hast"},
         {"Rammstein", "Sonne"},
         {"Nena", "99 Luftballons"},
         {"Die Ärzte", "Schrei nach Liebe"},
         {"Herbert Grönemeyer", "Männer"},
         {"Kraftwerk", "Autobahn"},
         {"Die Toten Hosen", "Tage wie diese"},
         {"Falco", "Rock Me Amadeus"},
         {"Einstürzende Neubauten", "Haus der Lüge"},
         {"Helene Fischer", "Atemlos durch die Nacht"},
         {"Peter Fox", "Schüttel deinen Speck"},
         {"Böhse Onkelz", "Nur die Besten sterben jung"},
         {"Xavier Naidoo", "Dieser Weg"},
         {"Wir sind Helden", "Müssen nur wollen"},
         {"Tokio Hotel", "Durch den Monsun"},
         {"Marius Müller-Westernhagen", "Freiheit"},
         {"Udo Lindenberg", "Sonderzug nach Pankow"},
         {"Silbermond", "Das Beste"},
         {"Juli", "Perfekte Welle"},
         {"Scooter", "Hyper Hyper"},
         {"Mark Forster", "Übermorgen"},
         {"AnnenMayKantereit", "Pocahontas"},
         {"Kraftklub", "Schüsse in die Luft"},
         {"Sportfreunde Stiller", "Ein Kompliment"},
     }},
    {"Icelandic",
     1252,
     {
         {"Björk", "Jóga"},
         {"Björk", "Hyperballad"},
         {"Sigur Rós", "Hoppípolla"},
         {"Sigur Rós", "Sæglópur"},
         {"Sigur Rós", "Viðrar vel til loftárása"},
         {"Sigur Rós", "Ágætis byrjun"},
         {"Sigur Rós", "Glósóli"},
         {"Ólafur Arnalds", "Þú ert sólin"},
         {"Ólafur Arnalds", "Ljósið"},
         {"Jónsi", "Go Do"},
         {"Of Monsters and Men", "Dirty Paws"},
         {"Emilíana Torrini", "Jungle Drum"},
         {"Múm", "Green Grass of Tunnel"},
         {"Hjaltalín", "Þú komst við hjartað í mér"},
         {"Mugison", "Stingum af"},
         {"Ásgeir", "Leyndarmál"},
         {"Sykurmolarnir", "Ammæli"},
         {"Stuðmenn", "Út á stoppistöð"},
         {"Páll Óskar", "Allt fyrir ástina"},
         {"Hjálmar", "Leiðin okkar allra"},
         {"Bubbi Morthens", "Rómeó og Júlía"},
         {"Amiina", "Hilli"},
         {"GusGus", "Over"},
         {"Kaleo", "Vor í Vaglaskógi"},
     }},
    {"Spanish",
     1252,
     {
         {"Shakira", "Ojos así"},
         {"Maná", "Rayando el sol"},
         {"Héroes del Silencio", "Entre dos tierras"},
         {"Soda Stereo", "De música ligera"},
         {"Rosalía", "Malamente"},
         {"Enrique Iglesias", "Bailando"},
         {"Julieta Venegas", "Limón y sal"},
         {"Juanes", "La camisa negra"},
         {"Café Tacvba", "Eres"},
         {"Mecano", "Hijo de la luna"},
         {"Luis Fonsi", "Despacito"},
         {"Alejandro Sanz", "Corazón partío"},
         {"Bebe", "Malo"},
         {"Joaquín Sabina", "Y nos dieron las diez"},
         {"La Oreja de Van Gogh", "Rosas"},
         {"Manu Chao", "Me gustas tú"},
         {"Jarabe de Palo", "La flaca"},
         {"Gloria Estefan", "Mi tierra"},
         {"Los Prisioneros", "El baile de los que sobran"},
         {"Camilo Sesto", "Vivir así es morir de amor"},
         {"Estopa", "Como Camarón"},
         {"Vetusta Morla", "Copenhague"},
         {"Amaral", "Sin ti no soy nada"},
         {"El Último de la Fila", "Insurrección"},
     }},
    {"Polish",
     1250,
     {
         {"Perfect", "Autobiografia"},
         {"Lady Pank", "Mniej niż zero"},
         {"Maanam", "Kocham cię, kochanie moje"},
         {"Dżem", "Whisky"},
         {"Kult", "Arahja"},
         {"Czesław Niemen", "Dziwny jest ten świat"},
         {"Myslovitz", "Długość dźwięku samotności"},
         {"Budka Suflera", "Jolka, Jolka pamiętasz"},
         {"Kombii", "Słodkiego miłego życia"},
         {"T.Love", "Warszawa"},
         {"Wilki", "Baśka"},
         {"Republika", "Biała flaga"},
         {"Edyta Górniak", "To nie ja"},
         {"Dawid Podsiadło", "Małomiasteczkowy"},
         {"Sanah", "Szampan"},
         {"Hey", "Teksański"},
         {"Kayah", "Testosteron"},
         {"Bajm", "Biała armia"},
         {"Krzysztof Krawczyk", "Parostatek"},
         {"Męskie Granie Orkiestra", "Świt"},
         {"Grzegorz Ciechowski", "Piosenka księżycowa"},
         {"Brodka", "Granda"},
         {"Kortez", "Zostań"},
         {"Ania Dąbrowska", "Trudno mi się przyznać"},
     }},
    {"Czech",
     1250,
     {
         {"Karel Gott", "Být stále mlád"},
         {"Lucie", "Černý anděl"},
         {"Olympic", "Jasná zpráva"},
         {"Kabát", "Pohoda"},
         {"Marta Kubišová", "Modlitba pro Martu"},
         {"Plastic People of the Universe", "Magické noci"},
         {"Chinaski", "Klára"},
         {"Michal Tučný", "Báječná ženská"},
         {"Jaromír Nohavica", "Těšínská"},
         {"Helena Vondráčková", "Dlouhá noc"},
         {"Lenka Filipová", "Zamilovaná"},
         {"Kryštof", "Inzerát"},
         {"Divokej Bill", "Čmelák"},
         {"Tomáš Klus", "Pánubohu do oken"},
         {"Mňága a Žďorp", "Hodnej kluk"},
         {"Wanastowi Vjecy", "Tak jsem tady"},
         {"Ewa Farna", "Měls mě vůbec rád"},
         {"Monkey Business", "Why Be in Love"},
         {"Ready Kirken", "Ráno"},
         {"Aneta Langerová", "Voda živá"},
         {"Buty", "Děda Mládek"},
         {"Traband", "Jdem zpátky do lesů"},
         {"Žlutý pes", "Ona se brání"},
         {"Čechomor", "Proměny"},
     }},
};

QByteArray inPage(const QString& text, int page)
{
    QStringEncoder encoder(QByteArray("windows-" + QByteArray::number(page)).constData());
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        qFatal("%s does not fit windows-%d", qPrintable(text), page);
    return bytes;
}

TagBytes bytesOf(const QByteArray& file)
{
    TagBytes bytes;
    bytes.tailSize = int(std::min<qsizetype>(file.size(), 128));
    std::memcpy(bytes.tail.data(), file.constData() + file.size() - bytes.tailSize,
                std::size_t(bytes.tailSize));
    if (file.startsWith("ID3")) {
        bytes.id3v2.bytes = file.left(file.size() - (bytes.hasID3v1() ? 128 : 0));
        WalkID3v2Frames(bytes.id3v2);
    }
    return bytes;
}

} // namespace

// The page is chosen per file: every title and artist of a language reads right whether the
// locale is Russian or Western, from an ID3v1 record and from ID3v2 frames marked ISO-8859-1.
// Polish and Czech, whose page has no other to try, read right under their own locale.
class PageChoiceTest : public QObject
{
    Q_OBJECT

private slots:
    void realNamesReadRight_data()
    {
        QTest::addColumn<int>("locale");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        for (const Language& language : Languages) {
            const std::vector<int> locales =
                language.page == 1250 ? std::vector<int>{1250} : std::vector<int>{1251, 1252};
            for (const int locale : locales) {
                for (const auto& [artist, title] : language.artistsAndTitles) {
                    QTest::addRow("%s under %d: %s", language.name, locale, title)
                        << locale << language.page << QString::fromUtf8(artist)
                        << QString::fromUtf8(title);
                }
            }
        }
    }

    void realNamesReadRight()
    {
        QFETCH(int, locale);
        QFETCH(int, page);
        QFETCH(QString, artist);
        QFETCH(QString, title);
        const TagTextDecoder decoder(locale);
        const QByteArray audio(64, '\xFB');

        const QByteArray id3v2 =
            testing::id3v2Tag(3, {{"TIT2", QByteArray(1, '\0') + inPage(title, page)},
                                  {"TPE1", QByteArray(1, '\0') + inPage(artist, page)}}) +
            audio;
        const TagText fromFrames = ParseTagBytes(bytesOf(id3v2), decoder, TagField::All, true);
        QCOMPARE(fromFrames.text[TagField::Title], title);
        QCOMPARE(fromFrames.text[TagField::Artist], artist);
        const auto ascii = [](const QString& text) {
            return std::all_of(text.begin(), text.end(),
                               [](QChar c) { return c.unicode() < 0x80; });
        };
        if (!ascii(title + artist))
            QCOMPARE(fromFrames.codePage, page);

        // The record holds 30 bytes of each, one per character in these pages.
        const QByteArray id3v1 =
            audio + testing::tagRecord({inPage(title, page), inPage(artist, page)});
        const TagText fromRecord = ParseTagBytes(bytesOf(id3v1), decoder, TagField::All, true);
        QCOMPARE(FieldModelText(fromRecord.text[TagField::Title]), title.left(30));
        QCOMPARE(FieldModelText(fromRecord.text[TagField::Artist]), artist.left(30));
    }

    // Forced on the command line, the page reads every file, right or not.
    void aForcedPageIsNotSwitched()
    {
        const QByteArray file =
            QByteArray(64, '\xFB') + testing::tagRecord({inPage("Café del Mar", 1252), "Señor"});
        const TagText chosen =
            ParseTagBytes(bytesOf(file), TagTextDecoder(1251), TagField::All, true);
        QCOMPARE(FieldModelText(chosen.text[TagField::Title]), QStringLiteral("Café del Mar"));
        const TagText forced =
            ParseTagBytes(bytesOf(file), TagTextDecoder(1251), TagField::All, false);
        QCOMPARE(FieldModelText(forced.text[TagField::Title]), QStringLiteral("Cafй del Mar"));
        QCOMPARE(forced.codePage, 1251);
    }

    // Where both pages read wrong, or the other leaves a byte undefined, the locale's stays.
    void theLocalePageStaysWhereTheOtherIsNoBetter_data()
    {
        QTest::addColumn<int>("locale");
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<int>("page");
        // "Bjцrk" wrong in 1251, but 0x81 is undefined in 1252.
        QTest::newRow("an undefined byte") << 1251 << QByteArray("Bj\xF6rk \x81") << 1251;
        // Cyrillic and Latin in one word in 1251; a run of high letters in 1252.
        QTest::newRow("wrong in both")
            << 1251 << QByteArray("Bj\xF6rk \xC3\xF0\xF3\xEF\xEF\xE0") << 1251;
        QTest::newRow("two high letters are not enough")
            << 1252 << QByteArray("\xD2\xFB \xE8 \xFF") << 1252; // "Ты и я"
        QTest::newRow("Greek locale, Western text") << 1253 << QByteArray("Caf\xE9") << 1252;
        QTest::newRow("a page with no other") << 1254 << QByteArray("Caf\xE9 \xD0") << 1254;
    }

    void theLocalePageStaysWhereTheOtherIsNoBetter()
    {
        QFETCH(int, locale);
        QFETCH(QByteArray, title);
        QFETCH(int, page);
        const QByteArray file = QByteArray(64, '\xFB') + testing::tagRecord({title, "A"});
        QCOMPARE(ParseTagBytes(bytesOf(file), TagTextDecoder(locale), TagField::All, true).codePage,
                 page);
    }

private:
    static QString FieldModelText(const QString& text) { return text.section(QChar::Null, 0, 0); }
};

QTEST_GUILESS_MAIN(PageChoiceTest)
#include "tst_pagechoice.moc"
