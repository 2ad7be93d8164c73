#include "tag/error.h"

#include <QDir>

namespace sorvane
{

Error::Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}

QString QuotedPath(const QString& path)
{
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}

} // namespace sorvane
