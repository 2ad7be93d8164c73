#include "names/renamefailures.h"

namespace sorvane::RenameFailure
{

const FailureKind NothingSelected{
    [](int) { return QStringLiteral("не выбрана ни одна часть имени"); }};
const FailureKind NameHasSeparator{
    [](int) { return QStringLiteral("новое имя содержит разделитель пути «/»"); }};
const FailureKind NameHasControl{[](int character) {
    return QStringLiteral("в имени управляющий символ U+%1")
        .arg(QString::number(character, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}};
const FailureKind NoTextForName{[](int) { return QStringLiteral("в теге нет текста для имени"); }};
const FailureKind NoPartText{[](int part) {
    static const char* const Parts[] = {"названия", "исполнителя", "альбома", "года"};
    return QStringLiteral("в теге нет %1")
        .arg(QString::fromUtf8(Parts[part >= 0 && part < 4 ? part : 0]));
}};
const FailureKind NameIsHidden{
    [](int) { return QStringLiteral("новое имя начинается с точки: файл стал бы скрытым"); }};
const FailureKind TargetExists{
    [](int) { return QStringLiteral("файл с новым именем уже существует"); }};
const FailureKind RenameFailed{[](int error) {
    return QStringLiteral("переименование отклонено: %1").arg(SystemReason(error));
}};
const FailureKind SourceGone{[](int) { return QStringLiteral("файла больше нет"); }};
const FailureKind TypeUnreadable{[](int error) {
    return QStringLiteral("не удалось узнать, что это за файл: %1").arg(SystemReason(error));
}};
const FailureKind NotReached{
    [](int) { return QStringLiteral("не обработан: переименование остановлено"); }};
const FailureKind LeftAside{[](int error) {
    return QStringLiteral("переименование не завершено (%1), и вернуть файлу прежнее имя не "
                          "удалось")
        .arg(SystemReason(error));
}};

const FailureKind FileChanged{
    [](int) { return QStringLiteral("файл изменился после первого переименования: не тронут"); }};
const FailureKind ReadCrashed{
    [](int error) { return QStringLiteral("тег не прочитан: %1").arg(SystemReason(error)); }};

const FailureKind FolderUnreadable{[](int error) {
    return QStringLiteral("папку не удалось открыть или прочитать: %1").arg(SystemReason(error));
}};
const FailureKind OtherMount{[](int) {
    return QStringLiteral("папка на другой файловой системе (точка монтирования): не пройдена");
}};
const FailureKind FolderWalked{[](int) {
    return QStringLiteral("папка уже пройдена (петля или привязка): не пройдена снова");
}};
const FailureKind FolderTooDeep{
    [](int) { return QStringLiteral("папка вложена глубже 256 уровней: не пройдена"); }};
const FailureKind FolderChanged{[](int) {
    return QStringLiteral("папка изменилась или исчезла после просмотра: файлы в ней не тронуты");
}};
const FailureKind FolderHeld{
    [](int) { return QStringLiteral("папку сейчас переименовывает другой Sorvane: не пройдена"); }};
const FailureKind FolderNotLocked{[](int error) {
    return QStringLiteral("папку не удалось заблокировать для переименования: %1: не пройдена")
        .arg(SystemReason(error));
}};

} // namespace sorvane::RenameFailure
