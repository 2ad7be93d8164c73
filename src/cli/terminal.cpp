#include "cli/terminal.h"

#include "names/printablename.h"

#include <QDateTime>

#include <cerrno>
#include <unistd.h>

namespace sorvane
{

namespace
{

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool write(std::FILE* stream, QByteArrayView bytes, bool flush = true)
{
    return std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), stream) ==
               std::size_t(bytes.size()) &&
           (!flush || std::fflush(stream) == 0);
}

} // namespace

Terminal::Terminal(std::FILE* out, std::FILE* err)
    : m_out(out), m_err(err), m_outIsTerminal(::isatty(::fileno(out)) == 1),
      m_errIsTerminal(::isatty(::fileno(err)) == 1), m_started(now())
{
}

QString Terminal::quoted(QByteArrayView name)
{
    QByteArray out;
    out.reserve(name.size() + 8);
    appendQuoted(out, name);
    return QString::fromUtf8(out);
}

void Terminal::appendQuoted(QByteArray& out, QByteArrayView name)
{
    out += '"';
    AppendPrintable(out, name, true);
    out += '"';
}

bool Terminal::line(const QString& text)
{
    return line(QByteArrayView(text.toUtf8()));
}

bool Terminal::line(QByteArrayView utf8)
{
    if (m_closed)
        return false;
    clearProgress();
    // A line a file, to a file or a pipe, would cost the renaming thread a write call a file:
    // there the lines wait in the stream's buffer, and a terminal gets each as it comes.
    if (!write(m_out, utf8, false) || !write(m_out, "\n", m_outIsTerminal))
        m_closed = true;
    return !m_closed;
}

bool Terminal::finish()
{
    if (!m_closed && std::fflush(m_out) != 0)
        m_closed = true;
    return !m_closed;
}

void Terminal::error(const QString& text)
{
    clearProgress();
    finish(); // what was said before comes first where both go to one place
    write(m_err, (text + QLatin1Char('\n')).toUtf8());
}

void Terminal::progress(int done, int total)
{
    if (!m_errIsTerminal)
        return;
    const qint64 time = now();
    if (time - m_started < 1000 || time - m_lastDrawn < 100)
        return;
    m_lastDrawn = time;
    m_progressShown = true;
    write(m_err, QStringLiteral("\r%1 из %2").arg(done).arg(total).toUtf8() + "\x1b[K");
}

void Terminal::clearProgress()
{
    if (m_progressShown) {
        write(m_err, "\r\x1b[K");
        m_progressShown = false;
    }
}

} // namespace sorvane
