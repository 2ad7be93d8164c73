#include "journal/undo.h"

#include "base/stoppolicy.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "names/printablename.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

std::pair<QByteArray, QByteArray> splitName(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    if (slash < 0)
        return {QByteArray(), relative};
    return {relative.left(slash), relative.mid(slash + 1)};
}

// The folders of a journal's files, opened below its folder one level at a time, never through
// a link; the last one kept open.
class Folders
{
public:
    explicit Folders(const QByteArray& root) : m_root(root) {}

    const OpenFolder* open(const QByteArray& relative, int& error)
    {
        if (m_folder && relative == m_relative)
            return m_folder.get();
        m_folder.reset();
        std::unique_ptr<OpenFolder> folder;
        try {
            folder = std::make_unique<OpenFolder>(QFile::decodeName(m_root));
        } catch (const Error&) {
            error = errno ? errno : ENOENT;
            return nullptr;
        }
        if (!relative.isEmpty()) {
            for (const QByteArray& part : relative.split('/')) {
                folder = OpenFolder::child(*folder, part.constData(), error);
                if (!folder)
                    return nullptr;
            }
        }
        m_relative = relative;
        m_folder = std::move(folder);
        return m_folder.get();
    }

private:
    QByteArray m_root;
    QByteArray m_relative;
    std::unique_ptr<OpenFolder> m_folder;
};

bool lookUp(const OpenFolder& folder, const QByteArray& name, struct stat& info)
{
    return !name.isEmpty() &&
           Sys.fstatat(folder.fd(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool isTheFile(const struct stat& info, const FileIdentity& id)
{
    const qint64 modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return S_ISREG(info.st_mode) && info.st_size == id.size && modified == id.modified &&
           (id.inode < 0 || quint64(id.inode) == info.st_ino);
}

// Where one journaled file is now.
enum class Place { New, Aside, Old, Elsewhere };

struct Found {
    Place place = Place::Elsewhere;
    bool newHoldsAnother = false;
};

Found find(const OpenFolder& folder, const JournalEntry& entry, const QByteArray& oldName,
           const QByteArray& newName, const QByteArray& asideName, bool removeReservation)
{
    struct stat atNew = {}, atOld = {}, atAside = {};
    const bool hasNew = lookUp(folder, newName, atNew);
    if (hasNew && isTheFile(atNew, entry.identity))
        return {Place::New, false};
    if (lookUp(folder, asideName, atAside) && isTheFile(atAside, entry.identity))
        return {Place::Aside, false};
    if (lookUp(folder, oldName, atOld) && isTheFile(atOld, entry.identity)) {
        // The empty file a rename killed after reserving the new name left there.
        if (removeReservation && entry.reserved && hasNew && S_ISREG(atNew.st_mode) &&
            atNew.st_size == 0 && entry.identity.size > 0)
            Sys.unlinkat(folder.fd(), newName.constData(), 0);
        return {Place::Old, false};
    }
    return {Place::Elsewhere, hasNew};
}

QString shown(const QByteArray& relative)
{
    return PrintableName(relative);
}

} // namespace

UndoReport UndoJournal(const Journal& journal, UndoObserver* observer)
{
    UndoReport report;
    report.folder = QFile::decodeName(journal.folder);
    QString error;
    std::unique_ptr<JournalWriter> undo = JournalWriter::create(
        JournalKind::Undo, journal.folder, error, QFileInfo(journal.path).fileName());
    if (!undo)
        report.journalFailure = error;
    Folders folders(journal.folder);
    // The move back was on record before the run made it: finish it whatever the links say.
    MoveJournal recorded;
    recorded.recorded = [](const char*, const char*, const struct stat&, bool reserved) {
        return !reserved;
    };
    const int total = int(journal.entries.size());
    constexpr int Batch = 64;
    for (int last = total - 1; last >= 0; last -= Batch) {
        const int first = std::max(0, last - Batch + 1);
        if (undo) {
            std::vector<JournalEntry> back;
            for (int i = last; i >= first; --i) {
                const JournalEntry& entry = journal.entries[std::size_t(i)];
                back.push_back({entry.newName, entry.oldName, entry.asideName, entry.identity});
            }
            if (!undo->writeAhead(back)) {
                report.journalFailure = SystemReason(errno);
                undo.reset();
            }
        }
        for (int i = last; i >= first; --i) {
            const JournalEntry& entry = journal.entries[std::size_t(i)];
            if (StopRequested() ||
                (observer && !observer->proceed(total - 1 - i, total, shown(entry.oldName)))) {
                report.stopped = true;
                break;
            }
            const auto [dir, oldName] = splitName(entry.oldName);
            const QByteArray newName = splitName(entry.newName).second;
            const QByteArray asideName = splitName(entry.asideName).second;
            int code = 0;
            const OpenFolder* folder = folders.open(dir, code);
            if (!folder) {
                const QString reason =
                    QStringLiteral("папка недоступна: %1").arg(SystemReason(code));
                report.lines.push_back({entry.newName, entry.oldName, reason});
                report.notRestored.push_back({shown(entry.newName), shown(entry.oldName), reason});
                continue;
            }
            const Found found = find(*folder, entry, oldName, newName, asideName, true);
            if (found.place == Place::Old) {
                ++report.alreadyBack;
                continue;
            }
            const QByteArray& now = found.place == Place::Aside ? entry.asideName : entry.newName;
            const auto stays = [&](const QString& reason) {
                report.lines.push_back({now, entry.oldName, reason});
                report.notRestored.push_back({shown(now), shown(entry.oldName), reason});
            };
            if (found.place == Place::Elsewhere) {
                stays(found.newHoldsAnother
                          ? QStringLiteral("под новым именем теперь другой файл")
                          : QStringLiteral("файла нет ни под новым, ни под прежним именем"));
                continue;
            }
            const QByteArray& from = found.place == Place::New ? newName : asideName;
            std::string leftAs;
            code = MoveNoReplaceAt(*folder, from.constData(), *folder, oldName.constData(), &leftAs,
                                   &recorded);
            if (code == 0) {
                ++report.restored;
                report.lines.push_back({now, entry.oldName, QString()});
            } else if (IsStoppedBeforeMove(code)) {
                report.stopped = true;
                break;
            } else {
                stays(IsTargetExists(code)
                          ? QStringLiteral("прежнее имя теперь занято другим файлом")
                          : QStringLiteral("не удалось вернуть прежнее имя: %1")
                                .arg(SystemReason(code)));
            }
        }
        if (report.stopped)
            break;
    }
    if (undo) {
        undo->close(report.restored);
        // A stopped undo leaves the run to be undone again, which finishes it.
        if (!report.stopped)
            MarkJournalUndone(journal.path, undo->path());
    } else if (!report.stopped) {
        MarkJournalUndone(journal.path, QString());
    }
    return report;
}

QString LastUndoableJournal()
{
    const QStringList paths = JournalPaths();
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        Journal journal;
        QString error;
        if (ReadJournal(*path, journal, error) && journal.kind == JournalKind::Run &&
            !journal.undone && !IsJournalLocked(*path))
            return *path;
    }
    return QString();
}

int FilesUnderNewNames(const Journal& journal)
{
    Folders folders(journal.folder);
    int count = 0;
    for (const JournalEntry& entry : journal.entries) {
        int code = 0;
        const auto [dir, oldName] = splitName(entry.oldName);
        if (const OpenFolder* folder = folders.open(dir, code)) {
            const Found found = find(*folder, entry, oldName, splitName(entry.newName).second,
                                     splitName(entry.asideName).second, true);
            count += found.place == Place::New || found.place == Place::Aside;
        }
    }
    return count;
}

QString UndoSummaryText(const UndoReport& report)
{
    if (report.notRestored.empty() && !report.stopped)
        return QStringLiteral("Прежние имена возвращены.");
    return QStringLiteral("%1 файлов не возвращено!").arg(report.notRestored.size());
}

} // namespace sorvane
