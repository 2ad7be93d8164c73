#pragma once

#include "journal/startupscan.h"
#include "ui/runprogress.h"

#include <QString>

#include <memory>

class QWidget;

namespace sorvane
{

class Dialogs;

// The window's ways to take runs back: Ctrl+Z, the summary's "Вернуть прежние имена", and the
// question at start-up after an interrupted run. Each goes through one undo, which says exactly
// what it gave back.
class UndoFlow
{
public:
    UndoFlow(QWidget& window, Dialogs& dialogs, WindowWork& work);
    ~UndoFlow();

    // Ctrl+Z: names the newest run that can still be undone, asks, and takes it back.
    void offerNewest();
    // Takes the run of this journal back, asking only where its own records cannot be kept.
    void undo(const QString& path);

    // At start-up: journals are read on a thread of their own, so the window answers at once
    // however many there are; the questions come once they have been read.
    void checkInterruptedRuns();
    // The questions, from a scan: journals refused (said once), runs interrupted ("Нет" the
    // default, "Нет" marks a run dismissed, Escape asks again at the next start).
    void askAbout(const StartUpScan& scan);

private:
    QWidget& m_window;
    Dialogs& m_dialogs;
    WindowWork& m_work;
    // Told when the window goes, so a scan finishing later asks nothing.
    std::shared_ptr<bool> m_alive;
};

// The file name a summary's "Сохранить…" proposes: the folder's name and the date.
QString SummaryFileName(const QString& folder);

} // namespace sorvane
