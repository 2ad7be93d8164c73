#include "base/stoppolicy.h"

#include <QtGlobal>

#include <atomic>
#include <csignal>

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace sorvane
{

namespace
{

// Lock-free, so the handler may touch them; sequentially consistent (the default), so the store
// of one side and the load of the other cannot pass each other.
std::atomic<int> g_pending{0};
std::atomic<int> g_moving{0};
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<int> g_wakeRead{-1};
std::atomic<int> g_wakeWrite{-1};
const int StopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// Inside its own handler the signal is blocked: it is let through, so the parent sees the program
// ended by it.
[[noreturn]] void endBy(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    ::_exit(128 + signal);
}

extern "C" void onStopSignal(int signal)
{
    const int savedErrno = errno;
    int expected = 0;
    const bool first = g_pending.compare_exchange_strong(expected, signal);
    if (!first && g_moving.load() == 0)
        endBy(signal);
    if (const int fd = g_wakeWrite.load(); fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

void InstallStopPolicy()
{
    if (g_wakeRead.load() < 0) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            g_wakeRead = fds[0];
            g_wakeWrite = fds[1];
        }
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : StopSignals) {
        struct sigaction previous = {};
        // A signal the parent told us to ignore stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

bool StopRequested()
{
    return g_pending.load() != 0;
}

int StopSignal()
{
    return g_pending.load();
}

int StopWakeDescriptor()
{
    return g_wakeRead.load();
}

void FinishStop()
{
    if (const int signal = g_pending.load(); signal != 0)
        endBy(signal);
}

MoveUnderWay::MoveUnderWay()
{
    g_moving.fetch_add(1);
    m_began = g_pending.load() == 0;
}

MoveUnderWay::~MoveUnderWay()
{
    g_moving.fetch_sub(1);
}

void ForgetStopForTesting()
{
    g_pending = 0;
    char drain[64];
    if (const int fd = g_wakeRead.load(); fd >= 0) {
        while (::read(fd, drain, sizeof drain) > 0) {
        }
    }
}

} // namespace sorvane
