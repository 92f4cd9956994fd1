// The adapter engine end to end over pseudo-terminals: requests put into the
// driver, exchanged with real Modbus slaves (libmodbus RTU, pymodbus ASCII)
// or with scripted ones that misbehave on purpose, and completed into the
// caller's packet with a posted DRIVER_DONE_MESSAGE.
#include "driver/driver_app.h"
#include "driver_harness.h"
#include "platform/serial_port.h"
#include "pty_peer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace drivertest;
using plcdrv::DriverApp;
using std::chrono::milliseconds;

namespace {

constexpr int kUnit = 17;
constexpr int kPacketSize = 280;
constexpr auto kWait = milliseconds(5000);

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class DriverTest : public testing::Test {
protected:
    void startDriver(const std::string& iniText)
    {
        ini_.write(iniText);
        DriverApp::Environment environment;
        environment.report = [this](const QString& text) { reports_.push_back(text.toStdString()); };
        environment.display = nullptr;
        app_ = std::make_unique<DriverApp>(environment);
        ASSERT_TRUE(app_->start(ini_.path()));
    }
    int put(TestControl& control) { return app_->put(&control.packet(), kPacketSize); }

    IniFile ini_;
    std::vector<std::string> reports_;
    std::unique_ptr<DriverApp> app_;
};

// ------------------------------------------------------------------------
// One suite, run against a libmodbus RTU slave and a pymodbus ASCII slave.

enum class Peer { LibmodbusRtu, PymodbusAscii };

class SerialPeerTest : public DriverTest, public testing::WithParamInterface<Peer> {
protected:
    static constexpr int kTimeoutMs = 500;

    void SetUp() override
    {
        ASSERT_TRUE(bridge_.ok());
        int protocol = 0;
        if (GetParam() == Peer::LibmodbusRtu) {
            rtu_ = std::make_unique<LibmodbusRtuSlave>(bridge_.peerPath(), kUnit);
            ASSERT_TRUE(rtu_->ok());
        } else {
            ascii_ = std::make_unique<PymodbusAsciiSlave>(ASCII_SLAVE_SCRIPT, bridge_.peerPath(), kUnit);
            ASSERT_TRUE(ascii_->ok()) << "pymodbus slave did not start";
            protocol = 1;
        }
        startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}}) +
            IniFile::serial(1, 1, protocol, kTimeoutMs));
        ASSERT_EQ(app_->runningAdapters(), std::vector<int>{1});
    }

    // Puts the control's request and waits for its completion; the status.
    int exchange(TestControl& control)
    {
        const std::size_t before = control.completions().size();
        if (put(control) != 1)
            return -1000;
        if (!control.waitForCompletions(before + 1, kWait))
            return -2000;
        return control.completions().back().status;
    }

    PtyBridge bridge_;
    std::unique_ptr<LibmodbusRtuSlave> rtu_;
    std::unique_ptr<PymodbusAsciiSlave> ascii_;
};

TEST_P(SerialPeerTest, Reads125HoldingRegistersInWireOrder)
{
    TestControl control;
    control.readHolding(1, kUnit, 0, 125);
    ASSERT_EQ(exchange(control), 0);
    EXPECT_EQ(control.packet().status, 0);
    EXPECT_EQ(control.packet().functionCode, 3);
    ASSERT_EQ(control.packet().data[0], 250);
    for (int i = 0; i < 125; ++i)
        ASSERT_EQ(control.replyWord(i), LibmodbusRtuSlave::registerValue(i)) << "register " << i;
}

TEST_P(SerialPeerTest, ReadBeyondTheMapGivesExceptionTwo)
{
    TestControl control;
    control.readHolding(1, kUnit, 300, 2);
    ASSERT_EQ(exchange(control), 0);
    EXPECT_EQ(control.packet().functionCode, 0x83);
    EXPECT_EQ(control.packet().data[0], 2);
}

TEST_P(SerialPeerTest, WritesThenReadsBack)
{
    TestControl control;
    // Function 6, register 5: the echo's "count" is the address's high byte.
    control.request(1, kUnit, {0x06, 0x00, 0x05, 0xBE, 0xEF});
    ASSERT_EQ(exchange(control), 0);
    EXPECT_EQ(control.packet().functionCode, 6);
    EXPECT_EQ(control.packet().data[0], 0);

    // Function 16, three registers from 10.
    control.request(1, kUnit, {0x10, 0x00, 0x0A, 0x00, 0x03, 0x06, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    ASSERT_EQ(exchange(control), 0);
    EXPECT_EQ(control.packet().functionCode, 16);

    control.readHolding(1, kUnit, 5, 8);
    ASSERT_EQ(exchange(control), 0);
    ASSERT_EQ(control.packet().data[0], 16);
    EXPECT_EQ(control.replyWord(0), 0xBEEF);
    EXPECT_EQ(control.replyWord(1), LibmodbusRtuSlave::registerValue(6));
    EXPECT_EQ(control.replyWord(5), 0x1234);
    EXPECT_EQ(control.replyWord(6), 0x5678);
    EXPECT_EQ(control.replyWord(7), 0x9ABC);
}

TEST_P(SerialPeerTest, RequestForAnotherUnitEndsWithNoReplyAfterTheTimeOut)
{
    TestControl control;
    control.readHolding(1, kUnit + 1, 0, 2);
    const auto start = Clock::now();
    ASSERT_EQ(exchange(control), -3);
    EXPECT_GE(MsSince(start), kTimeoutMs);
    EXPECT_EQ(control.packet().status, -3);

    // The link is still good for the next request.
    control.readHolding(1, kUnit, 0, 1);
    ASSERT_EQ(exchange(control), 0);
    EXPECT_EQ(control.replyWord(0), LibmodbusRtuSlave::registerValue(0));
}

INSTANTIATE_TEST_SUITE_P(Peers, SerialPeerTest, testing::Values(Peer::LibmodbusRtu, Peer::PymodbusAscii),
    [](const testing::TestParamInfo<Peer>& info) {
        return info.param == Peer::LibmodbusRtu ? "LibmodbusRtu" : "PymodbusAscii";
    });

// ------------------------------------------------------------------------
// Scripted slaves: replies that arrive in pieces, late, broken or never.

struct ScriptCase {
    const char* name;
    std::vector<std::uint8_t> pdu;
    int timeoutMs;
    ScriptedRtuSlave::Script script;
    int status;
    int functionCode;     // expected in the packet, -1: not checked
    int replyCount;       // expected in data[0], -1: not checked
    long long minElapsed; // ms from put to completion
    long long maxElapsed;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

using Step = ScriptedRtuSlave::Step;

// A reply the driver judges as it comes, good or bad, completes well before
// a time-out that lies far above a sanitizer build's scheduling delays on a
// busy machine: completing within AtOnceMs shows the driver did not wait it out.
constexpr int AtOnceTimeoutMs = 3000;
constexpr long long AtOnceMs = 2000;

std::vector<ScriptCase> ScriptCases()
{
    const std::vector<std::uint8_t> read2 = {0x03, 0x00, 0x00, 0x00, 0x02};
    return {
        {"SilentSlave", read2, 200, [](const Bytes&, int) { return std::vector<Step>{}; }, -3, 3, -1, 200, 2000},
        {"HalfFrameThenSilence", read2, 200,
            [](const Bytes& request, int) {
                Bytes reply = ScriptedRtuSlave::readReply(request);
                reply.resize(5);
                return std::vector<Step>{{milliseconds(100), reply}};
            },
            -3, 3, -1, 300, 2000},
        // Each byte comes within the time-out of the one before, the whole
        // reply takes more than twice one time-out: the time-out is per
        // byte. The gap leaves a sanitizer build on a busy machine 375 ms of
        // scheduling delay per byte (110 ms under 200 ms was too little).
        {"BytesTrickleWithinThePerByteTimeOut", read2, 500,
            [](const Bytes& request, int) {
                std::vector<Step> steps;
                for (std::uint8_t b : ScriptedRtuSlave::readReply(request))
                    steps.push_back({milliseconds(125), Bytes{b}});
                return steps;
            },
            0, 3, 4, 1100, 5000},
        {"BrokenCrc", read2, AtOnceTimeoutMs,
            [](const Bytes& request, int) {
                Bytes reply = ScriptedRtuSlave::readReply(request);
                reply.back() ^= 0x01;
                return std::vector<Step>{{milliseconds(0), reply}};
            },
            -3, 3, -1, 0, AtOnceMs},
        // Whole frames with a good CRC that do not answer the request: no
        // valid reply, at once, and nothing of them in the packet.
        {"WriteEchoToARead", read2, AtOnceTimeoutMs,
            [](const Bytes& request, int) {
                return std::vector<Step>{{milliseconds(0), RtuFrame({request[0], 0x05, 0x00, 0x00, 0xFF, 0x00})}};
            },
            -3, 3, 0, 0, AtOnceMs},
        {"ReplyFromAnotherSlave", read2, AtOnceTimeoutMs,
            [](const Bytes& request, int) {
                Bytes reply = ScriptedRtuSlave::readReply(request);
                reply[0] = static_cast<std::uint8_t>(reply[0] + 1);
                return std::vector<Step>{{milliseconds(0), RtuFrame(Bytes(reply.begin(), reply.end() - 2))}};
            },
            -3, 3, 0, 0, AtOnceMs},
        {"ExceptionReply", read2, AtOnceTimeoutMs,
            [](const Bytes& request, int) {
                return std::vector<Step>{{milliseconds(0), RtuFrame({request[0], 0x83, 0x02})}};
            },
            0, 0x83, 2, 0, AtOnceMs},
        // Diagnostics has no rule for the end of its reply: it never
        // completes, even though the slave answered.
        {"DiagnosticsNeverCompletes", {0x08, 0x00, 0x00, 0x12, 0x34}, 200,
            [](const Bytes& request, int) {
                return std::vector<Step>{{milliseconds(0), RtuFrame({request[0], 0x08, 0x00, 0x00, 0x12, 0x34})}};
            },
            -3, 8, -1, 200, 2000},
        // Time-out 0: only bytes already there when the port is first looked
        // at count. The slave's reply comes long after any bound of the
        // test, so the outcome does not depend on the machine's speed; the
        // bound only rules out waiting for some default time-out instead.
        // A time-out of 0 gives up at once, neither waits for the reply 5 s
        // later nor takes the 5000 ms default; 1 s leaves a sanitizer build on
        // a busy machine its scheduling delays.
        {"ZeroTimeOut", read2, 0,
            [](const Bytes& request, int) {
                return std::vector<Step>{{milliseconds(5000), ScriptedRtuSlave::readReply(request)}};
            },
            -3, 3, -1, 0, 1000},
        // The request is the address, the function code and the CRC alone;
        // the reply's third byte is the exception status.
        {"ReadExceptionStatusSendsTheFunctionCodeAlone", {0x07}, AtOnceTimeoutMs,
            [](const Bytes& request, int) {
                if (request != RtuFrame({kUnit, 0x07}))
                    return std::vector<Step>{};
                return std::vector<Step>{{milliseconds(0), RtuFrame({kUnit, 0x07, 0x5A})}};
            },
            0, 7, 0x5A, 0, AtOnceMs},
    };
}

class ScriptedSlaveTest : public DriverTest, public testing::WithParamInterface<ScriptCase> { };

TEST_P(ScriptedSlaveTest, Completes)
{
    const ScriptCase& c = GetParam();
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ScriptedRtuSlave slave(pty.master(), c.script);
    startDriver(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1, 0, c.timeoutMs));

    TestControl control;
    control.request(1, kUnit, c.pdu);
    control.packet().status = 0x7777;
    const auto start = Clock::now();
    ASSERT_EQ(put(control), 1);
    ASSERT_TRUE(control.waitForCompletions(1, kWait));
    const long long elapsed = std::chrono::duration_cast<milliseconds>(control.completions()[0].at - start).count();

    EXPECT_EQ(control.completions()[0].status, c.status);
    EXPECT_EQ(control.packet().status, c.status);
    if (c.functionCode >= 0) {
        EXPECT_EQ(control.packet().functionCode, c.functionCode);
    }
    if (c.replyCount >= 0) {
        EXPECT_EQ(control.packet().data[0], c.replyCount);
    }
    EXPECT_GE(elapsed, c.minElapsed);
    EXPECT_LE(elapsed, c.maxElapsed);
    EXPECT_TRUE(RunUntil([&] { return slave.requests() == 1; }, kWait));
}

INSTANTIATE_TEST_SUITE_P(Replies, ScriptedSlaveTest, testing::ValuesIn(ScriptCases()),
    [](const testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

TEST_F(DriverTest, LateReplyToATimedOutRequestIsNotTakenForTheNextReply)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // The first reply comes long after its request gave up, and carries
    // values that differ from the second's.
    ScriptedRtuSlave slave(pty.master(), [](const Bytes& request, int index) {
        if (index == 0)
            return std::vector<Step>{{milliseconds(300), ScriptedRtuSlave::readReply(request, 0x100)}};
        return std::vector<Step>{{milliseconds(0), ScriptedRtuSlave::readReply(request)}};
    });
    startDriver(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1, 0, 150));

    TestControl control;
    control.readHolding(1, kUnit, 0, 2);
    ASSERT_EQ(put(control), 1);
    ASSERT_TRUE(control.waitForCompletions(1, kWait));
    EXPECT_EQ(control.completions()[0].status, -3);

    // The late reply is now waiting in the driver's port.
    ASSERT_TRUE(RunUntil([&] { return slave.stepsSent() == 1; }, kWait));
    RunFor(milliseconds(50));

    ASSERT_EQ(put(control), 1);
    ASSERT_TRUE(control.waitForCompletions(2, kWait));
    EXPECT_EQ(control.completions()[1].status, 0);
    EXPECT_EQ(control.replyWord(0), 0x1000);
    EXPECT_EQ(control.replyWord(1), 0x1001);
    EXPECT_EQ(slave.requests(), 2);
}

// ------------------------------------------------------------------------
// Queue, order, parallel adapters, unload.

class LibmodbusAdapterTest : public DriverTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bridge_.ok());
        ASSERT_TRUE(slave_.ok());
    }
    PtyBridge bridge_;
    LibmodbusRtuSlave slave_{bridge_.peerPath(), kUnit};
};

TEST_F(LibmodbusAdapterTest, CompletesInPutOrderWithAPauseBetweenExchanges)
{
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}}) + IniFile::serial(1, 1));
    constexpr int kCount = 6;
    std::vector<int> log;
    std::vector<std::unique_ptr<TestControl>> controls;
    for (int i = 0; i < kCount; ++i) {
        controls.push_back(std::make_unique<TestControl>(i, &log));
        controls.back()->readHolding(1, kUnit, 10 * i, 3);
    }
    for (auto& control : controls)
        ASSERT_EQ(put(*control), 1);
    ASSERT_TRUE(RunUntil([&] { return log.size() == kCount; }, kWait));

    EXPECT_EQ(log, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(slave_.requestAddresses(), (std::vector<int>{0, 10, 20, 30, 40, 50}));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(controls[i]->completions().at(0).status, 0);
        EXPECT_EQ(controls[i]->replyWord(0), LibmodbusRtuSlave::registerValue(10 * i));
    }
    // One exchange at a time, each starting no sooner than the frame
    // silence (2.005 ms at 19200 baud) after the one before it ended.
    EXPECT_EQ(plcdrv::FrameSilence(19200), std::chrono::microseconds(2006));
    EXPECT_EQ(plcdrv::FrameSilence(9600), std::chrono::microseconds(4011));
    EXPECT_EQ(plcdrv::FrameSilence(115200), std::chrono::microseconds(1750));
    const auto times = slave_.requestTimes();
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], plcdrv::FrameSilence(19200)) << "between exchange " << i - 1 << " and " << i;
}

TEST_F(LibmodbusAdapterTest, SlowSlaveDelaysNeitherPutsNorTheOtherAdapter)
{
    PtyBridge fastBridge;
    ASSERT_TRUE(fastBridge.ok());
    LibmodbusRtuSlave fastSlave(fastBridge.peerPath(), kUnit);
    ASSERT_TRUE(fastSlave.ok());
    // The slow reply leaves room for three exchanges on the other line even
    // in a sanitizer build on a busy machine.
    slave_.setReplyDelay(milliseconds(1500));
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}, {2, fastBridge.driverPath()}}) +
        IniFile::serial(1, 1, 0, 4000) + IniFile::serial(2, 2, 0, 2000));

    std::vector<int> log;
    TestControl slowFirst(1, &log), slowSecond(2, &log), fast(3, &log);
    slowFirst.readHolding(1, kUnit, 0, 1);
    slowSecond.readHolding(1, kUnit, 1, 1);

    ASSERT_EQ(put(slowFirst), 1);
    ASSERT_TRUE(RunUntil([&] { return slave_.requests() == 1; }, kWait));
    // The slow adapter is in the middle of an exchange; queueing behind it
    // must not wait for that exchange.
    const auto putStart = Clock::now();
    ASSERT_EQ(put(slowSecond), 1);
    EXPECT_LT(MsSince(putStart), 500);

    // Meanwhile the other adapter runs request after request.
    for (int i = 0; i < 3; ++i) {
        fast.readHolding(2, kUnit, 2, 1);
        ASSERT_EQ(put(fast), 1);
        ASSERT_TRUE(fast.waitForCompletions(i + 1, kWait));
        EXPECT_EQ(fast.completions().back().status, 0);
    }
    EXPECT_TRUE(slowFirst.completions().empty());

    ASSERT_TRUE(RunUntil([&] { return slowSecond.completions().size() == 1; }, kWait));
    EXPECT_EQ(log, (std::vector<int>{3, 3, 3, 1, 2}));
    EXPECT_EQ(slowFirst.completions().at(0).status, 0);
    EXPECT_EQ(slowSecond.replyWord(0), LibmodbusRtuSlave::registerValue(1));
    EXPECT_EQ(fast.replyWord(0), LibmodbusRtuSlave::registerValue(2));
}

TEST_F(LibmodbusAdapterTest, PacketIsLeftAloneOnceItsWindowIsGone)
{
    slave_.setReplyDelay(milliseconds(200));
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}}) + IniFile::serial(1, 1));
    TestControl gone, next;
    gone.readHolding(1, kUnit, 0, 4);
    gone.packet().status = 0x7777;
    std::memset(gone.packet().data + 4, 0xEE, sizeof gone.packet().data - 4);
    const plcdrv::RequestPacket before = gone.packet();
    next.readHolding(1, kUnit, 0, 4);

    ASSERT_EQ(put(gone), 1);
    ASSERT_TRUE(RunUntil([&] { return slave_.requests() == 1; }, kWait));
    gone.closeWindow();
    ASSERT_EQ(put(next), 1);
    ASSERT_TRUE(next.waitForCompletions(1, kWait));
    RunFor(milliseconds(50));

    EXPECT_EQ(next.completions()[0].status, 0);
    EXPECT_TRUE(gone.completions().empty());
    EXPECT_EQ(std::memcmp(&before, &gone.packet(), sizeof before), 0);
    EXPECT_EQ(slave_.requests(), 2);
}

TEST_F(DriverTest, UnloadReleasesQueuedRequestsWithoutCompletionAndFreesThePort)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ScriptedRtuSlave silent(pty.master(), [](const Bytes&, int) { return std::vector<Step>{}; });
    startDriver(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1, 0, 5000));

    std::vector<std::unique_ptr<TestControl>> controls;
    for (int i = 0; i < 3; ++i) {
        controls.push_back(std::make_unique<TestControl>(i));
        controls.back()->readHolding(1, kUnit, i, 1);
        controls.back()->packet().status = 0x7777;
        ASSERT_EQ(put(*controls.back()), 1);
    }
    ASSERT_TRUE(RunUntil([&] { return silent.requests() == 1; }, kWait));
    ASSERT_EQ(pty.othersOpenHere(), 1);

    const auto start = Clock::now();
    app_.reset();
    // The running exchange is abandoned, not waited out for its 5 s.
    EXPECT_LT(MsSince(start), 1000);
    RunFor(milliseconds(100));
    for (const auto& control : controls) {
        EXPECT_TRUE(control->completions().empty());
        EXPECT_EQ(control->packet().status, 0x7777);
    }
    EXPECT_EQ(pty.othersOpenHere(), 0) << "the unload left the port open";
}

// ------------------------------------------------------------------------
// Which adapters start, and which packets are refused.

class StartTest : public LibmodbusAdapterTest { };

TEST_F(StartTest, StartsEnabledSerialAdaptersInAscendingOrderOnly)
{
    PtyBridge second;
    ASSERT_TRUE(second.ok());
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}, {3, second.driverPath()}}) +
        IniFile::serial(3, 3) + IniFile::section(2, 2, true) + IniFile::serial(1, 1) + IniFile::section(4, 0, false));
    EXPECT_EQ(app_->runningAdapters(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(reports_.empty());
}

TEST_F(StartTest, SecondStartDoesNotReadTheFileAgain)
{
    PtyBridge second;
    ASSERT_TRUE(second.ok());
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}, {2, second.driverPath()}}) +
        IniFile::serial(1, 1));
    ini_.write(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}, {2, second.driverPath()}}) +
        IniFile::serial(1, 1) + IniFile::serial(2, 2));
    EXPECT_FALSE(app_->start(ini_.path()));
    EXPECT_EQ(app_->runningAdapters(), std::vector<int>{1});
    TestControl control;
    control.readHolding(2, kUnit, 0, 1);
    EXPECT_EQ(put(control), 0);
}

TEST_F(DriverTest, PortThatCannotBeOpenedIsReportedWithItsErrnoAndDropped)
{
    PtyPair held, free;
    ASSERT_TRUE(held.ok());
    ASSERT_TRUE(free.ok());
    platform::SerialPort other;
    ASSERT_TRUE(other.open(held.slavePath()));
    // A device that opens but takes no line settings (a plain file) is
    // dropped without a message.
    IniFile notATerminal;
    startDriver(IniFile::general(0) +
        IniFile::ports({{12, held.slavePath()}, {2, "/dev/chronel-no-such-port"}, {3, free.slavePath()},
            {4, notATerminal.pathString()}}) +
        IniFile::serial(1, 12) + IniFile::serial(2, 2) + IniFile::serial(3, 3) + IniFile::serial(4, 4));
    EXPECT_EQ(reports_,
        (std::vector<std::string>{
            "Error Opening COM12: - Error Code 00000010", "Error Opening COM2: - Error Code 00000002"}));
    EXPECT_EQ(app_->runningAdapters(), std::vector<int>{3});
    TestControl control;
    control.readHolding(1, kUnit, 0, 1);
    EXPECT_EQ(put(control), 0);
}

TEST_F(DriverTest, RefusesEverythingBeforeStart)
{
    DriverApp app(DriverApp::Environment{nullptr, nullptr});
    TestControl control;
    control.readHolding(1, kUnit, 0, 1);
    EXPECT_EQ(app.put(&control.packet(), kPacketSize), 0);
    EXPECT_TRUE(app.runningAdapters().empty());
}

struct RefusalCase {
    const char* name;
    int adapter;
    int size;
    bool nullPacket;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public LibmodbusAdapterTest, public testing::WithParamInterface<RefusalCase> { };

TEST_P(RefusalTest, IsRefusedWithoutCompletion)
{
    const RefusalCase& c = GetParam();
    // 1 serial, 2 TCP/IP (the control's own), 3 disabled.
    startDriver(IniFile::general(0) + IniFile::ports({{1, bridge_.driverPath()}}) + IniFile::serial(1, 1) +
        IniFile::section(2, 2, true) + IniFile::section(3, 0, false));
    TestControl control;
    control.readHolding(c.adapter, kUnit, 0, 1);
    EXPECT_EQ(app_->put(c.nullPacket ? nullptr : &control.packet(), c.size), 0);
    RunFor(milliseconds(50));
    EXPECT_TRUE(control.completions().empty());
    EXPECT_EQ(slave_.requests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Packets, RefusalTest,
    testing::Values(RefusalCase{"NullPacket", 1, kPacketSize, true},
        RefusalCase{"SizeBelowAPacket", 1, kPacketSize - 1, false}, RefusalCase{"AdapterZero", 0, kPacketSize, false},
        RefusalCase{"AdapterNine", 9, kPacketSize, false}, RefusalCase{"TcpIpAdapter", 2, kPacketSize, false},
        RefusalCase{"DisabledAdapter", 3, kPacketSize, false}, RefusalCase{"NegativeAdapter", -1, kPacketSize, false}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST_F(DriverTest, SerialAdapterWithModbusPlusFramingRefusesRequests)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    startDriver(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1, 2));
    EXPECT_EQ(app_->runningAdapters(), std::vector<int>{1});
    TestControl control;
    control.readHolding(1, kUnit, 0, 1);
    EXPECT_EQ(put(control), 0);
}

// ------------------------------------------------------------------------
// What the start shows.

struct DisplayLog {
    std::vector<std::string> events;
    plcdrv::StartupDisplayFactory factory()
    {
        return [this]() -> std::unique_ptr<plcdrv::StartupDisplay> {
            struct Recorder final : plcdrv::StartupDisplay {
                explicit Recorder(DisplayLog* log) : log(log) { log->events.push_back("create"); }
                ~Recorder() override { log->events.push_back("destroy"); }
                void setCaption(const QString& c) override { log->events.push_back("caption " + c.toStdString()); }
                void setStatusText(const QString& t) override { log->events.push_back("status " + t.toStdString()); }
                DisplayLog* log;
            };
            return std::make_unique<Recorder>(this);
        };
    }
};

TEST_F(DriverTest, StatusDisplayFollowsEachSerialStartAndStaysBehindAFailure)
{
    PtyPair first, held;
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(held.ok());
    platform::SerialPort other;
    ASSERT_TRUE(other.open(held.slavePath()));
    ini_.write(IniFile::ports({{1, first.slavePath()}, {5, held.slavePath()}}) + IniFile::serial(1, 1) +
        IniFile::serial(2, 5));
    DisplayLog log;
    DriverApp app(DriverApp::Environment{
        [&](const QString& text) { log.events.push_back("message " + text.toStdString()); }, log.factory()});
    ASSERT_TRUE(app.start(ini_.path()));
    EXPECT_EQ(log.events,
        (std::vector<std::string>{
            "create",
            "caption Starting Adapter 1 As COM1",
            "status Initializing COM1:",
            "status Starting COM1: Asynchronous I/O",
            "destroy",
            "create",
            "caption Starting Adapter 2 As COM5",
            "status Initializing COM5:",
            "message Error Opening COM5: - Error Code 00000010",
            "destroy",
        }));
}

TEST_F(DriverTest, NoStatusDisplayWhenDialogShowIsZero)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ini_.write(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1));
    DisplayLog log;
    DriverApp app(DriverApp::Environment{nullptr, log.factory()});
    ASSERT_TRUE(app.start(ini_.path()));
    EXPECT_EQ(app.runningAdapters(), std::vector<int>{1});
    EXPECT_TRUE(log.events.empty());
}

} // namespace
