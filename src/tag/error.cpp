#include "tag/error.h"

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
#ifdef Q_OS_WIN
    return qt_error_string(error);
#else
    // strerror_r follows LC_MESSAGES, so a Russian desktop reads Russian; qt_error_string keeps
    // its most common texts in English.
    char buffer[256] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
#else
    const char* text = ::strerror_r(error, buffer, sizeof buffer) == 0 ? buffer : "";
#endif
    return QString::fromLocal8Bit(text);
#endif
}

QString Reason(Outcome outcome)
{
    switch (outcome.failure) {
    case Failure::None:
        return QString();
    case Failure::OpenFailed:
        return QStringLiteral("не удалось открыть файл: %1").arg(SystemReason(outcome.error));
    case Failure::NotRegularFile:
        return QStringLiteral("это не обычный файл");
    case Failure::TooShort:
        return QStringLiteral("файл короче 128 байт: в нём нет тега ID3v1");
    case Failure::ReadFailed:
        return QStringLiteral("не удалось прочитать файл: %1").arg(SystemReason(outcome.error));
    case Failure::ShortRead:
        return QStringLiteral(
            "не удалось прочитать файл: он оказался короче, чем сообщила система");
    case Failure::NoTag:
        return QStringLiteral("нет тега ID3v1: последние 128 байт файла — не тег");
    case Failure::NothingSelected:
        return QStringLiteral("не выбрана ни одна часть имени");
    case Failure::NameHasSeparator:
        return QStringLiteral("новое имя содержит разделитель пути «/»");
    case Failure::NameHasControl:
        return QStringLiteral("новое имя содержит управляющий символ");
    case Failure::NameIsHidden:
        return QStringLiteral("новое имя начинается с точки: файл стал бы скрытым");
    case Failure::TargetExists:
        return QStringLiteral("файл с новым именем уже существует");
    case Failure::RenameFailed:
        return QStringLiteral("переименование отклонено: %1").arg(SystemReason(outcome.error));
    case Failure::SourceGone:
        return QStringLiteral("файла больше нет");
    case Failure::TypeUnreadable:
        return QStringLiteral("не удалось узнать, что это за файл: %1")
            .arg(SystemReason(outcome.error));
    case Failure::NotReached:
        return QStringLiteral("не обработан: переименование остановлено");
    case Failure::LeftAside:
        return QStringLiteral("переименование не завершено (%1), и вернуть файлу прежнее имя не "
                              "удалось")
            .arg(SystemReason(outcome.error));
    }
    return QString();
}

} // namespace sorvane
