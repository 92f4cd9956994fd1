#include "platform/serial_port.h"
#include "platform/serial_termios.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <ostream>

#include <gtest/gtest.h>

namespace {

using platform::SerialParity;
using platform::SerialPort;
using platform::SerialSettings;
using Clock = std::chrono::steady_clock;

// A pseudo-terminal pair: the port under test opens the slave side by its
// path, the test plays the device on the master side.
class PtyPair {
public:
    PtyPair()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        if (const char* name = ptsname(master_))
            slavePath_ = name;
    }
    ~PtyPair()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void send(const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly n bytes from the master side, bounded in time.
    std::vector<std::uint8_t> receive(std::size_t n, int timeoutMs = 2000) const
    {
        std::vector<std::uint8_t> out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0)
                out.insert(out.end(), buf, buf + r);
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal";
        ASSERT_TRUE(port_.open(pty_.slavePath())) << "errno " << port_.lastError();
    }
    // Waits until the port reports `n` bytes waiting (pty transfer is asynchronous).
    int waitForCount(int n)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        int count = port_.bytesWaiting();
        while (count < n && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            count = port_.bytesWaiting();
        }
        return count;
    }
    PtyPair pty_;
    SerialPort port_;
};

struct LineCase {
    SerialSettings settings;
    speed_t speed;
    tcflag_t size;
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    static const char parity[] = {'N', 'O', 'E'};
    *os << c.settings.baudRate << ' ' << c.settings.dataBits << parity[static_cast<int>(c.settings.parity)]
        << c.settings.stopBits;
}

class SerialLineSettings : public SerialPty, public ::testing::WithParamInterface<LineCase> { };

void ExpectRaw(const termios& t)
{
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    // No line editing, echo, signals, translation or flow control.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | IGNPAR), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

// The record handed to the device holds every line setting exactly.
TEST_P(SerialLineSettings, RecordHoldsTheSettings)
{
    const LineCase& c = GetParam();
    termios t{};
    ASSERT_TRUE(platform::TermiosForSettings(c.settings, t));
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.settings.parity != SerialParity::None);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.settings.parity == SerialParity::Odd);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.settings.parity != SerialParity::None);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.settings.stopBits == 2);
    ExpectRaw(t);
}

// Read back from the device: a pseudo-terminal keeps speed, stop bits and raw
// mode (it always carries 8-bit bytes without parity, so those two are not
// visible on it).
TEST_P(SerialLineSettings, AppliedToTheDevice)
{
    const LineCase& c = GetParam();
    ASSERT_TRUE(port_.configure(c.settings)) << "errno " << port_.lastError();
    termios t{};
    ASSERT_EQ(tcgetattr(port_.nativeHandle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.settings.stopBits == 2);
    ExpectRaw(t);
}

INSTANTIATE_TEST_SUITE_P(Lines, SerialLineSettings,
    ::testing::Values(LineCase{{1200, 7, SerialParity::Even, 2}, B1200, CS7},
        LineCase{{9600, 8, SerialParity::None, 1}, B9600, CS8}, LineCase{{19200, 8, SerialParity::Odd, 1}, B19200, CS8},
        LineCase{{115200, 7, SerialParity::None, 2}, B115200, CS7},
        LineCase{{57600, 8, SerialParity::Even, 1}, B57600, CS8}));

TEST_F(SerialPty, UnsupportedSettingsRefused)
{
    for (const SerialSettings& s : {SerialSettings{12345, 8, SerialParity::None, 1},
             SerialSettings{9600, 6, SerialParity::None, 1}, SerialSettings{9600, 8, SerialParity::None, 3}}) {
        EXPECT_FALSE(port_.configure(s));
        EXPECT_EQ(port_.lastError(), EINVAL);
    }
}

// Binary data pass unchanged both ways, including bytes that a terminal in
// its default mode would translate or act on (CR, LF, XON/XOFF, ^C, 0xFF).
TEST_F(SerialPty, RawBytesBothWays)
{
    ASSERT_TRUE(port_.configure({9600, 8, SerialParity::None, 1}));
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < 256; ++i)
        frame.push_back(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(port_.writeAll(frame.data(), frame.size(), 2000));
    EXPECT_EQ(pty_.receive(frame.size()), frame);

    const std::vector<std::uint8_t> reply = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0xFF, 0x00, 0x7F};
    pty_.send(reply);
    std::vector<std::uint8_t> got;
    std::uint8_t b = 0;
    while (got.size() < reply.size() && port_.readByte(b, 1000) == SerialPort::Read::Byte)
        got.push_back(b);
    EXPECT_EQ(got, reply);
}

TEST_F(SerialPty, ReadTimesOutAfterItsTimeout)
{
    ASSERT_TRUE(port_.configure({9600, 8, SerialParity::None, 1}));
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port_.readByte(b, 60), SerialPort::Read::TimedOut);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 60);
    EXPECT_LT(elapsed, 1000);

    // A zero time-out only looks.
    const auto start0 = Clock::now();
    EXPECT_EQ(port_.waitForInput(0), SerialPort::Wait::TimedOut);
    EXPECT_LT(Clock::now() - start0, std::chrono::milliseconds(50));

    // A byte arriving during the wait is taken at once, not at the end of it.
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty_.send({0x42});
    });
    const auto start2 = Clock::now();
    EXPECT_EQ(port_.readByte(b, 3000), SerialPort::Read::Byte);
    EXPECT_LT(Clock::now() - start2, std::chrono::milliseconds(1500));
    EXPECT_EQ(b, 0x42);
    device.join();
}

TEST_F(SerialPty, BytesWaitingAndDiscard)
{
    ASSERT_TRUE(port_.configure({9600, 8, SerialParity::None, 1}));
    EXPECT_EQ(port_.bytesWaiting(), 0);
    pty_.send({1, 2, 3});
    EXPECT_EQ(waitForCount(3), 3);
    std::uint8_t b = 0;
    ASSERT_EQ(port_.readByte(b, 100), SerialPort::Read::Byte);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(port_.bytesWaiting(), 2);

    // Stale bytes of an earlier reply are dropped before the next request.
    ASSERT_TRUE(port_.discard());
    EXPECT_EQ(port_.bytesWaiting(), 0);
    EXPECT_EQ(port_.readByte(b, 20), SerialPort::Read::TimedOut);
    pty_.send({9});
    ASSERT_EQ(port_.readByte(b, 1000), SerialPort::Read::Byte);
    EXPECT_EQ(b, 9);
}

TEST_F(SerialPty, ReadAvailableTakesWhatHasArrivedUpToItsRoom)
{
    ASSERT_TRUE(port_.configure({9600, 8, SerialParity::None, 1}));
    std::uint8_t buf[4];
    std::size_t count = 99;
    EXPECT_EQ(port_.readAvailable(buf, sizeof buf, count, 20), SerialPort::Read::TimedOut);
    EXPECT_EQ(count, 0u);

    pty_.send({1, 2, 3, 4, 5, 6});
    ASSERT_EQ(waitForCount(6), 6);
    ASSERT_EQ(port_.readAvailable(buf, sizeof buf, count, 100), SerialPort::Read::Byte);
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + count), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_EQ(port_.readAvailable(buf, sizeof buf, count, 100), SerialPort::Read::Byte);
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + count), (std::vector<std::uint8_t>{5, 6}));
    EXPECT_EQ(port_.readAvailable(buf, 0, count, 100), SerialPort::Read::Failed);
}

TEST_F(SerialPty, SecondOpenIsRefusedUntilClosed)
{
    SerialPort second;
    EXPECT_FALSE(second.open(pty_.slavePath()));
    EXPECT_EQ(second.lastError(), EBUSY);
    EXPECT_FALSE(second.isOpen());
    // Reopening an open port object is refused too.
    EXPECT_FALSE(port_.open(pty_.slavePath()));
    port_.close();
    EXPECT_TRUE(second.open(pty_.slavePath())) << "errno " << second.lastError();
}

TEST_F(SerialPty, ReopenedWithParityAfterAnEarlierUser)
{
    // The second program to open a pty with parity finds the first one's
    // settings there; the kernel refuses the parity change it would not keep.
    SerialSettings even;
    even.parity = SerialParity::Even;
    for (int user = 0; user < 3; ++user) {
        ASSERT_TRUE(port_.configure(even)) << "user " << user << " errno " << port_.lastError();
        port_.close();
        ASSERT_TRUE(port_.open(pty_.slavePath())) << "errno " << port_.lastError();
    }
}

TEST(SerialPort, MissingDeviceAndClosedPort)
{
    SerialPort port;
    EXPECT_FALSE(port.open("/dev/chronel-no-such-port"));
    EXPECT_EQ(port.lastError(), ENOENT);
    std::uint8_t b = 0;
    EXPECT_EQ(port.readByte(b, 10), SerialPort::Read::Failed);
    EXPECT_FALSE(port.writeAll(&b, 1, 10));
    EXPECT_EQ(port.bytesWaiting(), -1);
    EXPECT_EQ(port.lastError(), EBADF);
}

// When the device goes away (the master side closes), a pending read fails
// at once instead of waiting for its whole time-out.
TEST(SerialPort, HangUpEndsReadAtOnce)
{
    auto pty = std::make_unique<PtyPair>();
    ASSERT_TRUE(pty->ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty->slavePath()));
    ASSERT_TRUE(port.configure({9600, 8, SerialParity::None, 1}));
    pty.reset();
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port.readByte(b, 3000), SerialPort::Read::Failed);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

} // namespace
