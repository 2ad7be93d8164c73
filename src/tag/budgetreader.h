#pragma once

#include <QtGlobal>

namespace sorvane
{

class ByteSource;

// How far into a file its ID3v2 tag is read from its start, and its APEv2 tag from its end: a
// tag with cover art takes hundreds of KiB, sometimes MiB, of which the fields need a few dozen
// bytes. Where a tag is larger, only the frames (or items) the fields need are read.
constexpr qint64 TagReadLimit = 256 * 1024;

// Reads of one file beyond its last 128 bytes, all together within TagReadLimit.
class BudgetReader
{
public:
    BudgetReader(ByteSource& source, qint64 size) : m_source(source), m_size(size) {}

    // Bytes [offset, offset + count) of the file into `into`, or fewer at its end; the number
    // read, or -1 on a failed read or when the limit would be passed.
    qint64 read(qint64 offset, qint64 count, char* into);

    qint64 size() const { return m_size; }
    qint64 budget() const { return m_budget; }
    int error() const { return m_error; }

private:
    ByteSource& m_source;
    qint64 m_size;
    qint64 m_budget = TagReadLimit;
    int m_error = 0;
};

} // namespace sorvane
