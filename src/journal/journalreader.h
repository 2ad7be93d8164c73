#pragma once

#include "journal/journalformat.h"

#include <QString>

namespace sorvane
{

// The longest line a journal may hold: a record of two names of 255 bytes, each byte printed as
// \xHH, with room to spare. A longer one is no line of Sorvane's.
constexpr int LongestJournalLine = 64 * 1024;

// Reads a journal whole, line by line, and checks every line (JournalParser): a journal is used
// only if it is what Sorvane writes (OpenJournal) and every line holds. A huge or sparse file is
// refused at its first bytes, never read whole. False, with the reason naming the journal and the
// line, where it is refused.
bool ReadJournal(const QString& path, Journal& journal, QString& error);
// The same from a journal already open (the undo's, under its lock), read from its start.
bool ReadJournalFrom(int fd, const QString& path, Journal& journal, QString& error);

// What a list of runs needs of a journal: its header and its last few KiB, where it ended; an
// interrupted one (no end line) is read whole. entries is -1 where only the end was read.
struct JournalSummary {
    Journal head; // kind, folder, started and the marks at its end; entries only if read whole
    int entries = -1;
    bool refused = false;
    QString reason;
};
JournalSummary SummarizeJournal(const QString& path);

} // namespace sorvane
