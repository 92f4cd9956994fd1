// Serial ports through termios and POSIX descriptors. Kept apart because the
// kernel's terminal interface (termios, modem-line ioctls, exclusive mode)
// is the one place where this layer depends on the operating system.
#include "platform/serial_port.h"
#include "platform/serial_termios.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

struct BaudMapping {
    int rate;
    speed_t code;
};

constexpr BaudMapping kBaudRates[] = {
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
};

bool SpeedCode(int rate, speed_t& code)
{
    for (const BaudMapping& m : kBaudRates) {
        if (m.rate == rate) {
            code = m.code;
            return true;
        }
    }
    return false;
}

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    // Rounded up, so a wait never ends before its deadline.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Unix 98 pseudo-terminal slaves have majors 136..143, the old BSD ones 3.
bool IsPseudoTerminal(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

} // namespace

bool TermiosForSettings(const SerialSettings& s, termios& tio)
{
    speed_t speed = 0;
    if (!SpeedCode(s.baudRate, speed) || (s.dataBits != 7 && s.dataBits != 8) || (s.stopBits != 1 && s.stopBits != 2))
        return false;
    // Built from zero rather than from whatever the last user of the device
    // left behind: raw bytes both ways, no echo, no translation, no software
    // or hardware flow control.
    std::memset(&tio, 0, sizeof tio);
    tio.c_cflag = CREAD | CLOCAL | HUPCL | (s.dataBits == 7 ? CS7 : CS8);
    if (s.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (s.parity != SerialParity::None) {
        tio.c_cflag |= PARENB;
        if (s.parity == SerialParity::Odd)
            tio.c_cflag |= PARODD;
        // A byte with a parity error arrives as 0 and so spoils the frame's
        // check instead of silently disappearing.
        tio.c_iflag |= INPCK;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0;
}

SerialPort::~SerialPort() { close(); }

bool SerialPort::fail(int err)
{
    lastError_ = err;
    return false;
}

bool SerialPort::open(const std::string& devicePath)
{
    if (fd_ >= 0)
        return fail(EBUSY);
    // Non-blocking so that neither a missing carrier on open nor a read can
    // hang the caller; every wait below is an explicit poll.
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // The advisory lock keeps out other users of the device even when this
    // process has the privilege to ignore the terminal's exclusive mode.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return fail(err);
    }
    // Exclusive mode refuses later opens by anyone who ignores the lock.
    // Devices that are not terminals reject it; configure() reports those.
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return true;
}

bool SerialPort::configure(const SerialSettings& s)
{
    if (fd_ < 0)
        return fail(EBADF);
    termios tio;
    if (!TermiosForSettings(s, tio))
        return fail(EINVAL);
    termios current;
    if (::tcgetattr(fd_, &current) != 0)
        return fail(errno);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        const int err = errno;
        // A pseudo-terminal keeps 8-bit bytes without parity whatever it is
        // asked, and a request that differs from its settings only there is
        // refused with EINVAL (as when a second program opens the same pty
        // with parity). Ask for what it will keep.
        if (err != EINVAL || !IsPseudoTerminal(fd_))
            return fail(err);
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD)) | CS8;
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return fail(errno);
    }

    // tcsetattr succeeds when any part was applied; make sure all of it was.
    // A pseudo-terminal always carries 8-bit bytes without parity and says
    // so in its settings; that is no reason to refuse it.
    termios back;
    if (::tcgetattr(fd_, &back) != 0)
        return fail(errno);
    tcflag_t lineBits = CSTOPB;
    if (!IsPseudoTerminal(fd_))
        lineBits |= CSIZE | PARENB | PARODD;
    if ((back.c_cflag & lineBits) != (tio.c_cflag & lineBits) || ::cfgetospeed(&back) != ::cfgetospeed(&tio) ||
        ::cfgetispeed(&back) != ::cfgetispeed(&tio))
        return fail(EINVAL);

    // Pseudo-terminals and some adapters have no modem lines and refuse
    // this; the link works without them.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &lines);
    return true;
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    ::close(fd_); // also releases the lock
    fd_ = -1;
}

bool SerialPort::writeAll(const std::uint8_t* data, std::size_t size, int timeoutMs)
{
    if (fd_ < 0)
        return fail(EBADF);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(errno);
        // The device's buffer is full: wait for room.
        pollfd p{fd_, POLLOUT, 0};
        const int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
        if (timeoutMs >= 0 && wait == 0)
            return fail(ETIMEDOUT);
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR)
            return fail(errno);
        if (r > 0 && (p.revents & (POLLERR | POLLNVAL)))
            return fail(EIO);
    }
    return true;
}

SerialPort::Wait SerialPort::waitForInput(int timeoutMs)
{
    if (fd_ < 0) {
        fail(EBADF);
        return Wait::Failed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, RemainingMs(deadline));
        if (r > 0) {
            if (p.revents & POLLIN)
                return Wait::Ready;
            // Hang-up or error without data: nothing will ever arrive.
            fail(p.revents & POLLNVAL ? EBADF : EIO);
            return Wait::Failed;
        }
        if (r < 0 && errno != EINTR) {
            fail(errno);
            return Wait::Failed;
        }
        if (r == 0 && Clock::now() >= deadline)
            return Wait::TimedOut;
    }
}

SerialPort::Read SerialPort::readByte(std::uint8_t& byte, int timeoutMs)
{
    for (;;) {
        switch (waitForInput(timeoutMs)) {
        case Wait::TimedOut: return Read::TimedOut;
        case Wait::Failed: return Read::Failed;
        case Wait::Ready: break;
        }
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 1)
            return Read::Byte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue; // readiness without data: wait again for what is left
        fail(n == 0 ? EIO : errno);
        return Read::Failed;
    }
}

SerialPort::Read SerialPort::readAvailable(std::uint8_t* data, std::size_t size, std::size_t& count, int timeoutMs)
{
    count = 0;
    if (size == 0) {
        fail(EINVAL);
        return Read::Failed;
    }
    for (;;) {
        switch (waitForInput(timeoutMs)) {
        case Wait::TimedOut: return Read::TimedOut;
        case Wait::Failed: return Read::Failed;
        case Wait::Ready: break;
        }
        const ssize_t n = ::read(fd_, data, size);
        if (n > 0) {
            count = static_cast<std::size_t>(n);
            return Read::Byte;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        fail(n == 0 ? EIO : errno);
        return Read::Failed;
    }
}

int SerialPort::bytesWaiting()
{
    if (fd_ < 0) {
        fail(EBADF);
        return -1;
    }
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) != 0) {
        fail(errno);
        return -1;
    }
    return count;
}

bool SerialPort::discard(bool input, bool output)
{
    if (fd_ < 0)
        return fail(EBADF);
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(fd_, which) != 0)
        return fail(errno);
    return true;
}

bool SerialPort::drain()
{
    if (fd_ < 0)
        return fail(EBADF);
    while (::tcdrain(fd_) != 0) {
        if (errno != EINTR)
            return fail(errno);
    }
    return true;
}

} // namespace platform
