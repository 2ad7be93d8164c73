#pragma once

#include "journal/undo.h"
#include "run/folderrun.h"
#include "walk/foldertree.h"

#include <QElapsedTimer>
#include <QString>

#include <memory>

class QWidget;

namespace sorvane
{

class Dialogs;
class Progress;

// What the window knows of the work under way: whether a run or undo is going, and whether the
// user closed the window meanwhile (it then stops, and the window closes after it).
struct WindowWork {
    bool running = false;
    bool closeRequested = false;
};

// Between the folders of a walk, the files of a run and those of an undo: keeps the window
// painting and answering the desktop, and after a second shows progress with a Cancel button.
// Cheap when nothing is due.
class RunProgress : public RunObserver, public WalkObserver, public UndoObserver
{
public:
    // A total of 0 for the walk, whose size is not known ahead.
    RunProgress(QWidget& window, Dialogs& dialogs, const WindowWork& work, int total,
                const QString& folder);
    ~RunProgress() override;

    bool proceed(int done, const FolderTree& tree) override;
    bool walking(int folders, int files, const QString& folder) override;
    bool proceed(int done, int total, const QString& name) override;

private:
    // Every step comes here; false when it is to stop.
    template <typename Name> bool tick(int done, Name name);

    static constexpr qint64 PumpInterval = 40; // ms
    static constexpr qint64 ShowAfter = 1000;  // ms

    QWidget& m_window;
    Dialogs& m_dialogs;
    const WindowWork& m_work;
    int m_total;
    QString m_folder;
    QElapsedTimer m_clock;
    qint64 m_lastPump = 0;
    std::unique_ptr<Progress> m_dialog;
};

} // namespace sorvane
