#include "tag/budgetreader.h"

#include "tag/tagbytes.h"

#include <algorithm>

namespace sorvane
{

qint64 BudgetReader::read(qint64 offset, qint64 count, char* into)
{
    count = std::min(count, m_size - offset);
    if (count <= 0 || count > m_budget)
        return -1;
    int error = 0;
    const qint64 got = m_source.readAt(into, count, offset, error);
    if (got < 0) {
        m_error = error;
        return -1;
    }
    m_budget -= got;
    return got;
}

} // namespace sorvane
