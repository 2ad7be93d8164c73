#include "tag/unsynchronisation.h"

namespace sorvane
{

qsizetype RemoveUnsynchronisation(char* bytes, qsizetype size)
{
    qsizetype to = 0;
    for (qsizetype from = 0; from < size; ++from) {
        bytes[to++] = bytes[from];
        if (quint8(bytes[from]) == 0xFF && from + 1 < size && bytes[from + 1] == 0)
            ++from;
    }
    return to;
}

} // namespace sorvane
