#pragma once

namespace sorvane
{

// Shows the window and runs its events until it is closed; the program's exit code.
int StartUp();

} // namespace sorvane
