#include "ui/runprogress.h"

#include "base/stoppolicy.h"
#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDir>

namespace sorvane
{

RunProgress::RunProgress(QWidget& window, Dialogs& dialogs, const WindowWork& work, int total,
                         const QString& folder)
    : m_window(window), m_dialogs(dialogs), m_work(work), m_total(total), m_folder(folder)
{
    m_clock.start();
}

RunProgress::~RunProgress() = default;

bool RunProgress::proceed(int done, const FolderTree& tree)
{
    return tick(done, [&] { return tree.displayPath(done); });
}

bool RunProgress::walking(int folders, int, const QString& folder)
{
    return tick(folders, [&] { return QDir::toNativeSeparators(folder); });
}

bool RunProgress::proceed(int done, int, const QString& name)
{
    return tick(done, [&] { return name; });
}

template <typename Name> bool RunProgress::tick(int done, Name name)
{
    const qint64 now = m_clock.elapsed();
    if (now - m_lastPump < PumpInterval)
        return true;
    m_lastPump = now;
    if (!m_dialog && now >= ShowAfter)
        m_dialog = m_dialogs.showProgress(&m_window, m_total, m_folder);
    if (m_dialog)
        m_dialog->setProgress(done, name());
    // Until the modal dialog blocks the window, clicks on it must wait for the run's end.
    QCoreApplication::processEvents(m_dialog ? QEventLoop::AllEvents
                                             : QEventLoop::ExcludeUserInputEvents);
    return !(m_dialog && m_dialog->wasCanceled()) && !m_work.closeRequested && !StopRequested();
}

} // namespace sorvane
