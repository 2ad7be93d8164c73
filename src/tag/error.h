#pragma once

#include <QString>

#include <exception>
#include <string>

namespace sorvane
{

// Failures travel up as exceptions to the command that started the work. The text is meant for
// the user: it names the file and the reason.
class Error : public std::exception
{
public:
    explicit Error(QString message);

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// A path as the user knows it on this platform, quoted for a message.
QString QuotedPath(const QString& path);

} // namespace sorvane
