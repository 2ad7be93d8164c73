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
extern const FailureKind NoPartText; // error: the part the tag has no text for (NamePart's index)
extern const FailureKind NameIsHidden;
extern const FailureKind TargetExists;
extern const FailureKind RenameFailed; // error: the system's code
extern const FailureKind SourceGone;
extern const FailureKind TypeUnreadable; // error: the listing could not tell what the entry is
extern const FailureKind NotReached;     // the run was stopped before this file
extern const FailureKind LeftAside;      // error: a step failed and the file keeps its name aside
extern const FailureKind FileChanged;    // not the file a first pass saw
extern const FailureKind ReadCrashed;    // error: ENOMEM or EIO, what reading the tag threw

// Why a folder of a tree was not entered, or its files not renamed.
extern const FailureKind FolderUnreadable; // error: the system's code
extern const FailureKind OtherMount;
extern const FailureKind FolderWalked;
extern const FailureKind FolderTooDeep;
extern const FailureKind FolderChanged;
extern const FailureKind FolderHeld;      // another Sorvane is renaming in it
extern const FailureKind FolderNotLocked; // error: the system's code
} // namespace RenameFailure

} // namespace sorvane
