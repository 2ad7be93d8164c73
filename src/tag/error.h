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

// Why a file was not read or not renamed. The folder run keeps one of these per file rather than
// a text, so a run over many failing files stays small and fast; the text is made when shown.
enum class Failure : quint8 {
    None,
    OpenFailed, // error: the system's code
    NotRegularFile,
    TooShort,
    ReadFailed, // error
    ShortRead,
    NoTag, // the last 128 bytes do not begin with "TAG"
    NothingSelected,
    NameHasSeparator,
    NameHasControl,
    NameIsHidden,
    TargetExists,
    RenameFailed, // error
    SourceGone,
    TypeUnreadable, // error: the listing could not tell what the entry is
    NotReached,     // the run was stopped before this file
    LeftAside,      // error: a step failed and the file keeps the name it was moved aside to
};

struct Outcome {
    Failure failure = Failure::None;
    int error = 0;

    bool ok() const { return failure == Failure::None; }
};

// The reason in plain words, without the file's name: "нет тега ID3v1".
QString Reason(Outcome outcome);

// The system's own text for an error code, in the user's language where the system has one.
QString SystemReason(int error);

} // namespace sorvane
