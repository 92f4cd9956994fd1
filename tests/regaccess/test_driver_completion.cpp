// The driver path end to end: the control hands its packets to PLCDRV, whose
// serial adapter speaks Modbus RTU over a pseudo-terminal to a libmodbus RTU
// slave in a fixture thread. Covers Busy and the order of events, Trigger
// and poll ticks while a request is outstanding, device exceptions, a slave
// that does not answer, and a control that goes away mid-request.
//
// PLCDRV reads its adapter file once per process, so this program writes it
// (with the pseudo-terminal's name) before the first control exists.
#include "test_support.h"

#include "regaccess/plctag.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace regaccess {
namespace {

constexpr int RtuAdapter = 0;    // Adapter.Object.1: the slave below, LinkTimeOut 2000
constexpr int SilentAdapter = 1; // Adapter.Object.2: nobody answers, LinkTimeOut 200

// A libmodbus RTU slave (unit 1) on the master side of a pseudo-terminal.
// While `hold` is set it keeps a received request unanswered and reads
// nothing more; what was sent meanwhile waits on the line (pending()).
class RtuPtySlave {
public:
    RtuPtySlave(int masterFd) : fd_(masterFd)
    {
        ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
        mapping_ = modbus_mapping_new(0, 0, 1000, 0);
        modbus_set_slave(ctx_, 1);
        modbus_set_socket(ctx_, fd_);
        // A frame cut short must not keep the slave (and the test's end) waiting.
        modbus_set_indication_timeout(ctx_, 0, 500000);
        // libmodbus answers a request it finds malformed (a count out of range, an
        // unknown function) only after sleeping its response time-out to flush the
        // line: 500 ms by default, as long as a client's whole budget. Nothing is
        // left to flush here, so the exception goes out at once.
        modbus_set_response_timeout(ctx_, 0, 1000);
        thread_ = std::thread([this] { run(); });
    }
    ~RtuPtySlave()
    {
        stop_ = true;
        thread_.join();
        modbus_mapping_free(mapping_);
        modbus_free(ctx_);
    }

    std::atomic<bool> hold{false};
    int received() const { return received_.load(); }
    // Bytes sent to the slave and not read yet.
    int pending() const
    {
        int bytes = -1;
        return ::ioctl(fd_, FIONREAD, &bytes) == 0 ? bytes : -1;
    }
    void withMapping(const std::function<void(modbus_mapping_t&)>& f)
    {
        std::lock_guard lock(mutex_);
        f(*mapping_);
    }

private:
    void run()
    {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            // Until the driver opens the terminal, the master end reports a
            // hang-up rather than data; waiting for a frame then would block
            // for good once the driver opens it and sends nothing.
            if (!(p.revents & POLLIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const int length = modbus_receive(ctx_, query);
            if (length <= 0)
                continue; // not for this unit, or a broken frame
            ++received_;
            while (hold && !stop_)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(mutex_);
            modbus_reply(ctx_, query, length, mapping_);
        }
    }

    int fd_;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int> received_{0};
    std::thread thread_;
};

struct Ptys {
    int rtuMaster = -1;
    int silentMaster = -1;
};
Ptys ptys;

bool WaitFor(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

void RunEventLoopFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

class DriverCompletionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        control.setAdapter(RtuAdapter);
        control.setRegType(Plctag::HoldRegs_4xxxx);
        control.setAddress(1);
        control.setSize(3);
        slave.withMapping([](modbus_mapping_t& m) {
            m.tab_registers[0] = 1;
            m.tab_registers[1] = 2;
            m.tab_registers[2] = 0xFFFF;
        });
    }

    RtuPtySlave slave{ptys.rtuMaster};
    Plctag control;
    test::EventRecorder events{control};
};

TEST_F(DriverCompletionTest, ReadCompletesWithBusyUntilItsEventHasFired)
{
    ASSERT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Busy());
    EXPECT_TRUE(events.events.isEmpty()) << "the driver completes later, through the window";
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read (busy)")});
    EXPECT_FALSE(control.Busy());
    EXPECT_EQ(control.WordVal(0), 1);
    EXPECT_EQ(control.WordVal(1), 2);
    EXPECT_EQ(control.WordVal(2), -1);
    EXPECT_EQ(control.ErrorCode(), 0);
}

TEST_F(DriverCompletionTest, WriteCompletesWithWriteDone)
{
    control.setFunction(1);
    control.setAddress(11);
    control.setSize(2);
    control.setWordVal(0, 0x1234);
    control.setWordVal(1, 0x5678);
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("write (busy)")});
    slave.withMapping([](modbus_mapping_t& m) {
        EXPECT_EQ(m.tab_registers[10], 0x1234);
        EXPECT_EQ(m.tab_registers[11], 0x5678);
    });
}

TEST_F(DriverCompletionTest, TriggerWhileOutstandingReturnsTrueAndSendsNothing)
{
    slave.hold = true;
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return slave.received() == 1; }));
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Trigger());
    RunEventLoopFor(50);
    EXPECT_EQ(slave.pending(), 0) << "bytes sent while the request was outstanding";
    slave.hold = false;
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    RunEventLoopFor(50);
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read (busy)")});
    EXPECT_EQ(slave.received(), 1);
}

TEST_F(DriverCompletionTest, TriggerFromTheEventHandlerSendsNothing)
{
    bool nested = true;
    QObject::connect(&control, &Plctag::OnReadDone, &control, [&] { nested = control.Trigger(); });
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    RunEventLoopFor(100);
    EXPECT_TRUE(nested) << "Busy is still TRUE inside the handler";
    EXPECT_EQ(slave.received(), 1);
    EXPECT_FALSE(control.Busy());
}

TEST_F(DriverCompletionTest, ExceptionReplySetsErrorCode)
{
    control.setAddress(990);
    control.setSize(20); // past the slave's 1000 registers
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 2 (busy)")});
    EXPECT_EQ(control.ErrorCode(), 2);

    events.clear();
    control.setAddress(1);
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(control.ErrorCode(), 0);
}

TEST_F(DriverCompletionTest, SlaveThatDoesNotAnswerGivesMinusThree)
{
    control.setAdapter(SilentAdapter);
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error -3 (busy)")});
    EXPECT_EQ(control.ErrorCode(), -3);
    EXPECT_FALSE(control.Busy());
}

TEST_F(DriverCompletionTest, PollTicksWhileOutstandingSendNothing)
{
    slave.hold = true;
    ASSERT_TRUE(control.AutoPoll(10));
    RunEventLoopFor(150); // some fifteen ticks
    EXPECT_EQ(slave.pending(), 0) << "bytes sent while the request was outstanding";
    EXPECT_TRUE(control.Busy());
    slave.hold = false;
    ASSERT_TRUE(WaitFor([&] { return events.events.size() >= 3; }));
    control.AutoPoll(0);
    RunEventLoopFor(100);
    // Every request that went out completed, one at a time.
    EXPECT_EQ(events.events.size(), slave.received());
    for (const QString& event : events.events)
        EXPECT_EQ(event, QStringLiteral("read (busy)"));
}

TEST_F(DriverCompletionTest, ControlDestroyedWhileTheDriverHoldsItsPacket)
{
    auto doomed = std::make_unique<Plctag>();
    doomed->setAdapter(RtuAdapter);
    doomed->setRegType(Plctag::HoldRegs_4xxxx);
    slave.hold = true;
    ASSERT_TRUE(doomed->Trigger());
    ASSERT_TRUE(WaitFor([&] { return slave.received() == 1; }));
    doomed.reset();
    slave.hold = false;
    // The driver writes its reply into the packet it was given and posts
    // nothing; the next control works normally.
    RunEventLoopFor(100);
    ASSERT_TRUE(control.Trigger());
    ASSERT_TRUE(WaitFor([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read (busy)")});
}

bool OpenPty(int& master, QString& slavePath)
{
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    // The driver opens the terminal by name; this end only keeps it alive
    // until then.
    ::close(slave);
    slavePath = QString::fromLocal8Bit(name);
    return true;
}

} // namespace
} // namespace regaccess

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString rtuPath;
    QString silentPath;
    if (!regaccess::OpenPty(regaccess::ptys.rtuMaster, rtuPath) ||
        !regaccess::OpenPty(regaccess::ptys.silentMaster, silentPath))
        return 2;
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    const QString text =
        QStringLiteral("[GENERAL]\nDialogShow=0\n"
                       "[Ports]\nCOM1=%1\nCOM2=%2\n"
                       "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkSpeed=7\nLinkParity=0\nLinkDataBits=1\n"
                       "LinkStopBits=0\nLinkProtocol=0\nLinkTimeOut=2000\n"
                       "[Adapter.Object.2]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=0\nLinkDataBits=1\n"
                       "LinkStopBits=0\nLinkProtocol=0\nLinkTimeOut=200\n")
            .arg(rtuPath, silentPath);
    file.write(text.toLocal8Bit());
    file.close();
    ::setenv("PLCDRV_INI", QFile::encodeName(ini).constData(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ::close(regaccess::ptys.rtuMaster);
    ::close(regaccess::ptys.silentMaster);
    return result;
}
