#include "rename/printablename.h"

#include "rename/namerules.h"

namespace sorvane
{

namespace
{

// The code point of the UTF-8 sequence at `at` and its length, or a length of 0 where the bytes
// are not UTF-8 (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
std::pair<char32_t, int> decodeOne(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return quint8(bytes[i]); };
    const quint8 lead = byte(at);
    if (lead < 0x80)
        return {lead, 1};
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > bytes.size())
        return {0, 0};
    char32_t c = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0, 0};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {0, 0};
    return {c, length};
}

void appendHex(QString& text, quint8 byte)
{
    text += QStringLiteral("\\x") + QString::number(byte, 16).rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString PrintableName(QByteArrayView name, bool quoted)
{
    QString text;
    text.reserve(name.size());
    for (qsizetype at = 0; at < name.size();) {
        const auto [c, length] = decodeOne(name, at);
        if (length == 0 || IsControlCharacter(c)) {
            for (int i = 0; i < std::max(length, 1); ++i)
                appendHex(text, quint8(name[at + i]));
            at += std::max(length, 1);
            continue;
        }
        if (quoted && (c == U'\\' || c == U'"'))
            text += QLatin1Char('\\');
        if (c >= 0x10000)
            text += QChar(QChar::highSurrogate(c)), text += QChar(QChar::lowSurrogate(c));
        else
            text += QChar(char16_t(c));
        at += length;
    }
    return text;
}

bool ParsePrintableName(QStringView text, QByteArray& name)
{
    name.clear();
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c != QLatin1Char('\\')) {
            if (c.isHighSurrogate() && at + 1 < text.size()) {
                name += QStringView(text.mid(at, 2)).toUtf8();
                ++at;
            } else {
                name += QStringView(&c, 1).toUtf8();
            }
            continue;
        }
        if (at + 1 >= text.size())
            return false;
        const QChar next = text.at(++at);
        if (next == QLatin1Char('\\') || next == QLatin1Char('"')) {
            name += char(next.unicode());
        } else if (next == QLatin1Char('x') && at + 2 < text.size()) {
            bool ok = false;
            const int byte = text.mid(at + 1, 2).toInt(&ok, 16);
            if (!ok)
                return false;
            name += char(byte);
            at += 2;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace sorvane
