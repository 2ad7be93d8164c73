#pragma once

#include <QString>

namespace sorvane
{

// Which Russian form a count takes: 1, 21, 101 take the first ("1 файл"); 2 to 4, 22 to 24 the
// second ("2 файла"); 0, 5 to 20, 25 to 30, 111 the third ("5 файлов").
enum class PluralForm { One, Few, Many };
PluralForm RussianPlural(qint64 count);

// One of three texts by the count's form, with the count put in place of %1: ("%1 файл",
// "%1 файла", "%1 файлов").
QString Plural(qint64 count, const char* one, const char* few, const char* many);

} // namespace sorvane
