#pragma once

#include "base/error.h"

namespace sorvane
{

// Why a file's tag could not be read.
namespace TagFailure
{
extern const FailureKind OpenFailed; // error: the system's code
extern const FailureKind NotRegularFile;
extern const FailureKind TooShort;
extern const FailureKind ReadFailed; // error: the system's code
extern const FailureKind ShortRead;
extern const FailureKind NoTag; // the last 128 bytes do not begin with "TAG"
} // namespace TagFailure

} // namespace sorvane
