#include "tag/tagfailures.h"

namespace sorvane::TagFailure
{

const FailureKind OpenFailed{[](int error) {
    return QStringLiteral("не удалось открыть файл: %1").arg(SystemReason(error));
}};
const FailureKind NotRegularFile{[](int) { return QStringLiteral("это не обычный файл"); }};
const FailureKind TooShort{
    [](int) { return QStringLiteral("файл короче 128 байт, и тега в нём нет"); }};
const FailureKind ReadFailed{[](int error) {
    return QStringLiteral("не удалось прочитать файл: %1").arg(SystemReason(error));
}};
const FailureKind ShortRead{[](int) {
    return QStringLiteral("не удалось прочитать файл: он оказался короче, чем сообщила система");
}};
const FailureKind NoTag{
    [](int) { return QStringLiteral("нет тега (ни ID3v1, ни ID3v2, ни APEv2)"); }};

} // namespace sorvane::TagFailure
