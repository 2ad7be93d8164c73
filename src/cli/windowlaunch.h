#pragma once

namespace sorvane
{

// Puts the window's program in place of this one, with the same arguments. The command line
// starts without the widget, font and display libraries the window needs: loading them takes
// longer than a run over a small folder. Returns only when the window's program could not be
// started, having said why on standard error; the exit code.
int LaunchWindow(char* argv[]);

} // namespace sorvane
