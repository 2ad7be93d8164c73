#include "names/printablename.h"

#include "base/controlcharacters.h"

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

// Which bytes go into a printed name as they are: printable ASCII, and in quoted form not the
// backslash or the quote. A table, since the journal prints two names for every file renamed.
struct PlainBytes {
    bool plain[2][256] = {};
    constexpr PlainBytes()
    {
        for (int byte = 0x20; byte < 0x7F; ++byte) {
            plain[0][byte] = true;
            plain[1][byte] = byte != '\\' && byte != '"';
        }
    }
};
constexpr PlainBytes Plain;

template <typename Bytes> void appendPrintable(Bytes& out, QByteArrayView name, bool quoted)
{
    static const char Hex[] = "0123456789abcdef";
    const bool* const plainByte = Plain.plain[quoted ? 1 : 0];
    const char* const data = name.data();
    const qsizetype size = name.size();
    // Most names are plain ASCII: runs of bytes that go as they are are appended whole.
    qsizetype plain = 0;
    for (qsizetype at = 0; at < size;) {
        while (at < size && plainByte[quint8(data[at])])
            ++at;
        out.append(data + plain, at - plain);
        if (at == size)
            return;
        const quint8 byte = quint8(data[at]);
        if (Plain.plain[0][byte]) { // printable, escaped only in the quoted form
            out += '\\';
            out += char(byte);
            plain = ++at;
            continue;
        }
        const auto [c, length] = decodeOne(name, at);
        if (length > 0 && !IsControlCharacter(c)) {
            out.append(data + at, length);
        } else {
            for (int i = 0; i < std::max(length, 1); ++i) {
                const quint8 escaped = quint8(data[at + i]);
                const char hex[] = {'\\', 'x', Hex[escaped >> 4], Hex[escaped & 0xF]};
                out.append(hex, 4);
            }
        }
        at += std::max(length, 1);
        plain = at;
    }
}

} // namespace

void AppendPrintable(QByteArray& out, QByteArrayView name, bool quoted)
{
    appendPrintable(out, name, quoted);
}

void AppendPrintable(std::string& out, QByteArrayView name, bool quoted)
{
    appendPrintable(out, name, quoted);
}

QString PrintableName(QByteArrayView name, bool quoted)
{
    QByteArray out;
    out.reserve(name.size() + 8);
    AppendPrintable(out, name, quoted);
    return QString::fromUtf8(out);
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
