// Automatic polling over the control's own TCP client: one exchange at once,
// then one per tick, stopped by AutoPoll(0) and by the control's end.
#include "support/modbus_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace regaccess {
namespace {

// A window in which nothing more may be sent.
void RunEventLoopFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// Runs the event loop until `done`, for at most five seconds.
template <typename Condition> bool RunEventLoopUntil(Condition done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

class AutoPollTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::UseServerPort(server.port());
        control = std::make_unique<Plctag>();
        control->setAdapter(test::TcpAdapter);
        control->setRegType(Plctag::HoldRegs_4xxxx);
        QObject::connect(control.get(), &Plctag::OnReadDone, control.get(), [this] { ++reads; });
    }

    chronel::test::ModbusServer server;
    std::unique_ptr<Plctag> control;
    int reads = 0;
};

TEST_F(AutoPollTest, TriggersAtOnceThenOnceEveryTick)
{
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(control->AutoPoll(25));
    EXPECT_EQ(server.requestsServed(), 1) << "the first request goes out inside AutoPoll";
    EXPECT_EQ(reads, 1);
    // Six ticks, each one whole exchange with its event, and none early: a
    // coarse timer may fire up to 5 % before its time.
    ASSERT_TRUE(RunEventLoopUntil([&] { return reads >= 7; }));
    EXPECT_GE(timer.elapsed(), (reads - 1) * 25 * 95 / 100);
    EXPECT_EQ(reads, server.requestsServed());
    EXPECT_EQ(server.connectionsAccepted(), 1);
    EXPECT_EQ(control->pollInterval(), 25);
}

TEST_F(AutoPollTest, ZeroStopsPolling)
{
    ASSERT_TRUE(control->AutoPoll(10));
    ASSERT_TRUE(RunEventLoopUntil([&] { return server.requestsServed() >= 3; }));
    ASSERT_TRUE(control->AutoPoll(0));
    const int served = server.requestsServed();
    RunEventLoopFor(100);
    EXPECT_EQ(server.requestsServed(), served);
    EXPECT_EQ(control->pollInterval(), 0);
}

TEST_F(AutoPollTest, NewIntervalReplacesTheOldOne)
{
    ASSERT_TRUE(control->AutoPoll(5));
    ASSERT_TRUE(control->AutoPoll(1000));
    const int served = server.requestsServed();
    EXPECT_EQ(served, 2);
    RunEventLoopFor(150);
    EXPECT_EQ(server.requestsServed(), served) << "no tick of the 5 ms timer is left";
}

TEST_F(AutoPollTest, TicksFollowTheRequestAsItStandsAtEachTick)
{
    server.withMapping([](modbus_mapping_t& m) {
        m.tab_registers[0] = 11;
        m.tab_registers[1] = 22;
    });
    QObject::connect(control.get(), &Plctag::OnReadDone, control.get(), [this] { control->setAddress(2); });
    ASSERT_TRUE(control->AutoPoll(10));
    EXPECT_EQ(control->WordVal(0), 11);
    EXPECT_TRUE(RunEventLoopUntil([&] { return control->WordVal(0) == 22; }));
    EXPECT_EQ(server.requestsServed(), 2) << "the next tick read the new address";
}

TEST_F(AutoPollTest, PollingEndsWithTheControl)
{
    ASSERT_TRUE(control->AutoPoll(10));
    control.reset();
    const int served = server.requestsServed();
    RunEventLoopFor(60);
    EXPECT_EQ(server.requestsServed(), served);
}

TEST_F(AutoPollTest, NegativeIntervalTriggersOnceWithoutTimer)
{
    ASSERT_TRUE(control->AutoPoll(-1));
    RunEventLoopFor(50);
    EXPECT_EQ(server.requestsServed(), 1);
}

} // namespace
} // namespace regaccess
