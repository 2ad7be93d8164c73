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

// The system's own text for an error code, in the user's language where the system has one.
QString SystemReason(int error);

// One kind of failure, defined beside the code that raises it, with its text: the reason in plain
// words, without the file's name ("нет тега ID3v1"), made from the outcome's number where it
// needs one.
struct FailureKind {
    QString (*text)(int error);
};
using Failure = const FailureKind*;

// Why a file was not read or not renamed, or null when nothing failed. A run over many files keeps
// one of these per file rather than a text, so it stays small and fast; the text is made when
// shown.
struct Outcome {
    Failure failure = nullptr;
    int error = 0; // the system's error code, or what else the kind's text needs

    bool ok() const { return failure == nullptr; }
};

QString Reason(Outcome outcome);

} // namespace sorvane
