#include "rename/renamefile.h"

#include "rename/fieldmodel.h"
#include "rename/movefile.h"
#include "tag/error.h"

#include <QDir>

namespace sorvane
{

namespace
{

const QChar Separator = QDir::separator();

// Tag text is not a path: a separator in it would move the file into a subfolder or, with "..",
// out of the chosen folder. Qt takes "/" on every platform, so that one is refused everywhere.
bool holdsSeparator(const QString& name)
{
    return name.contains(QLatin1Char('/')) || name.contains(Separator);
}

QString withoutDoubledSeparators(QString path)
{
    const QString doubled(2, Separator);
    while (path.contains(doubled))
        path.replace(doubled, QString(Separator));
    return path;
}

} // namespace

QString ComposeName(const FieldModel& model)
{
    QString name;
    for (const int part :
         {FieldModel::Artist, FieldModel::Album, FieldModel::Year, FieldModel::Title}) {
        if (model.Check1(part) == 1)
            name += QLatin1Char('_') + model.Text1(part);
    }
    name += QLatin1String(".mp3");
    return name.mid(1);
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(Separator))
        return folder + name;
    return folder + Separator + name;
}

RenameOutcome RenameFile(FieldModel& model)
{
    const QString name = ComposeName(model);
    if (name.size() < 4) {
        model.countFailure();
        return RenameOutcome::NothingSelected;
    }
    const QString source = QDir::toNativeSeparators(model.txtFile());
    if (holdsSeparator(name)) {
        throw Error(QStringLiteral("Не удалось переименовать %1: новое имя «%2» содержит "
                                   "разделитель пути «%3».")
                        .arg(QuotedPath(source), name, QString(Separator)));
    }
    if (QDir::isRelativePath(source)) {
        throw Error(QStringLiteral("Не удалось переименовать %1: это не полный путь к файлу.")
                        .arg(QuotedPath(source)));
    }
    const QString target = JoinPath(QDir::toNativeSeparators(model.FolderPath()), name);
    // Only a source that already ends in the new name can be the target itself.
    if (source.endsWith(Separator + name) &&
        withoutDoubledSeparators(source) == withoutDoubledSeparators(target)) {
        if (!QFile::exists(source)) {
            throw Error(QStringLiteral("Не удалось переименовать %1: файла больше нет.")
                            .arg(QuotedPath(source)));
        }
        return RenameOutcome::AlreadyNamed;
    }
    MoveFileNoReplace(source, target);
    return RenameOutcome::Renamed;
}

} // namespace sorvane
