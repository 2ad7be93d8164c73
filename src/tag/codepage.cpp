#include "tag/codepage.h"

#include <QList>
#include <QStringEncoder>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

namespace sorvane
{

namespace
{

bool isOneOf(const QByteArray& value, std::initializer_list<const char*> list)
{
    return std::any_of(list.begin(), list.end(), [&](const char* item) { return value == item; });
}

bool isDoubleByte(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

} // namespace

int AnsiCodePageForLocale(const QByteArray& localeName)
{
    // language[_territory][.codeset][@modifier]
    QByteArray name = localeName;
    QByteArray modifier;
    if (const auto at = name.indexOf('@'); at >= 0) {
        modifier = name.mid(at + 1).toLower();
        name.truncate(at);
    }
    if (const auto dot = name.indexOf('.'); dot >= 0)
        name.truncate(dot);
    QByteArray language = name;
    QByteArray territory;
    if (const auto underscore = name.indexOf('_'); underscore >= 0) {
        language = name.left(underscore);
        territory = name.mid(underscore + 1).toUpper();
    }
    language = language.toLower();

    if (modifier == "latin" && isOneOf(language, {"sr", "be", "uz"}))
        return language == "uz" ? 1254 : 1250;
    if (modifier == "cyrillic" && isOneOf(language, {"uz", "az", "bs"}))
        return 1251;
    if (isOneOf(language, {"ru", "uk", "be", "bg", "sr",  "mk", "kk", "ky",  "tg",  "mn",  "tt",
                           "ba", "cv", "os", "ce", "sah", "av", "kv", "udm", "mhr", "myv", "mdf"}))
        return 1251;
    if (isOneOf(language, {"cs", "pl", "sk", "hu", "hr", "sl", "ro", "sq", "bs", "hsb", "dsb"}))
        return 1250;
    if (language == "el")
        return 1253;
    if (isOneOf(language, {"tr", "az", "uz"}))
        return 1254;
    if (isOneOf(language, {"he", "iw", "yi"}))
        return 1255;
    if (isOneOf(language, {"ar", "fa", "ur", "ps", "sd", "ug", "ckb"}))
        return 1256;
    if (isOneOf(language, {"lt", "lv", "et", "ltg", "sgs"}))
        return 1257;
    if (language == "vi")
        return 1258;
    if (language == "th")
        return 874;
    if (language == "ja")
        return 932;
    if (language == "ko")
        return 949;
    if (language == "zh")
        return isOneOf(territory, {"TW", "HK", "MO"}) ? 950 : 936;
    return 1252;
}

namespace
{
int g_chosenCodePage = 0;

// QStringDecoder keeps state while it decodes, so each thread has its own.
QStringDecoder& threadDecoder(const QByteArray& name)
{
    thread_local std::vector<std::pair<QByteArray, QStringDecoder>> decoders;
    for (auto& [page, decoder] : decoders) {
        if (page == name)
            return decoder;
    }
    decoders.emplace_back(name,
                          QStringDecoder(name.constData(), QStringConverter::Flag::Stateless));
    return decoders.back().second;
}

} // namespace

void ChooseAnsiCodePage(int codePage)
{
    g_chosenCodePage = codePage;
}

bool AnsiCodePageForced()
{
    return g_chosenCodePage != 0;
}

bool IsSingleBytePage(int codePage)
{
    return !isDoubleByte(codePage);
}

QString CodePageName(int codePage)
{
    switch (codePage) {
    case 932:
        return QStringLiteral("shift_jis");
    case 936:
        return QStringLiteral("gbk");
    case 949:
        return QStringLiteral("euc-kr");
    case 950:
        return QStringLiteral("big5");
    default:
        return QStringLiteral("windows-%1").arg(codePage);
    }
}

int CodePageForName(const QString& name)
{
    QString key = name.trimmed().toLower();
    static const std::pair<const char*, int> Aliases[] = {
        {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"gbk", 936},
        {"gb2312", 936},    {"euc-kr", 949},    {"big5", 950}};
    for (const auto& [alias, page] : Aliases) {
        if (key == QLatin1String(alias))
            return page;
    }
    for (const char* prefix : {"windows-", "windows", "cp-", "cp"}) {
        if (key.startsWith(QLatin1String(prefix))) {
            key = key.mid(int(std::strlen(prefix)));
            break;
        }
    }
    bool number = false;
    const int page = key.toInt(&number);
    const bool known = page == 874 || page == 932 || page == 936 || page == 949 || page == 950 ||
                       (page >= 1250 && page <= 1258);
    return number && known ? page : 0;
}

int SystemAnsiCodePage()
{
    if (g_chosenCodePage != 0)
        return g_chosenCodePage;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const QByteArray value = qgetenv(variable);
        if (!value.isEmpty())
            return AnsiCodePageForLocale(value);
    }
    return 1252;
}

TagTextDecoder::TagTextDecoder(int codePage)
    : m_codePage(codePage), m_singleByte(!isDoubleByte(codePage)),
      m_name("windows-" + QByteArray::number(codePage))
{
    QStringDecoder page(m_name.constData(), QStringConverter::Flag::Stateless);
    if (!page.isValid())
        m_singleByte = true; // a page Qt does not know: Latin-1, byte for byte
    if (!m_singleByte)
        return;
    // Decode every byte once; from then on a field is a table lookup per byte. A byte the page
    // leaves undefined becomes the control character of the same number, as Windows maps it.
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const QString one = page.isValid() ? page.decode(QByteArrayView(&c, 1)) : QString();
        const bool usable = one.size() == 1 && one.at(0) != QChar::ReplacementCharacter;
        m_table[byte] = usable ? one.at(0).unicode() : static_cast<char16_t>(byte);
    }
    for (int byte = 0x80; byte < 256; ++byte) {
        if (!undefined(static_cast<unsigned char>(byte)))
            m_bytesOf[std::size_t(m_bytesOfCount++)] = {m_table[byte],
                                                        static_cast<unsigned char>(byte)};
    }
    // Sorted by character, then byte: the first of a character's bytes is its lowest.
    std::sort(m_bytesOf.begin(), m_bytesOf.begin() + m_bytesOfCount);
}

QString TagTextDecoder::decode(QByteArrayView bytes) const
{
    if (!m_singleByte)
        return threadDecoder(m_name).decode(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes)
        *out++ = QChar(m_table[static_cast<unsigned char>(byte)]);
    return text;
}

int TagTextDecoder::byteOf(char32_t point) const
{
    if (point < 0x80 && m_table[point] == point)
        return int(point);
    if (point >= 0x10000)
        return -1;
    const auto end = m_bytesOf.begin() + m_bytesOfCount;
    const auto found = std::lower_bound(
        m_bytesOf.begin(), end, char16_t(point),
        [](const std::pair<char16_t, unsigned char>& held, char16_t c) { return held.first < c; });
    return found != end && found->first == point ? found->second : -1;
}

QByteArray TagTextDecoder::encode(QStringView text, char replacement) const
{
    if (!m_singleByte) {
        QByteArray bytes;
        bytes.reserve(text.size());
        // A character beyond the BMP is one character to a tagger, one "?".
        QStringEncoder encoder(m_name.constData(), QStringConverter::Flag::Stateless);
        for (const uint point : text.toUcs4()) {
            const char32_t one[] = {char32_t(point)};
            encoder.resetState();
            const QByteArray encoded = encoder.encode(QString::fromUcs4(one, 1));
            if (!encoder.hasError() && !encoded.isEmpty())
                bytes += encoded;
            else if (replacement != 0)
                bytes += replacement;
        }
        return bytes;
    }
    // A byte at most for each UTF-16 unit: a pair is one character, which no such page holds.
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (qsizetype at = 0; at < text.size(); ++at) {
        char32_t point = text[at].unicode();
        if (QChar::isHighSurrogate(point) && at + 1 < text.size() &&
            text[at + 1].isLowSurrogate()) {
            point = QChar::surrogateToUcs4(text[at], text[at + 1]);
            ++at;
        }
        if (const int byte = byteOf(point); byte >= 0)
            *out++ = static_cast<char>(byte);
        else if (replacement != 0)
            *out++ = replacement;
    }
    bytes.truncate(out - bytes.constData());
    return bytes;
}

const TagTextDecoder& TagTextDecoder::system()
{
    static const TagTextDecoder decoder(SystemAnsiCodePage());
    return decoder;
}

const TagTextDecoder& TagTextDecoder::forPage(int codePage)
{
    // Made once, before any reader thread asks: a static of its own is set up thread-safely.
    static const std::map<int, TagTextDecoder> pages = [] {
        std::map<int, TagTextDecoder> made;
        for (const int page :
             {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
            made.emplace(page, TagTextDecoder(page));
        return made;
    }();
    const auto found = pages.find(codePage);
    return found != pages.end() ? found->second : pages.at(1252);
}

} // namespace sorvane
