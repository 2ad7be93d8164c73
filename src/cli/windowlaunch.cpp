#include "cli/windowlaunch.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace sorvane
{

namespace
{

// This program's own file, however it was started; empty where the system does not say.
std::string ownPath()
{
    std::vector<char> path(4096);
    const ssize_t size = ::readlink("/proc/self/exe", path.data(), path.size());
    if (size <= 0 || std::size_t(size) >= path.size())
        return std::string();
    return std::string(path.data(), std::size_t(size));
}

// Beside this program in a build tree; installed, where the build put it relative to this
// program, so a moved installation still finds its own.
std::vector<std::string> windowPrograms()
{
    const std::string self = ownPath();
    const std::string::size_type slash = self.rfind('/');
    if (slash == std::string::npos)
        return {SORVANE_WINDOW_INSTALLED};
    const std::string folder = self.substr(0, slash + 1);
    return {folder + "sorvane-window", folder + SORVANE_WINDOW_FROM_PROGRAM};
}

} // namespace

int LaunchWindow(char* argv[])
{
    // The last place tried is named where none holds it, else the one that failed.
    const std::vector<std::string> programs = windowPrograms();
    const std::string* tried = nullptr;
    int error = ENOENT;
    for (const std::string& program : programs) {
        tried = &program;
        ::execv(program.c_str(), argv);
        error = errno;
        if (error != ENOENT)
            break;
    }
    std::fprintf(stderr, "sorvane: cannot start the window (%s): %s\n", tried->c_str(),
                 std::strerror(error));
    return 1;
}

} // namespace sorvane
