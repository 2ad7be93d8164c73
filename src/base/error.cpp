#include "base/error.h"

#include <QDir>

#include <cstring>

namespace sorvane
{

Error::Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}

QString QuotedPath(const QString& path)
{
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}

QString SystemReason(int error)
{
    // strerror_r follows LC_MESSAGES, so a Russian desktop reads Russian; qt_error_string keeps
    // its most common texts in English.
    char buffer[256] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
#else
    const char* text = ::strerror_r(error, buffer, sizeof buffer) == 0 ? buffer : "";
#endif
    return QString::fromLocal8Bit(text);
}

QString Reason(Outcome outcome)
{
    return outcome.ok() ? QString() : outcome.failure->text(outcome.error);
}

} // namespace sorvane
