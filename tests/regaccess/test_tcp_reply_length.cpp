// Replies whose MBAP length disagrees with what they carry: a length too
// short for the PDU (the frame is cut) is a malformed reply, never a read of
// whatever the cut left; a length longer than what is sent runs out the wait.
#include "fault_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"
#include "regaccess/tcp_transport.h"

#include "platform/socket_errors.h"

#include <gtest/gtest.h>

namespace regaccess {
namespace {

using test::Bytes;
using test::FaultConnection;
using test::FaultServer;

constexpr int Stale = 0x7777;

// The first connection answers a read of 4 holding registers with the full
// reply (registers 1 … 4) under a falsified MBAP length, then stays open;
// later connections answer correctly with registers 50 … 53.
class ReplyLengthTest : public ::testing::Test {
protected:
    void start(int statedLength)
    {
        server = std::make_unique<FaultServer>([statedLength](FaultConnection& c) {
            if (c.index() == 0) {
                if (auto request = c.readRequest()) {
                    Bytes reply = test::RegisterReply(*request, 1);
                    reply[4] = static_cast<std::uint8_t>(statedLength >> 8);
                    reply[5] = static_cast<std::uint8_t>(statedLength);
                    c.send(reply);
                }
                c.holdOpen(3000);
                return;
            }
            while (auto request = c.readRequest())
                c.send(test::RegisterReply(*request, 50));
        });
        test::UseServerPort(server->port());
        control.setAdapter(test::TcpAdapter);
        control.setHost(QStringLiteral("127.0.0.1"));
        control.setFunction(0);
        control.setRegType(Plctag::HoldRegs_4xxxx);
        control.setAddress(1);
        control.setSize(4);
        for (int i = 0; i < 4; ++i)
            control.setWordVal(i, Stale);
    }

    // The failed read left the buffer alone; the next one works on a new
    // connection.
    void expectStaleThenFreshConnection()
    {
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(control.WordVal(i), Stale) << i;
        events.clear();
        EXPECT_TRUE(control.Trigger());
        EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(control.WordVal(i), 50 + i) << i;
        EXPECT_EQ(server->connectionsAccepted(), 2);
    }

    std::unique_ptr<FaultServer> server;
    Plctag control;
    test::EventRecorder events{control};
};

class ShortLengthTest : public ReplyLengthTest, public ::testing::WithParamInterface<int> { };

// Stated lengths: nothing after the length field, the unit alone, the
// function code alone, function and count, two of the four registers.
TEST_P(ShortLengthTest, IsAMalformedReplyAndDropsTheConnection)
{
    start(GetParam());
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events,
        QStringList{QStringLiteral("error %1").arg(platform::errorNumber(platform::ErrorCode::NoValidReply))});
    expectStaleThenFreshConnection();
}

INSTANTIATE_TEST_SUITE_P(StatedLength, ShortLengthTest, ::testing::Values(0, 1, 2, 3, 7, 10));

TEST_F(ReplyLengthTest, LengthLongerThanSentTimesOutAndDropsTheConnection)
{
    start(1 + 2 + 8 + 4);
    control.setTimeToLive(100);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error %1").arg(platform::WSAETIMEDOUT)});
    expectStaleThenFreshConnection();
}

} // namespace
} // namespace regaccess
