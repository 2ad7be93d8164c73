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
extern const FailureKind NoTag; // neither an ID3v1 record, nor an ID3v2 or APEv2 tag
} // namespace TagFailure

} // namespace sorvane
