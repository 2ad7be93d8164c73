#include "run/renamefile.h"

#include "base/syscalls.h"
#include "fs/fileidentity.h"
#include "fs/folderlock.h"
#include "fs/modifiedtime.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "journal/journalwriter.h"
#include "journal/moverecords.h"
#include "names/namerules.h"
#include "names/renamefailures.h"
#include "names/unsafecharacters.h"
#include "walk/foldertree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

const QChar Separator = QDir::separator();

bool sourceExists(const OpenFolder& folder, const char* name)
{
    struct stat info = {};
    return Sys.fstatat(folder.fd(), name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// The single rename's own journal: written ahead, closed with what came of the rename.
class SingleJournal
{
public:
    // Writes the rename ahead; where it cannot, `failure` says why and the rename goes on.
    SingleJournal(const OpenFolder& folder, const QByteArray& from, const QByteArray& to,
                  QString& failure)
        : m_failure(failure)
    {
        FileIdentity identity;
        qint64 modified = 0;
        int error = 0;
        if (!ReadIdentityAt(folder.fd(), from.constData(), folder.traits(), identity, modified,
                            error)) {
            m_failure = QStringLiteral("не удалось узнать файл: %1").arg(SystemReason(error));
            return;
        }
        m_writer = JournalWriter::create(
            JournalKind::Single, QFile::encodeName(QDir::cleanPath(folder.path())), m_failure);
        if (!m_writer)
            return;
        m_writer->add({}, from, to, identity, modified);
        if (!m_writer->flush())
            fail();
    }

    MoveRecords records() const
    {
        return RecordMovesOf(
            m_writer.get(), 0, QByteArray(), [this] { fail(); },
            [](Leftover, const char*) { return false; });
    }

    void settingTime()
    {
        if (m_writer && !m_writer->markSetsTime())
            fail();
    }

    void finish(const RenameResult& result)
    {
        if (!m_writer)
            return;
        if (result.alreadyNamed)
            m_writer->addRecord("named", 0);
        if (!m_writer->close(result.outcome.ok() && !result.alreadyNamed ? 1 : 0))
            fail();
    }

private:
    void fail() const
    {
        if (m_failure.isEmpty())
            m_failure = SystemReason(m_writer->error());
    }

    std::unique_ptr<JournalWriter> m_writer;
    QString& m_failure;
};

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
                          const MoveOptions& options)
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
    MoveOptions withLeftAs = options;
    withLeftAs.leftAs = &leftAs;
    const int code = MoveNoReplaceAt(fromFolder, from, toFolder, to.constData(), withLeftAs);
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

RenamedFile RenameFile(FieldModel& model, bool journaled, bool replaceUnsafe)
{
    const NameParts selected = SelectedParts(model);
    const NameVerdict verdict = DecideName(replaceUnsafe ? ReplaceUnsafe(selected) : selected);
    if (verdict.refused.failure == &RenameFailure::NothingSelected) {
        model.countFailure();
        RenamedFile nothing;
        nothing.outcome = RenameOutcome::NothingSelected;
        return nothing;
    }
    const QString name = verdict.ok() ? verdict.name : ComposeName(model);
    const QString source = QDir::toNativeSeparators(model.txtFile());
    const QString target = JoinPath(QDir::toNativeSeparators(model.FolderPath()), name);
    const auto refuse = [&](Outcome outcome) {
        return Error(QStringLiteral("Не удалось переименовать %1 в «%2»: %3.")
                         .arg(QuotedPath(source), name, Reason(outcome)));
    };
    // The name the file would get with the characters replaced, for the user to choose.
    const auto replaced = [&selected] {
        const NameVerdict other = DecideName(ReplaceUnsafe(selected));
        return other.ok() ? other.name : QString();
    };
    if (!verdict.refused.ok()) {
        if (!replaceUnsafe && verdict.refused.failure == &RenameFailure::NameHasSeparator)
            throw CharacterRefused(refuse(verdict.refused).message(), QLatin1Char('/'), replaced());
        throw refuse(verdict.refused);
    }
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
    const bool oneFolder = fromFolder->sameAs(*toFolder);
    // No other Sorvane renames in either folder meanwhile.
    const FolderLock toLock = LockChosenFolder(*toFolder);
    const FolderLock fromLock = oneFolder ? FolderLock() : LockChosenFolder(*fromFolder);
    const QByteArray from = OpenFolder::nativeName(sourceInfo.fileName());
    const QByteArray to = OpenFolder::nativeName(name);
    RenamedFile renamed;
    renamed.name = name;
    renamed.shortened = verdict.shortened;
    // A journal's names lie in one folder: a rename into another is not journaled.
    const bool journal = journaled && oneFolder && from != to;
    struct stat before = {};
    const bool known =
        Sys.fstatat(fromFolder->fd(), from.constData(), &before, AT_SYMLINK_NOFOLLOW) == 0;
    std::unique_ptr<SingleJournal> single;
    MoveRecords records;
    if (journal) {
        single = std::make_unique<SingleJournal>(*fromFolder, from, to, renamed.journalFailure);
        records = single->records();
    }
    MoveOptions options;
    options.records = &records;
    const RenameResult result = RenameToName(*fromFolder, from.constData(), *toFolder, to, options);
    if (result.outcome.ok() && !result.alreadyNamed && known) {
        bool setsTime = false;
        if (const int error =
                KeepModifiedTime(*toFolder, to.constData(), ModifiedNs(before), &setsTime))
            renamed.timeNotKept = SystemReason(error);
        if (setsTime && single)
            single->settingTime();
    }
    if (single)
        single->finish(result);
    if (!result.leftAs.isEmpty()) {
        // The path field follows the file to the name it has now, so it can be renamed again.
        const QString now = JoinPath(sourceInfo.path(), OpenFolder::displayName(result.leftAs));
        model.setTxtFile(now);
        throw Error(QStringLiteral("Не удалось переименовать %1 в «%2»: %3. Файл остался под "
                                   "именем %4.")
                        .arg(QuotedPath(source), name, Reason(result.outcome), QuotedPath(now)));
    }
    if (!result.outcome.ok()) {
        if (!replaceUnsafe &&
            RefusedForCharacter(result.outcome, name, sourceExists(*fromFolder, from.constData())))
            throw CharacterRefused(refuse(result.outcome).message(), FirstUnsafeCharacter(name),
                                   replaced());
        throw refuse(result.outcome);
    }
    if (result.alreadyNamed) {
        renamed.outcome = RenameOutcome::AlreadyNamed;
        return renamed;
    }
    return renamed;
}

} // namespace sorvane
