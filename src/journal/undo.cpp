#include "journal/undo.h"

#include "base/error.h"
#include "base/plural.h"
#include "base/stoppolicy.h"
#include "base/syscalls.h"
#include "fs/fileidentity.h"
#include "fs/folderlock.h"
#include "fs/listing.h"
#include "fs/modifiedtime.h"
#include "fs/movefile.h"
#include "fs/openfolder.h"
#include "fs/spellings.h"
#include "journal/evidence.h"
#include "journal/journalfiles.h"
#include "journal/journalreader.h"
#include "journal/journalwriter.h"
#include "journal/moverecords.h"
#include "journal/runlist.h"
#include "names/printablename.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>

namespace sorvane
{

namespace
{

// How long an undo waits to learn whether the run's folder is there: a dead network mount never
// answers.
constexpr int FolderCheckMs = 2000;

QByteArray folderPart(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.left(slash);
}

QString shown(const QByteArray& relative)
{
    return PrintableName(relative);
}

// The folder of the entries at hand, opened below the run's folder one level at a time, never
// through a link, and locked while its files go back.
class Folder
{
public:
    // Without `lock`, only to look: nothing is changed through it.
    Folder(const QByteArray& root, bool lock) : m_root(root), m_locks(lock) {}

    // Null, with why, when it cannot be opened or another Sorvane holds it.
    const OpenFolder* open(const QByteArray& relative, QString& why)
    {
        if (relative == m_relative && (m_open || !m_failure.isEmpty())) {
            why = m_failure;
            return m_open.get();
        }
        m_failure.clear();
        m_lock.release();
        m_open.reset();
        m_names.clear();
        m_listed = false;
        m_relative = relative;
        m_open = opened(relative, m_failure);
        why = m_failure;
        return m_open.get();
    }

    // Whether the name is spelt exactly so in the folder: a case-insensitive drive finds a file
    // under every spelling of its name. Listed once, then kept up to date with the moves.
    bool listed(const QByteArray& name)
    {
        if (!m_listed) {
            Listing entries(m_open->fd());
            while (const auto* entry = entries.next())
                m_names.insert(QByteArray(entry->d_name));
            m_listed = !entries.failed();
            if (!m_listed)
                return true; // unknown: the lookup alone decides
        }
        return m_names.count(name) != 0;
    }

    void moved(const QByteArray& from, const QByteArray& to)
    {
        removed(from);
        if (m_listed)
            m_names.insert(to);
    }
    void removed(const QByteArray& name) { m_names.erase(name); }

private:
    std::unique_ptr<OpenFolder> opened(const QByteArray& relative, QString& why)
    {
        std::unique_ptr<OpenFolder> folder;
        try {
            folder = std::make_unique<OpenFolder>(QFile::decodeName(m_root));
        } catch (const Error& error) {
            why = error.message();
            return nullptr;
        }
        int code = 0;
        if (!relative.isEmpty()) {
            for (const QByteArray& part : relative.split('/')) {
                folder = OpenFolder::child(*folder, part.constData(), code);
                if (!folder) {
                    why = QStringLiteral("папка недоступна: %1").arg(SystemReason(code));
                    return nullptr;
                }
            }
        }
        switch (m_locks ? FolderLock::take(folder->fd(), m_lock, code) : FolderLock::Taken::Yes) {
        case FolderLock::Taken::Yes:
            break;
        case FolderLock::Taken::Held:
            why = QStringLiteral("папку сейчас переименовывает другой Sorvane");
            return nullptr;
        case FolderLock::Taken::Failed:
            why = LockFailureReason(code);
            return nullptr;
        }
        return folder;
    }

    QByteArray m_root;
    const bool m_locks;
    QByteArray m_relative;
    std::unique_ptr<OpenFolder> m_open;
    QString m_failure; // why the folder at hand could not be had
    FolderLock m_lock;
    std::set<QByteArray> m_names;
    bool m_listed = false;
};

// Where an entry's file is now.
struct Whereabouts {
    bool atOld = false;
    bool atNew = false;
    QByteArray aside; // the name aside that holds it, where one does
    bool newHoldsAnother = false;
    struct stat found = {}; // what the name it was found under leads to
    struct stat atNewInfo = {};
};

// The name holds the entry's file, and is spelt so where old and new differ only in letter case.
bool holds(Folder& folder, const OpenFolder& open, const JournalEntry& entry,
           const QByteArray& name, bool caseOnly, struct stat* info = nullptr)
{
    struct stat found = {};
    if (IdentityAt(open.fd(), name.constData(), entry.identity, nullptr, &found) != Found::Same)
        return false;
    if (caseOnly && !folder.listed(name))
        return false;
    if (info)
        *info = found;
    return true;
}

// Where an entry's file is now, by looking only.
Whereabouts locate(Folder& folder, const OpenFolder& open, const JournalEntry& entry)
{
    Whereabouts where;
    const QByteArray oldName = BaseName(entry.oldName), newName = BaseName(entry.newName);
    const bool caseOnly = IsOtherSpelling(oldName.constData(), newName.constData());
    where.atOld = holds(folder, open, entry, oldName, caseOnly, &where.found);
    where.atNew = holds(folder, open, entry, newName, caseOnly,
                        where.atOld ? &where.atNewInfo : &where.found);
    if (where.atOld || where.atNew)
        return where;
    for (const QByteArray& aside : entry.asides) {
        if (holds(folder, open, entry, BaseName(aside), false, &where.found)) {
            where.aside = BaseName(aside);
            return where;
        }
    }
    struct stat info = {};
    where.newHoldsAnother =
        Sys.fstatat(open.fd(), newName.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    return where;
}

class EntryUndo
{
public:
    EntryUndo(Folder& folder, const OpenFolder& open, JournalWriter* writer, const Journal& journal,
              int number, UndoReport& report)
        : m_folder(folder), m_open(open), m_writer(writer), m_journal(journal), m_number(number),
          m_entry(journal.entries[std::size_t(number)]), m_report(report),
          m_old(BaseName(m_entry.oldName)), m_new(BaseName(m_entry.newName))
    {
    }

    // False when a termination signal stopped the move before it began.
    bool run()
    {
        const Whereabouts where = locate(m_folder, m_open, m_entry);
        if (where.atOld) {
            if (where.atNew)
                finishTwoNames(where);
            removeLeftovers(m_old);
            // An undo killed between the move back and putting the time back left it changed.
            if (m_journal.setsTime || RenamesSetTime(m_open))
                putTimeBack(where.found);
            ++m_report.alreadyBack;
            return true;
        }
        const QByteArray from = where.atNew ? m_new : where.aside;
        // An empty reservation of the old name would stand in the way of the move back.
        if (!from.isEmpty())
            removeLeftovers(from);
        const QByteArray now = where.atNew ? m_entry.newName : relative(where.aside);
        if (from.isEmpty()) {
            stays(m_entry.newName, where.newHoldsAnother
                                       ? QStringLiteral("под новым именем теперь другой файл")
                                       : QStringLiteral("файла нет ни под новым, ни под прежним "
                                                        "именем"));
            return true;
        }
        return moveBack(from, now, where.found);
    }

private:
    QByteArray relative(const QByteArray& name) const
    {
        const QByteArray dir = folderPart(m_entry.oldName);
        return dir.isEmpty() ? name : dir + '/' + name;
    }

    // Both names hold the file. A second name Sorvane made (on record) goes; two names the
    // user made stay.
    void finishTwoNames(const Whereabouts& where)
    {
        if (!m_entry.linked)
            return;
        const bool oneFile = where.found.st_dev == where.atNewInfo.st_dev &&
                             where.found.st_ino == where.atNewInfo.st_ino;
        // Where inode numbers are kept, both names must lead to one; where they are made up,
        // the identity both names hold tells.
        if (m_open.traits().keepsInodes && !oneFile)
            return;
        if (RemoveIfStill(m_open.fd(), m_new.constData(), where.atNewInfo, false) == 0)
            m_folder.removed(m_new);
    }

    // Empty files and names aside that a killed move made for this file, the file itself found
    // under `holding`: proven Sorvane's (on record) and empty, they go.
    void removeLeftovers(const QByteArray& holding)
    {
        if (m_entry.identity.size <= 0)
            return;
        std::vector<QByteArray> names;
        for (const QByteArray& name : m_entry.reserved)
            names.push_back(BaseName(name));
        for (const QByteArray& name : m_entry.asides)
            names.push_back(BaseName(name));
        if (m_entry.reservedV1)
            names.push_back(m_new);
        for (const QByteArray& name : names) {
            struct stat info = {};
            if (name == holding ||
                Sys.fstatat(m_open.fd(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode) || info.st_size != 0 || !m_folder.listed(name))
                continue;
            if (RemoveIfStill(m_open.fd(), name.constData(), info, true) == 0) {
                m_folder.removed(name);
                m_report.notes.push_back(
                    {shown(relative(name)), QString(),
                     QStringLiteral("пустой файл, оставленный прерванным переименованием, "
                                    "удалён")});
            }
        }
    }

    bool moveBack(const QByteArray& from, const QByteArray& now, const struct stat& before)
    {
        // This journal is the undo's own: what it records of this file is evidence.
        const MoveRecords records = RecordMovesOf(
            m_writer, m_number, folderPart(m_entry.oldName), [this] { noteJournalFailure(); },
            [this](Leftover kind, const char* name) {
                return JournalEvidence::records(m_entry, kind, name);
            });
        MoveOptions options;
        options.identity = &m_entry.identity;
        options.records = &records;
        std::string leftAs;
        options.leftAs = &leftAs;
        const int code =
            MoveNoReplaceAt(m_open, from.constData(), m_open, m_old.constData(), options);
        if (IsStoppedBeforeMove(code))
            return false;
        if (code != 0) {
            const QByteArray at =
                leftAs.empty() ? now : relative(QByteArray::fromStdString(leftAs));
            stays(
                at,
                IsTargetExists(code)
                    ? QStringLiteral("прежнее имя теперь занято другим файлом")
                    : QStringLiteral("не удалось вернуть прежнее имя: %1").arg(SystemReason(code)));
            return true;
        }
        m_folder.moved(from, m_old);
        ++m_report.restored;
        m_report.lines.push_back({now, m_entry.oldName, QString()});
        // The time the file had before the run, where the drive changed it at a rename.
        const qint64 time = m_entry.time >= 0 ? m_entry.time : ModifiedNs(before);
        bool setsTime = false;
        if (const int error = KeepModifiedTime(m_open, m_old.constData(), time, &setsTime))
            timeNotKept(error);
        if (setsTime && m_writer && !m_writer->markSetsTime())
            noteJournalFailure();
        removeLeftovers(m_old);
        return true;
    }

    void putTimeBack(const struct stat& now)
    {
        if (m_entry.time < 0 || ModifiedNs(now) == m_entry.time)
            return;
        if (const int error = PutModifiedTime(m_open.fd(), m_old.constData(), m_entry.time))
            timeNotKept(error);
    }

    void timeNotKept(int error)
    {
        m_report.notes.push_back(
            {shown(m_entry.oldName), QString(),
             QStringLiteral("время изменения не восстановлено: %1").arg(SystemReason(error))});
    }

    void stays(const QByteArray& now, const QString& reason)
    {
        m_report.lines.push_back({now, m_entry.oldName, reason});
        m_report.notRestored.push_back({shown(now), shown(m_entry.oldName), reason});
        ++m_report.notGivenBack;
    }

    void noteJournalFailure()
    {
        if (m_report.journalFailure.isEmpty())
            m_report.journalFailure = SystemReason(m_writer->error());
    }

    Folder& m_folder;
    const OpenFolder& m_open;
    JournalWriter* m_writer;
    const Journal& m_journal;
    const int m_number;
    const JournalEntry& m_entry;
    UndoReport& m_report;
    const QByteArray m_old;
    const QByteArray m_new;
};

} // namespace

Undo::~Undo() = default;

std::unique_ptr<Undo> Undo::open(const QString& path, QString& error)
{
    std::unique_ptr<Undo> undo(new Undo());
    bool held = false;
    undo->m_writer = JournalWriter::reopen(path, error, held);
    if (!undo->m_writer) {
        if (held)
            error = QStringLiteral("это переименование сейчас отменяет или выполняет другой "
                                   "Sorvane");
        return nullptr;
    }
    // Read under the lock, from the descriptor that holds it.
    const FileDescriptor fd = OpenJournal(path, false, error);
    if (!fd.isOpen() || !ReadJournalFrom(fd.get(), path, undo->m_journal, error))
        return nullptr;
    undo->m_journal.cutLine |= undo->m_writer->cutOff();
    const Journal& journal = undo->m_journal;
    if (journal.kind == JournalKind::Undo) {
        error =
            QStringLiteral("журнал %1 — журнал отмены, а не переименования").arg(QuotedPath(path));
        return nullptr;
    }
    if (journal.undone) {
        error = QStringLiteral("это переименование уже отменено");
        return nullptr;
    }
    return undo;
}

bool Undo::canRecord(QString& why)
{
    // Room for a record or two of every file, the longest names included.
    qint64 bytes = 4096;
    for (const JournalEntry& entry : m_journal.entries)
        bytes += 64 + 2 * (entry.oldName.size() + entry.newName.size());
    if (m_writer->reserve(bytes))
        return true;
    why = QStringLiteral("Журнал отмены не записан: %1 (%2).")
              .arg(SystemReason(m_writer->error()), QuotedPath(m_journal.path));
    return false;
}

UndoReport Undo::run(UndoObserver* observer)
{
    UndoReport report;
    report.folder = QFile::decodeName(m_journal.folder);
    report.interrupted = !m_journal.complete;
    report.cut = m_journal.cutLine && !m_journal.complete;
    std::vector<int> errors;
    const FolderCheck check = CheckFolders({m_journal.folder}, FolderCheckMs, &errors).front();
    if (check != FolderCheck::Present) {
        report.refusal = check == FolderCheck::NoAnswer
                             ? QStringLiteral("папка %1 не отвечает").arg(QuotedPath(report.folder))
                             : QStringLiteral("папка %1 недоступна: %2")
                                   .arg(QuotedPath(report.folder), SystemReason(errors.front()));
        return report;
    }
    JournalWriter* writer = m_record ? m_writer.get() : nullptr;
    if (writer && !writer->markUndoStarted()) {
        report.journalFailure = SystemReason(writer->error());
        writer = nullptr;
    }
    Folder folder(m_journal.folder, true);
    const int total = int(m_journal.entries.size());
    QByteArray failedFolder = "\n"; // no relative folder is spelt so
    for (int i = total - 1; i >= 0; --i) {
        const JournalEntry& entry = m_journal.entries[std::size_t(i)];
        if (entry.named)
            continue;
        if (!report.stopped &&
            (StopRequested() ||
             (observer && !observer->proceed(total - 1 - i, total, shown(entry.oldName)))))
            report.stopped = true;
        const QByteArray dir = folderPart(entry.oldName);
        QString why;
        const OpenFolder* open =
            report.stopped || dir == failedFolder ? nullptr : folder.open(dir, why);
        if (report.stopped || !open) {
            // One line for a folder that cannot be had, not one per file.
            if (!report.stopped && dir != failedFolder) {
                failedFolder = dir;
                report.notRestored.push_back(
                    {dir.isEmpty() ? report.folder : shown(dir), QString(), why});
            }
            ++report.notGivenBack;
            continue;
        }
        EntryUndo one(folder, *open, writer, m_journal, i, report);
        if (!one.run()) {
            report.stopped = true;
            ++report.notGivenBack;
        }
    }
    if (writer && report.allBack() && !writer->markUndone())
        report.journalFailure = SystemReason(writer->error());
    return report;
}

int FilesUnderNewNames(const Journal& journal)
{
    Folder folder(journal.folder, false);
    int count = 0;
    for (const JournalEntry& entry : journal.entries) {
        QString why;
        const OpenFolder* open =
            entry.named ? nullptr : folder.open(folderPart(entry.oldName), why);
        if (!open)
            continue;
        const Whereabouts where = locate(folder, *open, entry);
        count += !where.atOld && (where.atNew || !where.aside.isEmpty());
    }
    return count;
}

QString UndoSummaryText(const UndoReport& report)
{
    if (!report.refusal.isEmpty())
        return QStringLiteral("Прежние имена не возвращены: %1.").arg(report.refusal);
    if (report.allBack())
        return QStringLiteral("Прежние имена возвращены.");
    return Plural(report.notGivenBack, "%1 файл не возвращён!", "%1 файла не возвращено!",
                  "%1 файлов не возвращено!");
}

QString UndoSecondLine(const UndoReport& report)
{
    if (report.stopped)
        return Plural(report.restored,
                      "Остановлено: возвращён %1 файл; отмените ещё раз, чтобы "
                      "вернуть остальные.",
                      "Остановлено: возвращено %1 файла; отмените ещё раз, чтобы вернуть "
                      "остальные.",
                      "Остановлено: возвращено %1 файлов; отмените ещё раз, чтобы вернуть "
                      "остальные.");
    if (report.cut)
        return QStringLiteral("Журнал переименования оборван на середине строки: файлы, "
                              "переименованные после его последней целой записи, не найти.");
    if (report.interrupted)
        return QStringLiteral("Переименование было прервано: если после последней записи журнала "
                              "оно успело переименовать ещё файлы, их не найти.");
    return QString();
}

} // namespace sorvane
