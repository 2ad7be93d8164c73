#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdio>

namespace sorvane
{

// Standard output and error as a run from a terminal uses them: lines in UTF-8, names quoted so
// that no control character from a file name reaches the terminal, and a progress line on
// standard error redrawn in place while the work takes more than about a second (only where
// standard error is a terminal).
class Terminal
{
public:
    Terminal(std::FILE* out = stdout, std::FILE* err = stderr);

    // A name between double quotes: \\, \" and \xHH for control characters and bytes that are
    // not UTF-8.
    static QString quoted(QByteArrayView name);
    // The same, appended in UTF-8 to `out`: a run's line a file is built so.
    static void appendQuoted(QByteArray& out, QByteArrayView name);

    // False once standard output is closed (a reader like `head` went away): the run then stops
    // as on a termination signal. To a file or a pipe, lines are written a buffer at a time, so
    // that is found at the buffer's write; to a terminal, at the line's.
    bool line(const QString& text);
    // The same for a line already in UTF-8, which a run's line a file is built in.
    bool line(QByteArrayView utf8);
    // Writes out the lines still held for a file or a pipe; false when they could not be.
    bool finish();
    void error(const QString& text);
    void progress(int done, int total);
    bool outputClosed() const { return m_closed; }

private:
    void clearProgress();

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_progressShown = false;
    bool m_outIsTerminal = false;
    bool m_errIsTerminal = false;
    bool m_closed = false;
    qint64 m_started = 0;
    qint64 m_lastDrawn = 0;
};

} // namespace sorvane
