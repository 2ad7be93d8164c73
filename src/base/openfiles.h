#pragma once

namespace sorvane
{

// Lets the process hold as many descriptors as the system allows it: a tree run holds the lock
// of every folder it will rename in, thousands of album folders, while the soft limit is often
// 1,024. Qt waits on descriptors with poll, so high numbers are no trouble.
void RaiseOpenFileLimit();

} // namespace sorvane
