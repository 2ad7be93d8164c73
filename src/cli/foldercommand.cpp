#include "cli/foldercommand.h"

#include "base/error.h"
#include "base/plural.h"
#include "base/stoppolicy.h"
#include "cli/commandline.h"
#include "cli/terminal.h"
#include "fs/openfolder.h"
#include "journal/journalfiles.h"
#include "journal/journalwriter.h"
#include "names/renamefailures.h"
#include "run/fieldmodel.h"
#include "run/folderrun.h"
#include "tag/codepage.h"
#include "walk/foldertree.h"

#include <QDir>
#include <QFile>

#include <memory>

namespace sorvane
{

namespace
{

// Prints each file as the run is done with it, and the progress on a terminal; a closed standard
// output stops the run before the next file.
class Printer : public RunObserver, public WalkObserver
{
public:
    explicit Printer(Terminal& terminal) : m_terminal(terminal) {}

    bool walking(int, int, const QString&) override { return !stopped(); }

    bool proceed(int done, const FolderTree& tree) override
    {
        if (m_tree != &tree) {
            m_tree = &tree;
            m_folderPath = FolderPath();
        }
        m_terminal.progress(done, tree.files.size());
        return !stopped();
    }

    void readInPage(int, int codePage) override { m_codePage = codePage; }

    void fileDone(int file, const Outcome& outcome, const QString& newName,
                  bool alreadyNamed) override
    {
        // The line is built in one buffer kept from file to file: a run prints a line a file,
        // and building it from strings cost more than naming the file.
        const QByteArray& folder = m_folderPath.of(*m_tree, m_tree->folderOf(file));
        m_line.resize(0); // keeps the buffer, where clear() would let it go
        appendPath(folder, m_tree->files.name(file));
        if (outcome.ok() && !alreadyNamed) {
            m_line += " -> ";
            appendPath(folder, OpenFolder::nativeName(newName));
        } else if (outcome.ok()) {
            m_line += ": уже называется так";
        } else {
            m_line += ": ";
            m_line += reason(outcome, newName).toUtf8();
        }
        // The page a tag was read in where it is not the locale's, so the user can check it.
        if (m_codePage != 0)
            m_line += QStringLiteral(" (тег прочитан в кодировке %1)")
                          .arg(CodePageName(m_codePage))
                          .toUtf8();
        m_codePage = 0;
        m_terminal.line(QByteArrayView(m_line));
    }

private:
    bool stopped() const { return m_terminal.outputClosed() || StopRequested(); }

    // A name in `folder`, its path quoted.
    void appendPath(const QByteArray& folder, QByteArrayView name)
    {
        m_path.resize(0);
        if (!folder.isEmpty())
            m_path.append(QByteArrayView(folder)).append('/');
        m_path.append(name);
        Terminal::appendQuoted(m_line, m_path);
    }

    static QString reason(const Outcome& outcome, const QString& newName)
    {
        // The name another file holds, as the window's details say it.
        if (outcome.failure == &RenameFailure::TargetExists && !newName.isEmpty())
            return QStringLiteral("файл %1 уже существует")
                .arg(Terminal::quoted(OpenFolder::nativeName(newName)));
        return Reason(outcome);
    }

    Terminal& m_terminal;
    const FolderTree* m_tree = nullptr;
    int m_codePage = 0;
    FolderPath m_folderPath;
    QByteArray m_path;
    QByteArray m_line;
};

} // namespace

int RunFolderCommand(const CommandLine& command, Terminal& terminal)
{
    const QString path = QDir(command.folder).absolutePath();
    std::unique_ptr<OpenFolder> root;
    FolderTree tree;
    Printer printer(terminal);
    try {
        root = std::make_unique<OpenFolder>(path);
        tree = WalkFolder(*root, command.subfolders, &printer);
    } catch (const FolderHeld& held) {
        terminal.error(held.message()); // said as the window says it
        return 2;
    } catch (const Error& error) {
        terminal.error(QStringLiteral("sorvane: %1").arg(error.message()));
        return 2;
    }
    for (const SkippedFolder& folder : tree.skipped) {
        const QByteArray parent = tree.relativePath(folder.parent);
        terminal.line(
            Terminal::quoted(parent.isEmpty() ? folder.name : parent + '/' + folder.name) +
            QStringLiteral(": ") + Reason(folder.why));
    }
    std::unique_ptr<JournalWriter> journal;
    if (!command.dryRun) {
        QString error;
        journal = JournalWriter::create(JournalKind::Run, QFile::encodeName(path), error);
        if (!journal)
            terminal.error(QStringLiteral("Журнал не записан: переименование нельзя будет "
                                          "отменить. %1")
                               .arg(error));
    }
    MemoryFieldModel model;
    model.setCheck1(FieldModel::Album, command.album ? 1 : 0);
    model.setCheck1(FieldModel::Year, command.year ? 1 : 0);
    model.setFolderPath(path);
    FolderRunOptions options;
    options.observer = &printer;
    options.journal = journal.get();
    options.dryRun = command.dryRun;
    if (command.replaceUnsafe)
        options.replace = FolderRunOptions::Replacement::ByDrive;
    const bool skipped = !tree.skipped.empty();
    const FolderReport report = RenameTree(model, *root, std::move(tree), options);
    if (!report.journalFailure.isEmpty())
        terminal.error(QStringLiteral("Журнал не записан до конца: переименование нельзя будет "
                                      "отменить полностью. %1")
                           .arg(report.journalFailure));
    const int failures = model.FailCount();
    // Before the count, which stays the last line.
    if (const int refused = int(report.replaceable.size()); refused > 0)
        terminal.line(Plural(refused,
                             "Из-за символов, которых диск не принимает, не сделано %1 имя; "
                             "с --replace-unsafe файл будет переименован с их заменой.",
                             "Из-за символов, которых диск не принимает, не сделано %1 имени; "
                             "с --replace-unsafe файлы будут переименованы с их заменой.",
                             "Из-за символов, которых диск не принимает, не сделано %1 имён; "
                             "с --replace-unsafe файлы будут переименованы с их заменой."));
    terminal.line(failures > 0
                      ? QString::number(failures) + QStringLiteral(" файлов не переименовано!")
                      : QStringLiteral("Готово!"));
    if (const QString stopped = StoppedLine(report); !stopped.isEmpty())
        terminal.line(stopped);
    if (!command.dryRun)
        PruneJournals();
    return failures > 0 || skipped || report.stopped ? 1 : 0;
}

} // namespace sorvane
