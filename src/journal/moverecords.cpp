#include "journal/moverecords.h"

#include "journal/journalwriter.h"

namespace sorvane
{

MoveRecords RecordMovesOf(JournalWriter* writer, int number, const QByteArray& folder,
                          std::function<void()> failed,
                          std::function<bool(Leftover, const char*)> recorded)
{
    MoveRecords records;
    const auto relative = [folder](const char* name) {
        return folder.isEmpty() ? QByteArray(name) : folder + '/' + name;
    };
    if (writer && number >= 0) {
        records.before = [writer, number, relative, failed](Leftover kind, const char* name) {
            bool written = false;
            switch (kind) {
            case Leftover::Aside:
                written = writer->record("aside", number, relative(name));
                break;
            case Leftover::Reservation:
                written = writer->record("reserve", number, relative(name));
                break;
            case Leftover::SecondName:
                written = writer->record("link", number);
                break;
            }
            if (!written && failed)
                failed();
        };
        records.linkRefused = [writer, number, failed] {
            if (!writer->record("nolink", number) && failed)
                failed();
        };
    }
    records.recorded = std::move(recorded);
    return records;
}

} // namespace sorvane
