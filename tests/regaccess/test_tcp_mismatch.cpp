// Replies that are well framed but not the request's: another function code,
// a write's echo, a count other than asked for, another protocol or unit, a
// transaction the client did not send. None may reach the register buffer
// as a read; a late reply to an earlier request is passed over and the
// right one taken.
#include "fault_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"
#include "regaccess/tcp_transport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace regaccess {
namespace {

using test::Bytes;
using test::FaultConnection;
using test::FaultServer;

constexpr int Stale = 0x7777;

// The normal reply to a read of four holding registers (1 … 4), changed.
struct Mismatch {
    const char* name;
    std::function<Bytes(const Bytes& request)> reply;
};

void PrintTo(const Mismatch& m, std::ostream* os) { *os << m.name; }

Bytes Changed(const Bytes& request, std::size_t at, std::uint8_t value)
{
    Bytes reply = test::RegisterReply(request, 1);
    reply[at] = value;
    return reply;
}

Bytes WithPdu(const Bytes& request, const Bytes& pdu) { return test::FrameFor(request, pdu); }

std::vector<Mismatch> Mismatches()
{
    return {
        {"InputRegistersInsteadOfHolding", [](const Bytes& r) { return Changed(r, 7, 4); }},
        {"WriteEchoToARead",
            [](const Bytes& r) {
                return WithPdu(r, {5, 0, 0, 0xFF, 0});
            }},
        {"UnknownFunctionCode", [](const Bytes& r) { return Changed(r, 7, 0x41); }},
        {"ExceptionOfAnotherFunction",
            [](const Bytes& r) {
                return WithPdu(r, {0x90, 2});
            }},
        {"ShortByteCount",
            [](const Bytes& r) {
                return WithPdu(r, {3, 6, 0, 1, 0, 2, 0, 3});
            }},
        {"LongByteCount",
            [](const Bytes& r) {
                return WithPdu(r, {3, 12, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6});
            }},
        {"TwoHundredFiftyBytes",
            [](const Bytes& r) {
                Bytes pdu{3, 250};
                pdu.resize(252, 0x11);
                return WithPdu(r, pdu);
            }},
        {"CountByteOfFourRegistersWithMoreData",
            [](const Bytes& r) {
                Bytes reply = test::RegisterReply(r, 1);
                reply.insert(reply.end(), {0, 9, 0, 9});
                reply[5] = static_cast<std::uint8_t>(reply.size() - 6);
                return reply;
            }},
        {"ProtocolIdSeven", [](const Bytes& r) { return Changed(r, 3, 7); }},
        {"AnotherUnit", [](const Bytes& r) { return Changed(r, 6, static_cast<std::uint8_t>(r[6] + 1)); }},
    };
}

// A read of 4 holding registers of unit 255 through the control's own TCP
// client, the buffer filled with a stale value first.
class ControlOnServer : public ::testing::Test {
protected:
    void start(FaultServer::Script script)
    {
        server = std::make_unique<FaultServer>(std::move(script));
        test::UseServerPort(server->port());
        control.setAdapter(test::TcpAdapter);
        control.setRoutePath(QStringLiteral("255.0.0.0.0"));
        control.setFunction(0);
        control.setRegType(Plctag::HoldRegs_4xxxx);
        control.setAddress(1);
        control.setSize(4);
        for (int i = 0; i < 126; ++i)
            control.setWordVal(i, Stale);
    }

    std::unique_ptr<FaultServer> server;
    Plctag control;
    test::EventRecorder events{control};
};

// The first connection answers every request with the mismatch, later ones
// correctly with 50 … 53.
class MismatchTest : public ControlOnServer, public ::testing::WithParamInterface<Mismatch> { };

TEST_P(MismatchTest, IsAMalformedReplyThatLeavesTheBufferAndRenewsTheConnection)
{
    start([mismatch = GetParam().reply](FaultConnection& c) {
        while (auto request = c.readRequest())
            c.send(c.index() == 0 ? mismatch(*request) : test::RegisterReply(*request, 50));
    });
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events,
        QStringList{QStringLiteral("error %1").arg(platform::errorNumber(platform::ErrorCode::NoValidReply))});
    for (int i = 0; i < 126; ++i)
        ASSERT_EQ(control.WordVal(i), Stale) << i;

    events.clear();
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
    EXPECT_EQ(control.WordVal(0), 50);
    EXPECT_EQ(control.WordVal(3), 53);
    EXPECT_EQ(control.WordVal(4), Stale);
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

INSTANTIATE_TEST_SUITE_P(Replies, MismatchTest, ::testing::ValuesIn(Mismatches()),
    [](const ::testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.name); });

using TransactionTest = ControlOnServer;

// The server answers each request after first sending the previous
// request's reply once more, as a peer that repeats itself or answers late
// would: the client passes over it and takes the reply to what it asked.
TEST_F(TransactionTest, LateReplyOfTheRequestBeforeIsPassedOver)
{
    start([](FaultConnection& c) {
        Bytes previous;
        std::uint16_t first = 10;
        while (auto request = c.readRequest()) {
            if (!previous.empty())
                c.send(previous);
            previous = test::RegisterReply(*request, first);
            c.send(previous);
            first = static_cast<std::uint16_t>(first + 10);
        }
    });
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(control.Trigger()) << round;
        EXPECT_EQ(control.WordVal(0), 10 * round) << round;
    }
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("read"), QStringLiteral("read"), QStringLiteral("read")}));
    EXPECT_EQ(server->connectionsAccepted(), 1);
}

TEST_F(TransactionTest, ReplyOfAnotherTransactionAloneRunsOutTheWait)
{
    start([](FaultConnection& c) {
        while (auto request = c.readRequest()) {
            Bytes reply = test::RegisterReply(*request, 1);
            reply[1] = static_cast<std::uint8_t>(reply[1] + 1);
            c.send(reply);
        }
    });
    control.setTimeToLive(100);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 10060")});
    EXPECT_EQ(control.WordVal(0), Stale);
}

} // namespace
} // namespace regaccess
