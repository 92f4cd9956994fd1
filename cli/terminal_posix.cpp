// POSIX: isatty() and sigaction() have no Qt counterpart; they stay in this
// file so the rest of the tool is free of system headers.
#include "terminal.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace chronelcli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

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

bool InterruptRequested() { return interrupted != 0; }

} // namespace chronelcli
