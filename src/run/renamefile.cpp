#include "run/renamefile.h"

#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "journal/journal.h"
#include "names/namerules.h"
#include "names/renamefailures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace sorvane
{

namespace
{

const QChar Separator = QDir::separator();

bool sourceExists(const OpenFolder& folder, const char* name)
{
#ifdef Q_OS_UNIX
    struct stat info = {};
    return Sys.fstatat(folder.fd(), name, &info, AT_SYMLINK_NOFOLLOW) == 0;
#else
    return QFileInfo::exists(folder.filePath(name));
#endif
}

} // namespace

// The name parts are numbered as the selections are.
static_assert(FieldModel::CheckCount == NamePart::Count &&
              int(FieldModel::Title) == int(NamePart::Title) &&
              int(FieldModel::Artist) == int(NamePart::Artist) &&
              int(FieldModel::Album) == int(NamePart::Album) &&
              int(FieldModel::Year) == int(NamePart::Year));

NameParts SelectedParts(const FieldModel& model)
{
    NameParts parts;
    for (int i = 0; i < FieldModel::CheckCount; ++i) {
        parts.selected[i] = model.Check1(i) == 1;
        if (parts.selected[i])
            parts.text[i] = model.Text1(i);
    }
    return parts;
}

QString ComposeName(const FieldModel& model)
{
    return ComposeName(SelectedParts(model));
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(Separator))
        return folder + name;
    return folder + Separator + name;
}

RenameResult RenameToName(const OpenFolder& fromFolder, const char* from,
                          const OpenFolder& toFolder, const QByteArray& to,
                          const MoveJournal* journal)
{
    RenameResult result;
    if (std::strcmp(from, to.constData()) == 0 &&
        (&fromFolder == &toFolder || fromFolder.sameAs(toFolder))) {
        if (!sourceExists(fromFolder, from))
            result.outcome = {&RenameFailure::SourceGone, 0};
        else
            result.alreadyNamed = true;
        return result;
    }
    std::string leftAs;
    const int code = MoveNoReplaceAt(fromFolder, from, toFolder, to.constData(), &leftAs, journal);
    if (code == 0)
        return result;
    if (IsAlreadyNamed(code)) {
        result.alreadyNamed = true;
        return result;
    }
    if (!leftAs.empty()) {
        result.outcome = {&RenameFailure::LeftAside, code};
        result.leftAs = QByteArray::fromStdString(leftAs);
    } else if (IsStoppedBeforeMove(code)) {
        result.outcome = {&RenameFailure::NotReached, 0};
    } else {
        result.outcome = {IsTargetExists(code) ? &RenameFailure::TargetExists
                                               : &RenameFailure::RenameFailed,
                          code};
    }
    return result;
}

RenamedFile RenameFile(FieldModel& model, JournalWriter* journal)
{
    const NameVerdict verdict = DecideName(SelectedParts(model));
    if (verdict.refused.failure == &RenameFailure::NothingSelected) {
        model.countFailure();
        return {RenameOutcome::NothingSelected, QString()};
    }
    const QString name = verdict.ok() ? verdict.name : ComposeName(model);
    const QString source = QDir::toNativeSeparators(model.txtFile());
    const QString target = JoinPath(QDir::toNativeSeparators(model.FolderPath()), name);
    const auto refuse = [&](Outcome outcome) {
        return Error(QStringLiteral("Не удалось переименовать %1 в «%2»: %3.")
                         .arg(QuotedPath(source), name, Reason(outcome)));
    };
    if (!verdict.refused.ok())
        throw refuse(verdict.refused);
    const QFileInfo sourceInfo(source);
    if (QDir::isRelativePath(source) || sourceInfo.fileName().isEmpty()) {
        throw Error(QStringLiteral("Не удалось переименовать %1: это не полный путь к файлу.")
                        .arg(QuotedPath(source)));
    }
    const auto opened = [&](const QString& folder) {
        try {
            return std::make_unique<OpenFolder>(folder);
        } catch (const Error& error) {
            throw Error(QStringLiteral("Не удалось переименовать %1 в %2: %3")
                            .arg(QuotedPath(source), QuotedPath(target), error.message()));
        }
    };
    const auto fromFolder = opened(sourceInfo.path());
    const auto toFolder = opened(model.FolderPath());
    const QByteArray from = OpenFolder::nativeName(sourceInfo.fileName());
    MoveJournal moveJournal;
    if (journal) {
        // Absolute paths below the journal's folder "/", the rename on record before it is made.
        const auto below = [](const QString& folder, const QByteArray& name) {
            return QFile::encodeName(QDir::cleanPath(folder)).mid(1) + '/' + name;
        };
        struct stat info = {};
        if (Sys.fstatat(fromFolder->fd(), from.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            const int entry = journal->written();
            journal->writeAhead(
                {{below(sourceInfo.path(), from),
                  below(model.FolderPath(), OpenFolder::nativeName(name)),
                  QByteArray(),
                  {info.st_size, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                   fromFolder->keepsInodes() ? qint64(info.st_ino) : -1}}});
            moveJournal.beforeAside = [journal, entry, below, &sourceInfo](const char* aside) {
                journal->writeAside(entry, below(sourceInfo.path(), aside));
            };
            moveJournal.beforeReserve = [journal, entry] { journal->writeReserve(entry); };
        }
    }
    const RenameResult result =
        RenameToName(*fromFolder, from.constData(), *toFolder, OpenFolder::nativeName(name),
                     journal ? &moveJournal : nullptr);
    if (!result.leftAs.isEmpty()) {
        // The path field follows the file to the name it has now, so it can be renamed again.
        const QString now = JoinPath(sourceInfo.path(), OpenFolder::displayName(result.leftAs));
        model.setTxtFile(now);
        throw Error(QStringLiteral("Не удалось переименовать %1 в «%2»: %3. Файл остался под "
                                   "именем %4.")
                        .arg(QuotedPath(source), name, Reason(result.outcome), QuotedPath(now)));
    }
    if (!result.outcome.ok())
        throw refuse(result.outcome);
    return {result.alreadyNamed ? RenameOutcome::AlreadyNamed : RenameOutcome::Renamed, name,
            verdict.shortened};
}

} // namespace sorvane
