#pragma once

#include "base/error.h"

namespace sorvane
{

// Why a file was not renamed, once its tag was read.
namespace RenameFailure
{
extern const FailureKind NothingSelected;
extern const FailureKind NameHasSeparator;
extern const FailureKind NameHasControl; // error: the character's code point
extern const FailureKind NoTextForName;
extern const FailureKind NoPartText; // error: the part the tag has no text for (FieldModel's index)
extern const FailureKind NameIsHidden;
extern const FailureKind TargetExists;
extern const FailureKind RenameFailed; // error: the system's code
extern const FailureKind SourceGone;
extern const FailureKind TypeUnreadable; // error: the listing could not tell what the entry is
extern const FailureKind NotReached;     // the run was stopped before this file
extern const FailureKind LeftAside;      // error: a step failed and the file keeps its name aside

// Why a folder of a tree was not entered, or its files not renamed.
extern const FailureKind FolderUnreadable; // error: the system's code
extern const FailureKind OtherMount;
extern const FailureKind FolderWalked;
extern const FailureKind FolderTooDeep;
extern const FailureKind FolderChanged;
} // namespace RenameFailure

} // namespace sorvane
