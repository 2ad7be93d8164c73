#pragma once

#include "base/error.h"
#include "fs/fileidentity.h"
#include "names/detailsrow.h"
#include "tag/tagtext.h"
#include "walk/foldertree.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace sorvane
{

struct NotRenamed {
    int file; // in the tree
    Outcome outcome;
    qint32 newName = -1;  // the name that was to be made, where one was: in FolderReport's names
    int codePage = 0;     // the page its tag was read in, where not the locale's
    qint32 replaced = -1; // refused for a character: the name with such characters replaced
};

// A file refused for a character a drive may refuse, as the run saw it, for a second pass that
// replaces the characters (RenameReplaceable).
struct Replaceable {
    int file;
    FileIdentity identity;
};

// A file renamed from a tag read in a page not the locale's: the user may want to check it.
struct ReadInPage {
    int file;
    int codePage;
    qint32 newName;
};

// What a folder run did: every file not renamed, in the order of the run, with its reason.
struct FolderReport {
    QString folder;
    FolderTree tree;
    std::vector<NotRenamed> notRenamed;
    // Files a failed step left under a name aside (RenameFailure::LeftAside): that name, by file.
    std::map<int, QByteArray> leftAside;
    // Files renamed to a name the rules shortened to 255 bytes, with the name, in run order.
    std::vector<std::pair<int, qint32>> shortened;
    // Files renamed from a tag read in another page than the locale's, in run order.
    std::vector<ReadInPage> readInPage;
    // Files refused for a character a drive may refuse, in run order.
    std::vector<Replaceable> replaceable;
    // Files renamed whose modification time the drive changed and could not be put back, with
    // the system's code.
    std::vector<std::pair<int, int>> timeNotKept;
    // Empty files a killed move of an earlier run left, removed: by folder, with the name.
    std::vector<std::pair<int, QByteArray>> leftoversRemoved;
    int renamed = 0;        // files this run gave a new name (not those that had it already)
    int readers = 0;        // reading threads the run used (0: read in turn)
    bool stopped = false;   // by the user or a termination signal, before the first NotReached
    QString journal;        // the run's journal, closed, where it had one
    QString journalFailure; // why the journal stopped being written halfway, where it did
    // The kind of tag the fields were last loaded from, when any file's tag was.
    std::optional<TagKind> loaded;

    // Keeps a name for the details, packed; its index.
    qint32 keepName(const QString& name);
    QString name(qint32 index) const;

private:
    std::vector<char> m_names; // UTF-8, each ending in NUL
};

// The details in the order of the run, grouped by folder: folders not entered, files not renamed,
// files renamed to a shortened name, files renamed from a tag read in another page than the
// locale's, files whose time could not be kept, leftovers removed; then rows appended. A row is
// made from the report when it is
// asked for: kept as text, the rows of a run that leaves 60,000 files cost 20 MiB.
class DetailsTable
{
public:
    DetailsTable() = default;
    explicit DetailsTable(std::shared_ptr<const FolderReport> report);
    explicit DetailsTable(std::vector<DetailsRow> rows);

    int size() const;
    bool empty() const { return size() == 0; }
    DetailsRow row(int index) const;
    void append(DetailsRow row);

private:
    std::shared_ptr<const FolderReport> m_report;
    int m_reportRows = 0;
    std::vector<DetailsRow> m_rows;
};

// The details as text, as the summary copies and saves them: the folder, then a line per row;
// that the folder holds no MP3 files; empty when every file was renamed and nothing is to say.
QString DetailsText(const FolderReport& report);
QString DetailsText(const QString& folder, bool empty, const DetailsTable& rows);

// The summary's line of how many files the run renamed: "Переименовано 5 файлов.".
QString RenamedLine(const FolderReport& report);

// The summary's line after a stop: "Остановлено: 3 файла не обработано."; empty when the run was
// not stopped.
QString StoppedLine(const FolderReport& report);

} // namespace sorvane
