// POSIX: isatty() and sigaction() have no Qt counterpart; they stay in this
// file so the rest of the tool is free of system headers.
#include "terminal.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace chronelcli {

namespace {

// Set by the signal handler on whichever thread takes the signal and read by
// every module's thread: a lock-free atomic, which a handler may write and
// other threads may read (a volatile sig_atomic_t is only good within one
// thread).
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { interrupted.store(true, std::memory_order_relaxed); }

} // namespace

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

TerminalSize StderrTerminalSize()
{
    TerminalSize size;
    struct winsize ws { };
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        size.columns = ws.ws_col;
        size.rows = ws.ws_row;
    }
    return size;
}

void InstallInterruptHandler()
{
    struct sigaction action { };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return interrupted.load(std::memory_order_relaxed); }

} // namespace chronelcli
