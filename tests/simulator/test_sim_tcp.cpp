// chronel-sim as a real program, driven over Modbus TCP by libmodbus clients.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

#include <netinet/in.h>
#include <sys/socket.h>

#include "sim_client.h"
#include "support/sim_process.h"

using namespace simtest;
using chronel::test::SimProcess;

namespace {

std::string TempPath(const std::string& stem)
{
    return testing::TempDir() + "chronel_sim_" + stem + "_" + std::to_string(::getpid());
}

class SimTcp : public testing::Test {
protected:
    void startSim(std::vector<std::string> args = {})
    {
        port_ = sim_.startTcp(std::move(args));
        ASSERT_GT(port_, 0) << sim_.stderrText();
        client_ = ConnectTcp(port_);
        ASSERT_TRUE(client_);
    }
    SimProcess sim_;
    int port_ = -1;
    Modbus client_;
};

TEST_F(SimTcp, UploadReadsSensibleFactoryConfiguration)
{
    startSim();
    auto cfg = ReadRegs(client_.get(), 1, 100);
    ASSERT_EQ(cfg.size(), 100u);
    EXPECT_EQ(cfg[3], 2);    // event buffer type 2
    EXPECT_EQ(cfg[48], 160); // firmware 1.60
    EXPECT_EQ(cfg[49], 1);   // Modbus address
    EXPECT_EQ(GetText(cfg, 38, 8), "Chronel SER");
    EXPECT_EQ(cfg[26], 127); // the module reports a loopback address
    EXPECT_EQ(cfg[19], 0x00);
    EXPECT_EQ(cfg[20], 0x0A);
    EXPECT_EQ(static_cast<int16_t>(cfg[1]), -5);
    auto id = ReadRegs(client_.get(), 101, 1);
    ASSERT_EQ(id.size(), 1u);
    EXPECT_EQ(id[0], 1);
    // The eighteen point blocks the upload reads.
    std::vector<uint16_t> table;
    for (int start = 301; start <= 1389; start += 64) {
        auto b = ReadRegs(client_.get(), start, 64);
        ASSERT_EQ(b.size(), 64u) << start;
        table.insert(table.end(), b.begin(), b.end());
    }
    EXPECT_EQ(table[0], 20);
    EXPECT_EQ(table[32 + 31], 20);
    EXPECT_EQ(table[96], 0);
    EXPECT_EQ(GetText(table, 128, 16), "Point  1");
    EXPECT_EQ(GetText(table, 128 + 16 * 31, 16), "Point  32");
    EXPECT_EQ(GetText(table, 640 + 8 * 7, 8), "Off");
    EXPECT_EQ(GetText(table, 896 + 8 * 31, 8), "On");
}

TEST_F(SimTcp, DownloadIsStoredAndReportsReconfigure)
{
    startSim();
    DrainEvents(client_.get());
    ASSERT_TRUE(WriteRegs(client_.get(), 1491, {0x55AA}));
    std::vector<uint16_t> cfg(60, 0);
    cfg[3] = 1;
    cfg[4] = 37;
    cfg[19] = 0xEE; // MAC: the module keeps its own
    cfg[48] = 999;  // firmware version: not writable
    SetText(cfg, 38, 8, "Substation 4");
    ASSERT_TRUE(WriteRegs(client_.get(), 1, cfg));
    ASSERT_TRUE(WriteRegs(client_.get(), 101, {4242}));
    std::vector<uint16_t> block(64);
    for (int b = 0, start = 301; start <= 1389; start += 64, ++b) {
        for (int i = 0; i < 64; ++i)
            block[static_cast<size_t>(i)] = static_cast<uint16_t>(b * 100 + i);
        ASSERT_TRUE(WriteRegs(client_.get(), start, block)) << start;
    }
    auto back = ReadRegs(client_.get(), 1, 60);
    ASSERT_EQ(back.size(), 60u);
    EXPECT_EQ(back[3], 1);
    EXPECT_EQ(back[4], 37);
    EXPECT_EQ(back[19], 0x00);
    EXPECT_EQ(back[48], 160);
    EXPECT_EQ(GetText(back, 38, 8), "Substation 4");
    EXPECT_EQ(ReadRegs(client_.get(), 101, 1), std::vector<uint16_t>{4242});
    auto last = ReadRegs(client_.get(), 1389, 64);
    ASSERT_EQ(last.size(), 64u);
    EXPECT_EQ(last[63], 17 * 100 + 63);
    auto events = DrainEvents(client_.get());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, 15);
}

struct TimeSet {
    static void run(modbus_t* c, int month, int day, int year, int hour, int minute, int second)
    {
        // The configurator's three writes of 24 registers at 200.
        auto buf = ReadRegs(c, 200, 24);
        ASSERT_EQ(buf.size(), 24u);
        buf[2] = 0;
        ASSERT_TRUE(WriteRegs(c, 200, buf));
        buf[4] = static_cast<uint16_t>(month);
        buf[5] = static_cast<uint16_t>(day);
        buf[6] = static_cast<uint16_t>(year);
        buf[7] = static_cast<uint16_t>(hour);
        buf[8] = static_cast<uint16_t>(minute);
        buf[9] = static_cast<uint16_t>(second);
        ASSERT_TRUE(WriteRegs(c, 200, buf));
        buf[2] = 0x8000;
        ASSERT_TRUE(WriteRegs(c, 200, buf));
    }
};

TEST_F(SimTcp, TimeSetLoadsTheClockAndReportsResync)
{
    startSim();
    DrainEvents(client_.get());
    TimeSet::run(client_.get(), 7, 4, 2031, 13, 14, 15);
    auto st = ReadRegs(client_.get(), 200, 100);
    ASSERT_EQ(st.size(), 100u);
    EXPECT_EQ(st[4], 7);
    EXPECT_EQ(st[5], 4);
    EXPECT_EQ(st[6], 2031);
    EXPECT_EQ(st[7], 13);
    EXPECT_EQ(st[8], 14);
    EXPECT_LE(st[9] - 15, 2);
    EXPECT_EQ(st[1] & 7, 1); // GPS
    EXPECT_EQ(st[10], 1);    // fix
    EXPECT_GT(st[11], 3);    // satellites
    auto events = DrainEvents(client_.get());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, 11);
    EXPECT_EQ(events[1].kind, 12);
    EXPECT_EQ(events[1].year, 2031);
    EXPECT_EQ(events[1].hour, 13);
    // An impossible date is refused and leaves the clock alone.
    auto buf = ReadRegs(client_.get(), 200, 24);
    buf[4] = 2;
    buf[5] = 30;
    buf[2] = 0x8000;
    EXPECT_EQ(ExceptionOf(modbus_write_registers(client_.get(), 199, 24, buf.data())), 3);
    EXPECT_EQ(ReadRegs(client_.get(), 200, 24)[6], 2031);
}

TEST_F(SimTcp, TestModeDrivesThePoints)
{
    startSim();
    DrainEvents(client_.get());
    ASSERT_TRUE(WriteRegs(client_.get(), 1577, {0x55AA}));
    EXPECT_EQ(ReadRegs(client_.get(), 1501, 100)[76], 0x55AA);
    ASSERT_TRUE(WriteRegs(client_.get(), 1578, {0x0001, 0x8000}));
    auto st = ReadRegs(client_.get(), 200, 100);
    EXPECT_EQ(st[51], 0x0001);
    EXPECT_EQ(st[52], 0x8000);
    ASSERT_TRUE(WriteRegs(client_.get(), 1577, {0}));
    st = ReadRegs(client_.get(), 200, 100);
    EXPECT_EQ(st[51], 0);
    EXPECT_EQ(st[52], 0);
    auto ev = DrainEvents(client_.get());
    std::vector<std::tuple<int, int, int>> got;
    for (auto& e : ev)
        got.emplace_back(e.kind, e.kind == 1 ? e.point : 0, e.kind == 1 ? e.state : 0);
    std::vector<std::tuple<int, int, int>> want = {
        {24, 0, 0}, {1, 1, 1}, {1, 32, 1}, {25, 0, 0}, {1, 1, 0}, {1, 32, 0}};
    EXPECT_EQ(got, want);
}

TEST_F(SimTcp, FlashEraseProgramAndReadBack)
{
    startSim();
    for (uint16_t sector = 0; sector <= 8; ++sector)
        ASSERT_TRUE(WriteRegs(client_.get(), 32767, {0x0000, 0x5555, 0xAAAA, 0xFFFF, sector})) << sector;
    ASSERT_TRUE(WriteRegs(client_.get(), 32766, {0x00FF, 0})); // progress pattern
    EXPECT_EQ(ReadRegs(client_.get(), 32766, 2), (std::vector<uint16_t>{0x00FF, 0}));
    std::vector<uint16_t> a(64), b(64);
    for (int i = 0; i < 64; ++i) {
        a[static_cast<size_t>(i)] = static_cast<uint16_t>(0x0100 * (2 * i + 1) + 2 * i); // bytes 2i, 2i+1
        b[static_cast<size_t>(i)] = static_cast<uint16_t>(0x1234 + i);
    }
    ASSERT_TRUE(WriteRegs(client_.get(), 16385, a)); // image offset 0
    ASSERT_TRUE(WriteRegs(client_.get(), 16389, b)); // image offset 128
    EXPECT_EQ(ReadRegs(client_.get(), 16385, 64), a);
    EXPECT_EQ(ReadRegs(client_.get(), 16389, 64), b);
    EXPECT_EQ(ReadRegs(client_.get(), 16393, 64), std::vector<uint16_t>(64, 0xFFFF));
    // Offset 64 (register 16387) starts in the middle of block 0.
    EXPECT_EQ(ReadRegs(client_.get(), 16387, 1)[0], a[32]);
    // Programming without erasing only clears bits.
    ASSERT_TRUE(WriteRegs(client_.get(), 16385, std::vector<uint16_t>(64, 0xF0F0)));
    EXPECT_EQ(ReadRegs(client_.get(), 16385, 1)[0], a[0] & 0xF0F0);
    ASSERT_TRUE(WriteRegs(client_.get(), 32767, {0x0000, 0x5555, 0xAAAA, 0xFFFF, 0}));
    EXPECT_EQ(ReadRegs(client_.get(), 16385, 64), std::vector<uint16_t>(64, 0xFFFF));
    // Top block of the array, and one register past it.
    EXPECT_EQ(ReadRegs(client_.get(), 32765, 64).size(), 64u);
    std::vector<uint16_t> w(65);
    EXPECT_EQ(ExceptionOf(modbus_read_registers(client_.get(), 32764, 65, w.data())), 2);
    // A wrong unlock pattern or sector is refused.
    uint16_t bad[5] = {0x0000, 0x5555, 0xAAAB, 0xFFFF, 0};
    EXPECT_EQ(ExceptionOf(modbus_write_registers(client_.get(), 32766, 5, bad)), 3);
    uint16_t badSector[5] = {0x0000, 0x5555, 0xAAAA, 0xFFFF, 9};
    EXPECT_EQ(ExceptionOf(modbus_write_registers(client_.get(), 32766, 5, badSector)), 3);
}

TEST_F(SimTcp, SeveralClientsAreServedAndCounted)
{
    startSim();
    Modbus second = ConnectTcp(port_);
    Modbus third = ConnectTcp(port_);
    ASSERT_TRUE(second && third);
    EXPECT_EQ(ReadRegs(second.get(), 101, 1), std::vector<uint16_t>{1});
    EXPECT_EQ(ReadRegs(third.get(), 49, 1), std::vector<uint16_t>{160});
    EXPECT_TRUE(WaitFor([&] { return ReadRegs(client_.get(), 1501, 100)[75] == 3; }));
    third.reset();
    EXPECT_TRUE(WaitFor([&] { return ReadRegs(client_.get(), 1501, 100)[75] == 2; }));
}

TEST_F(SimTcp, AnyUnitIdentifierIsAnswered)
{
    startSim();
    for (int unit : {0, 1, 17, 247, 255}) {
        modbus_set_slave(client_.get(), unit);
        EXPECT_EQ(ReadRegs(client_.get(), 49, 1), std::vector<uint16_t>{160}) << unit;
    }
}

// Malformed and out-of-range requests, as raw PDUs behind unit 255.
struct RawCase {
    const char* name;
    std::vector<uint8_t> pdu;
    int exception;
};

class SimTcpMalformed : public SimTcp, public testing::WithParamInterface<RawCase> { };

TEST_P(SimTcpMalformed, IsAnsweredWithTheProperException)
{
    startSim();
    std::vector<uint8_t> raw{255};
    raw.insert(raw.end(), GetParam().pdu.begin(), GetParam().pdu.end());
    ASSERT_GT(modbus_send_raw_request(client_.get(), raw.data(), static_cast<int>(raw.size())), 0);
    uint8_t rsp[MODBUS_TCP_MAX_ADU_LENGTH];
    int rc = modbus_receive_confirmation(client_.get(), rsp);
    ASSERT_GE(rc, 9);
    EXPECT_EQ(rsp[7], GetParam().pdu[0] | 0x80);
    EXPECT_EQ(rsp[8], GetParam().exception);
    // The connection and the module carry on.
    EXPECT_EQ(ReadRegs(client_.get(), 49, 1), std::vector<uint16_t>{160});
}

INSTANTIATE_TEST_SUITE_P(Requests, SimTcpMalformed,
    testing::Values(RawCase{"ReadCountZero", {3, 0, 0, 0, 0}, 3}, RawCase{"ReadCount126", {3, 0, 0, 0, 126}, 3},
        RawCase{"ReadBeyondStatistics", {3, 0x06, 0x3F, 0, 10}, 2}, // 1600 ... 1609
        RawCase{"ReadUnmappedHigh", {3, 0x9C, 0x40, 0, 1}, 2}, RawCase{"UnknownFunction", {0x41, 0, 0}, 1},
        RawCase{"WriteByteCountMismatch", {16, 0, 100, 0, 2, 2, 0, 1}, 3},
        RawCase{"WriteCountZero", {16, 0, 100, 0, 0, 0}, 3}, RawCase{"WriteEventBlock", {16, 0, 110, 0, 1, 2, 0, 1}, 2},
        RawCase{"WriteStatisticsCounter", {16, 0x05, 0xDC, 0, 1, 2, 0, 1}, 2}, // 1501
        RawCase{"WrongDownloadStartCode", {16, 0x05, 0xD2, 0, 1, 2, 0x12, 0x34}, 3},
        RawCase{"EventBufferTypeSeven", {6, 0, 3, 0, 7}, 3}, RawCase{"ReadCoilThree", {1, 0, 0, 0, 3}, 2},
        RawCase{"WriteEventAvailableCoil", {5, 0, 0, 0xFF, 0}, 2},
        RawCase{"WriteCoilBadValue", {5, 0, 1, 0x12, 0x34}, 3}, RawCase{"ReadShortPdu", {3, 0, 0, 0, 1, 9}, 3}),
    [](const testing::TestParamInfo<RawCase>& i) { return std::string(i.param.name); });

TEST_F(SimTcp, BrokenTcpHeaderClosesOnlyThatConnection)
{
    startSim();
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const uint8_t junk[] = {0, 1, 0, 7, 0, 6, 255, 3, 0, 0, 0, 1}; // protocol 7
    ASSERT_EQ(::send(s, junk, sizeof junk, 0), static_cast<ssize_t>(sizeof junk));
    timeval tv{2, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    uint8_t buf[16];
    EXPECT_EQ(::recv(s, buf, sizeof buf, 0), 0); // closed, no reply
    ::close(s);
    EXPECT_EQ(ReadRegs(client_.get(), 49, 1), std::vector<uint16_t>{160});
}

TEST_F(SimTcp, DroppedRequestIsNotCarriedOut)
{
    startSim({"--drop-request-every", "2"});
    modbus_set_response_timeout(client_.get(), 0, 300000);
    ASSERT_TRUE(WriteRegs(client_.get(), 101, {11}));                      // 1
    EXPECT_FALSE(WriteRegs(client_.get(), 101, {22}));                     // 2: dropped
    EXPECT_EQ(ReadRegs(client_.get(), 101, 1), std::vector<uint16_t>{11}); // 3
    EXPECT_TRUE(ReadRegs(client_.get(), 1, 1).empty());                    // 4: dropped
    auto stats = ReadRegs(client_.get(), 1501, 100);                       // 5
    ASSERT_EQ(stats.size(), 100u);
    EXPECT_EQ(stats[79], 2); // dropped packets
}

TEST_F(SimTcp, DroppedReplyIsCarriedOut)
{
    startSim({"--drop-reply-every", "2"});
    modbus_set_response_timeout(client_.get(), 0, 300000);
    ASSERT_TRUE(WriteRegs(client_.get(), 101, {11}));
    EXPECT_FALSE(WriteRegs(client_.get(), 101, {22}));
    EXPECT_EQ(ReadRegs(client_.get(), 101, 1), std::vector<uint16_t>{22});
}

TEST_F(SimTcp, DelayedReply)
{
    startSim({"--delay-ms", "300"});
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadRegs(client_.get(), 49, 1), std::vector<uint16_t>{160});
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(280));
}

TEST_F(SimTcp, InjectedExceptionCoversItsRegisterOnly)
{
    startSim({"--exception", "101:6", "--exception", "2:4"});
    uint16_t w[101];
    EXPECT_EQ(ExceptionOf(modbus_read_registers(client_.get(), 100, 1, w)), 6);
    EXPECT_EQ(ExceptionOf(modbus_read_registers(client_.get(), 0, 101, w)), 6);
    EXPECT_EQ(modbus_read_registers(client_.get(), 2, 98, w), 98);            // registers 3 ... 100
    EXPECT_EQ(ExceptionOf(modbus_write_bit(client_.get(), 1, 1)), 4);         // coil 2
    EXPECT_EQ(ExceptionOf(modbus_read_registers(client_.get(), 0, 3, w)), 4); // register 2
}

TEST_F(SimTcp, ResetLosesVolatileStateAndKeepsConfiguration)
{
    startSim({"--reset-every", "3"});
    DrainEvents(client_.get(), 1); // requests 1-3: coil, block, acknowledge -> restart
    Modbus c = ConnectTcp(port_);
    ASSERT_TRUE(c);
    ASSERT_TRUE(WriteRegs(c.get(), 1577, {0x55AA}));                      // 1
    ASSERT_TRUE(WriteRegs(c.get(), 101, {77}));                           // 2
    EXPECT_EQ(ReadRegs(c.get(), 1577, 1), std::vector<uint16_t>{0x55AA}); // 3 -> restart
    EXPECT_TRUE(ReadRegs(c.get(), 1577, 1).empty());                      // connection gone
    c = ConnectTcp(port_);
    ASSERT_TRUE(c);
    EXPECT_EQ(ReadRegs(c.get(), 1577, 1), std::vector<uint16_t>{0}); // 1
    EXPECT_EQ(ReadRegs(c.get(), 101, 1), std::vector<uint16_t>{77}); // 2
    EXPECT_EQ(ReadRegs(c.get(), 1591, 1), std::vector<uint16_t>{2}); // 3: "Ethernet Controller Reset"
}

TEST(SimProgram, StateSurvivesARestart)
{
    std::string path = TempPath("state");
    std::remove(path.c_str());
    {
        SimProcess sim;
        int port = sim.startTcp({"--state", path});
        ASSERT_GT(port, 0);
        Modbus c = ConnectTcp(port);
        std::vector<uint16_t> name(8);
        SetText(name, 0, 8, "Bench 7");
        ASSERT_TRUE(WriteRegs(c.get(), 39, name));
        ASSERT_TRUE(WriteRegs(c.get(), 32767, {0x0000, 0x5555, 0xAAAA, 0xFFFF, 0}));
        ASSERT_TRUE(WriteRegs(c.get(), 16385, std::vector<uint16_t>(64, 0x1234)));
        EXPECT_EQ(sim.stop(SIGTERM), 0);
    }
    std::ifstream f(path);
    ASSERT_TRUE(f.good());
    {
        SimProcess sim;
        int port = sim.startTcp({"--state", path});
        ASSERT_GT(port, 0);
        Modbus c = ConnectTcp(port);
        EXPECT_EQ(GetText(ReadRegs(c.get(), 39, 8), 0, 8), "Bench 7");
        EXPECT_EQ(ReadRegs(c.get(), 16385, 64), std::vector<uint16_t>(64, 0x1234));
        EXPECT_EQ(sim.stop(SIGINT), 0);
    }
    std::remove(path.c_str());
}

TEST(SimProgram, UnreadableStateFileIsRefused)
{
    std::string path = TempPath("bad_state");
    std::ofstream(path) << "chronel-sim-state 1\nconfig 0000\n";
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--tcp-port", "0", "--state", path}));
    EXPECT_EQ(sim.waitExit(), 1);
    EXPECT_NE(sim.stderrText().find("state file"), std::string::npos);
    std::remove(path.c_str());
}

TEST(SimProgram, BusyPortIsAClearError)
{
    SimProcess first;
    int port = first.startTcp({});
    ASSERT_GT(port, 0);
    SimProcess second;
    ASSERT_TRUE(second.start({"--tcp-port", std::to_string(port)}));
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_NE(second.stderrText().find("cannot listen"), std::string::npos);
}

TEST(SimProgram, MissingSerialDeviceIsAClearError)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--no-tcp", "--rtu", "/dev/chronel-no-such-port"}));
    EXPECT_EQ(sim.waitExit(), 1);
    EXPECT_NE(sim.stderrText().find("cannot open serial device"), std::string::npos);
}

TEST(SimProgram, HelpDocumentsEveryOption)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--help"}));
    std::string text;
    for (int i = 0; i < 200; ++i) {
        std::string line = sim.readLine(2000);
        text += line + "\n";
        if (text.find("bad command line") != std::string::npos)
            break;
    }
    EXPECT_EQ(sim.waitExit(), 0);
    for (const char* opt : {"--tcp-port", "--listen", "--no-tcp", "--max-clients", "--rtu", "--baud", "--parity",
             "--stop-bits", "--slave", "--events", "--seed", "--buffer-type", "--time-source", "--state",
             "--drop-request-every", "--drop-reply-every", "--delay-ms", "--exception", "--reset-every", "--modules",
             "--fault-module", "--dead", "--verbose", "--help"})
        EXPECT_NE(text.find(opt), std::string::npos) << opt;
}

TEST(SimProgram, BadOptionValuesAreRefused)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--delay-ms", "10001"}, {"--reset-every", "0"},
             {"--exception", "5"}, {"--buffer-type", "4"}, {"--events", "random:0"}, {"--no-tcp"}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(args));
        EXPECT_EQ(sim.waitExit(), 2) << args[0];
    }
}

} // namespace
