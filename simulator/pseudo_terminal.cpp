// POSIX pseudo-terminals (posix_openpt, termios): kept apart because the rest
// of the simulator does not depend on how a serial line is provided.
#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace chronel::sim {
namespace {

bool MakeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

bool OpenPseudoTerminal(PseudoTerminal& pty, std::string& error)
{
    pty.masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.masterFd < 0 || ::grantpt(pty.masterFd) != 0 || ::unlockpt(pty.masterFd) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        ClosePseudoTerminal(pty);
        return false;
    }
    char name[128];
    if (::ptsname_r(pty.masterFd, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        ClosePseudoTerminal(pty);
        return false;
    }
    pty.slavePath = name;
    pty.slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Without raw mode the slave's line discipline would echo our replies back.
    if (pty.slaveFd < 0 || !MakeRaw(pty.slaveFd) || !MakeRaw(pty.masterFd)) {
        error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
        ClosePseudoTerminal(pty);
        return false;
    }
    int flags = ::fcntl(pty.masterFd, F_GETFL);
    ::fcntl(pty.masterFd, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void ClosePseudoTerminal(PseudoTerminal& pty)
{
    if (pty.slaveFd >= 0)
        ::close(pty.slaveFd);
    if (pty.masterFd >= 0)
        ::close(pty.masterFd);
    pty.slaveFd = pty.masterFd = -1;
}

} // namespace chronel::sim
