#pragma once

#include <QString>

namespace sorvane
{

// One line of a summary's details: a file or folder by its path relative to the chosen folder,
// the new name where one was made, and what happened.
struct DetailsRow {
    QString path;
    QString newName;
    QString reason;
};

} // namespace sorvane
