#include "ui/openfiledialog.h"

#include "ui/dialogs.h"

#include <QFileInfo>

namespace sorvane
{

void OpenFileDialog::showOpen(QWidget* parent)
{
    QString qtFilter;
    if (const auto bar = m_filter.indexOf(QLatin1Char('|')); bar >= 0)
        qtFilter = QStringLiteral("%1 (%2)").arg(m_filter.left(bar), m_filter.mid(bar + 1));
    m_fileName = m_dialogs.getOpenFileName(parent, m_title, qtFilter,
                                           m_lastChosen.isEmpty() ? StartFolder() : m_lastChosen);
    if (!m_fileName.isEmpty())
        m_lastChosen = m_fileName;
}

QString OpenFileDialog::FileTitle() const
{
    return QFileInfo(m_fileName).fileName();
}

} // namespace sorvane
