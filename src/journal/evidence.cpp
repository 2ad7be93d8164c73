#include "journal/evidence.h"

#include "journal/journalfiles.h"
#include "journal/journalreader.h"

namespace sorvane
{

namespace
{

// One folder lies at, above or below the other: their journals may speak of the same files.
bool overlaps(const QByteArray& a, const QByteArray& b)
{
    const auto within = [](const QByteArray& inner, const QByteArray& outer) {
        return inner == outer || outer == "/" ||
               (inner.startsWith(outer) && inner.at(outer.size()) == '/');
    };
    return within(a, b) || within(b, a);
}

} // namespace

QByteArray BaseName(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? relative : relative.mid(slash + 1);
}

QByteArray EntryFolder(const QByteArray& journalFolder, const JournalEntry& entry)
{
    const qsizetype slash = entry.oldName.lastIndexOf('/');
    if (slash < 0)
        return journalFolder;
    const QByteArray below = entry.oldName.left(slash);
    return journalFolder.endsWith('/') ? journalFolder + below : journalFolder + '/' + below;
}

JournalEvidence JournalEvidence::load(const QByteArray& folder)
{
    JournalEvidence evidence;
    for (const QString& path : JournalPaths()) {
        if (IsJournalLive(path))
            continue;
        JournalSummary summary = SummarizeJournal(path);
        const Journal& head = summary.head;
        if (summary.refused || head.kind == JournalKind::Undo || !overlaps(head.folder, folder))
            continue;
        const bool mayHoldLeftovers = !head.complete || head.undoStarted;
        if (!mayHoldLeftovers)
            continue;
        auto journal = std::make_unique<Journal>();
        QString error;
        if (summary.entries >= 0) {
            *journal = std::move(summary.head);
        } else if (!ReadJournal(path, *journal, error)) {
            continue;
        }
        for (const JournalEntry& entry : journal->entries) {
            if (!entry.named)
                evidence.m_byFolder.emplace(EntryFolder(journal->folder, entry), &entry);
        }
        evidence.m_journals.push_back(std::move(journal));
    }
    return evidence;
}

const JournalEntry* JournalEvidence::moveOf(const QByteArray& folder, QByteArrayView from,
                                            QByteArrayView to, const FileIdentity& now) const
{
    const auto [first, last] = m_byFolder.equal_range(folder);
    for (auto it = first; it != last; ++it) {
        const JournalEntry& entry = *it->second;
        if (BaseName(entry.oldName) == from && BaseName(entry.newName) == to &&
            SameIdentity(entry.identity, now))
            return &entry;
    }
    return nullptr;
}

bool JournalEvidence::records(const JournalEntry& entry, Leftover kind, QByteArrayView name)
{
    const auto named = [&name](const std::vector<QByteArray>& names) {
        for (const QByteArray& each : names) {
            if (BaseName(each) == name)
                return true;
        }
        return false;
    };
    switch (kind) {
    case Leftover::Aside:
        return named(entry.asides);
    case Leftover::Reservation:
        // Version 1 said only that a name was reserved: the new one, or one aside.
        return named(entry.reserved) ||
               (entry.reservedV1 && (BaseName(entry.newName) == name || named(entry.asides)));
    case Leftover::SecondName:
        return entry.linked && (BaseName(entry.newName) == name || BaseName(entry.oldName) == name);
    }
    return false;
}

std::vector<JournalEvidence::Left> JournalEvidence::leftoversIn(const QByteArray& folder) const
{
    std::vector<Left> left;
    const auto [first, last] = m_byFolder.equal_range(folder);
    for (auto it = first; it != last; ++it) {
        const JournalEntry& entry = *it->second;
        for (const QByteArray& name : entry.reserved)
            left.push_back({BaseName(name), &entry, folder});
        for (const QByteArray& name : entry.asides)
            left.push_back({BaseName(name), &entry, folder});
    }
    return left;
}

} // namespace sorvane
