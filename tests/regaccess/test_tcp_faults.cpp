// The TCP transport against servers that misbehave: resets, silence, replies
// in pieces, too short, too long, or with counts that overstate their data.
#include "fault_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"
#include "regaccess/tcp_transport.h"

#include "platform/socket_errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <signal.h>

namespace regaccess {
namespace {

using test::Bytes;
using test::FaultConnection;
using test::FaultServer;
using Clock = std::chrono::steady_clock;

// Reads `count` holding registers from Address 1 through the TCP adapter.
class FaultTest : public ::testing::Test {
protected:
    void start(FaultServer::Script script)
    {
        server = std::make_unique<FaultServer>(std::move(script));
        test::UseServerPort(server->port());
        control.setAdapter(test::TcpAdapter);
        control.setFunction(0);
        control.setRegType(Plctag::HoldRegs_4xxxx);
        control.setAddress(1);
        control.setSize(4);
    }

    std::unique_ptr<FaultServer> server;
    Plctag control;
    test::EventRecorder events{control};
};

// Waits up to five seconds for `done`: for what a test needs to have
// happened, instead of a sleep that is long enough on most days.
template <typename Condition> bool WaitUntil(Condition done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Serve(FaultConnection& c, std::uint16_t first = 1)
{
    while (auto request = c.readRequest())
        c.send(test::RegisterReply(*request, first));
}

TEST_F(FaultTest, ConnectionResetWhileIdleIsReconnectedOnce)
{
    // The reset comes once the exchange is over, while the client is idle.
    std::atomic<bool> firstDone{false};
    std::atomic<std::uint16_t> clientPort{0};
    start([&](FaultConnection& c) {
        if (c.index() == 0) {
            if (auto request = c.readRequest())
                c.send(test::RegisterReply(*request, 10));
            for (int i = 0; i < 5000 && !firstDone; ++i)
                c.pause(1);
            clientPort = c.clientPort();
            c.reset();
            return;
        }
        Serve(c, 20);
    });
    ASSERT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 10);
    firstDone = true;
    // The reset has reached the idle client's socket.
    ASSERT_TRUE(WaitUntil([&] { return clientPort != 0 && !test::FindClientEnd(clientPort, server->port()).found; }));

    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 20);
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("read"), QStringLiteral("read")}));
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

TEST_F(FaultTest, ServerClosingWhileIdleIsReconnected)
{
    std::atomic<std::uint16_t> clientPort{0};
    start([&](FaultConnection& c) {
        if (c.index() == 0) {
            if (auto request = c.readRequest())
                c.send(test::RegisterReply(*request, 10));
            clientPort = c.clientPort();
            return; // orderly close
        }
        Serve(c, 30);
    });
    ASSERT_TRUE(control.Trigger());
    // The server's close has reached the idle client's socket.
    ASSERT_TRUE(
        WaitUntil([&] { return clientPort != 0 && test::FindClientEnd(clientPort, server->port()).state == 8; }));
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 30);
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

TEST_F(FaultTest, SilentServerTimesOutAfterTheBudgetAndNextTriggerReconnects)
{
    start([&](FaultConnection& c) {
        if (c.index() == 0) {
            c.readRequest();
            c.holdOpen();
            return;
        }
        Serve(c, 7);
    });
    control.setTimeToLive(200);
    const auto begin = Clock::now();
    EXPECT_FALSE(control.Trigger());
    const auto waited = Clock::now() - begin;
    EXPECT_EQ(events.last(), QStringLiteral("error 10060"));
    // 200 tests of at least a millisecond each, and not much more.
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(3));

    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 7);
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

TEST_F(FaultTest, ReplySplitOverSegmentsIsReassembled)
{
    start([&](FaultConnection& c) {
        while (auto request = c.readRequest()) {
            const Bytes reply = test::RegisterReply(*request, 100);
            c.send(Bytes(reply.begin(), reply.begin() + 3));
            c.pause(10);
            c.send(Bytes(reply.begin() + 3, reply.begin() + 9));
            c.pause(10);
            c.send(Bytes(reply.begin() + 9, reply.end()));
        }
    });
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(control.WordVal(i), 100 + i);
}

TEST_F(FaultTest, TruncatedReplyTimesOutAndClosesTheConnection)
{
    start([&](FaultConnection& c) {
        if (c.index() == 0) {
            if (auto request = c.readRequest()) {
                const Bytes reply = test::RegisterReply(*request, 1);
                c.send(Bytes(reply.begin(), reply.end() - 3));
            }
            c.holdOpen();
            return;
        }
        Serve(c, 50);
    });
    control.setWordVal(0, 0x7777);
    control.setTimeToLive(100);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 10060")});
    EXPECT_EQ(control.WordVal(0), 0x7777);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 50);
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

TEST_F(FaultTest, TruncatedReplyThenCloseIsAReset)
{
    start([&](FaultConnection& c) {
        if (auto request = c.readRequest()) {
            const Bytes reply = test::RegisterReply(*request, 1);
            c.send(Bytes(reply.begin(), reply.begin() + 8));
        }
    });
    control.setWordVal(0, 0x7777);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 10054")});
    EXPECT_EQ(control.WordVal(0), 0x7777);
}

TEST_F(FaultTest, ServerClosingInsteadOfAnsweringIsAResetNotAReply)
{
    start([&](FaultConnection& c) { c.readRequest(); });
    control.setWordVal(0, 0x7777);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 10054")});
    EXPECT_EQ(control.WordVal(0), 0x7777) << "the request frame must not be taken for the reply";
}

TEST_F(FaultTest, OverLongReplyIsAMalformedReplyAndTheConnectionRenewed)
{
    start([&](FaultConnection& c) {
        if (c.index() == 0) {
            if (auto request = c.readRequest()) {
                Bytes reply(request->begin(), request->begin() + 7);
                reply[4] = 0x03; // 1000 bytes follow the length field
                reply[5] = 0xE8;
                reply.push_back(3);
                reply.push_back(250);
                for (int i = 0; i < 600; ++i)
                    reply.push_back(static_cast<std::uint8_t>(i & 0x7F));
                c.send(reply);
            }
            c.holdOpen(2000);
            return;
        }
        Serve(c, 9);
    });
    control.setWordVal(0, 0x7777);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events,
        QStringList{QStringLiteral("error %1").arg(platform::errorNumber(platform::ErrorCode::NoValidReply))});
    EXPECT_EQ(control.WordVal(0), 0x7777);

    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 9);
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

// A count byte that claims more than the frame carries is a cut reply: an
// error, and no word of it is taken.
TEST_F(FaultTest, CountByteLargerThanTheDataIsAMalformedReply)
{
    start([&](FaultConnection& c) {
        while (auto request = c.readRequest())
            c.send(test::FrameFor(*request, Bytes{3, 200, 0x00, 0x05, 0x00, 0x06}));
    });
    for (int i = 0; i < 256; ++i)
        control.setWordVal(i, 0x7777);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events,
        QStringList{QStringLiteral("error %1").arg(platform::errorNumber(platform::ErrorCode::NoValidReply))});
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(control.WordVal(i), 0x7777) << i;
}

TEST_F(FaultTest, BytesArrivingAfterTheReplyAreNotTakenForTheNextReply)
{
    // The stray frame goes out only once the first exchange is over, so it
    // is waiting in the client's socket, unread, when the second one starts.
    std::atomic<bool> firstDone{false};
    std::atomic<std::uint16_t> clientPort{0};
    std::atomic<long> straySize{0};
    start([&](FaultConnection& c) {
        std::uint16_t first = 1;
        while (auto request = c.readRequest()) {
            c.send(test::RegisterReply(*request, first));
            if (first == 1) {
                for (int i = 0; i < 5000 && !firstDone; ++i)
                    c.pause(1);
                const Bytes stray =
                    test::FrameFor(*request, Bytes{3, 8, 0xDE, 0xAD, 0xDE, 0xAD, 0xDE, 0xAD, 0xDE, 0xAD});
                clientPort = c.clientPort();
                c.send(stray);
                straySize = static_cast<long>(stray.size());
            }
            first = 40;
        }
    });
    EXPECT_TRUE(control.Trigger());
    firstDone = true;
    ASSERT_TRUE(WaitUntil(
        [&] { return straySize != 0 && test::FindClientEnd(clientPort, server->port()).unread == straySize; }));
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 40);
    EXPECT_EQ(server->connectionsAccepted(), 1);
}

TEST_F(FaultTest, ExceptionReplyKeepsTheConnection)
{
    start([&](FaultConnection& c) {
        while (auto request = c.readRequest())
            c.send(test::FrameFor(*request, Bytes{0x83, 0x02}));
    });
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("error 2"), QStringLiteral("error 2")}));
    EXPECT_EQ(control.ErrorCode(), 2);
    EXPECT_EQ(server->connectionsAccepted(), 1);
}

class SmallBudgetTest : public FaultTest, public ::testing::WithParamInterface<int> { };

TEST_P(SmallBudgetTest, BudgetsBelowTenCannotSendAndNegativeOnesAreBounded)
{
    start([&](FaultConnection& c) { Serve(c); });
    control.setTimeToLive(GetParam());
    const auto begin = Clock::now();
    EXPECT_FALSE(control.Trigger());
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error 10060")});
    EXPECT_TRUE(server->requests().empty());
}

INSTANTIATE_TEST_SUITE_P(TimeToLive, SmallBudgetTest, ::testing::Values(0, 1, 9, -1, -32768));

// Puts a real socket under controlled timing: before the first send test it
// waits (bounded) until the server's reaction to the connection is visible,
// so a reset made right after accept deterministically precedes the send.
class WaitForPeerSocket final : public StreamSocket {
public:
    explicit WaitForPeerSocket(std::unique_ptr<StreamSocket> inner) : inner_(std::move(inner)) { }
    void startConnect(std::uint32_t address, std::uint16_t port) override { inner_->startConnect(address, port); }
    WaitResult waitWritable(int timeoutMs) override
    {
        for (int i = 0; i < 2000 && !peerSeen_; ++i)
            peerSeen_ = inner_->waitReadable(1).state != Readiness::NotReady;
        peerSeen_ = true;
        return inner_->waitWritable(timeoutMs);
    }
    WaitResult waitReadable(int timeoutMs) override { return inner_->waitReadable(timeoutMs); }
    IoResult send(std::span<const std::uint8_t> bytes) override { return inner_->send(bytes); }
    IoResult receive(std::span<std::uint8_t> into) override { return inner_->receive(into); }
    int discardUnread() override { return inner_->discardUnread(); }

private:
    std::unique_ptr<StreamSocket> inner_;
    bool peerSeen_ = false;
};

// Sockets wrapped as above while `wrapped` is positive (counting down).
SocketOpener OpenerWaitingForPeer(int wrapped)
{
    auto left = std::make_shared<int>(wrapped);
    return [left](int& error) -> std::unique_ptr<StreamSocket> {
        auto socket = OpenPosixStreamSocket(error);
        if (socket && (*left)-- > 0)
            return std::make_unique<WaitForPeerSocket>(std::move(socket));
        return socket;
    };
}

TcpRequest ReadRequest()
{
    static const std::uint8_t pdu[] = {3, 0, 0, 0, 2};
    TcpRequest request;
    request.host = "127.0.0.1";
    request.pdu = pdu;
    request.unit = 1;
    request.timeToLive = 500;
    return request;
}

TEST(TcpTransportTest, ResetOnTheFirstSendIsRetriedOnANewConnection)
{
    FaultServer server([](FaultConnection& c) {
        if (c.index() == 0) {
            c.reset();
            return;
        }
        Serve(c, 60);
    });
    test::UseServerPort(server.port());
    TcpTransport transport(OpenerWaitingForPeer(1));
    const TcpResult result = transport.exchange(ReadRequest());
    EXPECT_EQ(result.error, platform::ErrorCode::NoError);
    EXPECT_EQ(Bytes(result.pdu.begin(), result.pdu.end()), (Bytes{3, 4, 0, 60, 0, 61}));
    EXPECT_EQ(server.connectionsAccepted(), 2);
    EXPECT_TRUE(transport.isOpen());
}

TEST(TcpTransportTest, SecondResetGivesHostDidNotRespond)
{
    FaultServer server([](FaultConnection& c) { c.reset(); });
    test::UseServerPort(server.port());
    TcpTransport transport(OpenerWaitingForPeer(2));
    const TcpResult result = transport.exchange(ReadRequest());
    EXPECT_EQ(result.error, platform::ErrorCode::HostDidNotRespond);
    EXPECT_EQ(server.connectionsAccepted(), 2);
    EXPECT_FALSE(transport.isOpen());
    EXPECT_TRUE(transport.connectedHost().empty());
}

TEST(TcpTransportTest, BudgetIsTakenWhenTheConnectionOpens)
{
    FaultServer server([](FaultConnection& c) { Serve(c); });
    test::UseServerPort(server.port());
    TcpTransport transport;
    TcpRequest request = ReadRequest();
    ASSERT_EQ(transport.exchange(request).error, platform::ErrorCode::NoError);
    request.timeToLive = 0; // would fail at once on a new connection
    EXPECT_EQ(transport.exchange(request).error, platform::ErrorCode::NoError);
    request.host = "localhost";
    EXPECT_EQ(transport.exchange(request).error, platform::ErrorCode::TimedOut);
}

// A host's signal handler (chronel-cli's Ctrl-C, a profiler) interrupts the
// wait for a reply; the reply that comes within the budget is still taken.
TEST(TcpTransportTest, ASignalDuringTheWaitIsNotATimeOut)
{
    struct sigaction action { };
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    struct sigaction previous { };
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0); // no SA_RESTART
    FaultServer server([](FaultConnection& c) {
        if (auto request = c.readRequest()) {
            c.pause(300);
            c.send(test::RegisterReply(*request, 5));
        }
    });
    test::UseServerPort(server.port());
    TcpTransport transport;
    TcpRequest request = ReadRequest();
    request.timeToLive = 3000;
    const pthread_t waiter = ::pthread_self();
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread signaller([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!done && ::pthread_kill(waiter, SIGUSR1) == 0)
                ++sent;
        }
    });
    const TcpResult result = transport.exchange(request);
    done = true;
    signaller.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(sent.load(), 5);
    EXPECT_EQ(result.error, platform::ErrorCode::NoError);
    EXPECT_EQ(Bytes(result.pdu.begin(), result.pdu.end()), (Bytes{3, 4, 0, 5, 0, 6}));
}

TEST(TcpTransportTest, PortComesFromTheEnvironmentWhenValid)
{
    test::UseServerPort(1502);
    EXPECT_EQ(ModbusTcpPort(), 1502);
    ::setenv("PLCTAG_TCP_PORT", "70000", 1);
    EXPECT_EQ(ModbusTcpPort(), 502);
    ::setenv("PLCTAG_TCP_PORT", "12x", 1);
    EXPECT_EQ(ModbusTcpPort(), 502);
    ::unsetenv("PLCTAG_TCP_PORT");
    EXPECT_EQ(ModbusTcpPort(), 502);
}

} // namespace
} // namespace regaccess
