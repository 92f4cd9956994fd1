// chronel-cli over a serial adapter of the driver: PLCDRV.INI maps COM1 to
// the pseudo-terminal chronel-sim serves Modbus RTU on. The simulator also
// serves Modbus TCP, through which libmodbus sets up and inspects it.
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace clitest {
namespace {

class CliSerial : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(sim.startTcp({"--rtu", "pty"}), 0);
        peer = std::make_unique<ModbusPeer>("127.0.0.1", sim.port());
        ASSERT_TRUE(peer->connected());
        WriteFile(dir.file("PLCDRV.INI"), SerialIniText(sim.ptyPath()));
    }

    RunResult serial(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--ip", "127.0.0.1", "--ini", dir.file("PLCDRV.INI"), "--interval", "20"});
        return RunCli(args, 0);
    }

    Sim sim;
    std::unique_ptr<ModbusPeer> peer;
    TempDir dir;
};

TEST_F(CliSerial, UploadOverRtuSavesWhatTheModuleHolds)
{
    ASSERT_TRUE(peer->writeText(39, "Serial bay", 16));
    ASSERT_TRUE(peer->writeText(429 + 16 * 20, "Breaker 21", 32));
    const RunResult r = serial({"upload", dir.file("site.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto records = ParseSettings(ReadFile(dir.file("site.csv")));
    EXPECT_EQ(records.at("Module Name").at(0), "Serial bay");
    EXPECT_EQ(records.at("Point  21").at(4), "Breaker 21");
    EXPECT_EQ(records.size(), 51u);
}

TEST_F(CliSerial, DownloadOverRtuReachesTheModule)
{
    // The file comes from the same module over TCP; the pseudo-terminal
    // stays untouched until the download.
    ASSERT_EQ(
        RunCli({"--tcp", "--ip", "127.0.0.1", "--interval", "20", "upload", dir.file("base.csv")}, sim.port()).exitCode,
        0);
    std::string text = ReadFile(dir.file("base.csv"));
    text = ReplaceRecord(text, "Module Name", "\"Over RTU\"");
    text = ReplaceRecord(text, "Point  7", "\"True\",100,200,3,\"Valve 7\",\"Shut\",\"Open\"");
    WriteFile(dir.file("edited.csv"), text);

    const RunResult r = serial({"download", dir.file("edited.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(peer->readText(39, 16), "Over RTU");
    EXPECT_EQ(peer->readText(429 + 16 * 6, 32), "Valve 7");
    EXPECT_EQ(peer->read(301 + 6, 1), (std::vector<std::uint16_t>{100}));
    EXPECT_EQ(peer->read(333 + 6, 1), (std::vector<std::uint16_t>{200}));
    EXPECT_EQ(peer->read(397 + 6, 1), (std::vector<std::uint16_t>{0xFFFF}));
}

TEST_F(CliSerial, TraceShowsTheDriversFrames)
{
    const RunResult r = serial({"--trace", "status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\S+ > adapter 0 unit 255: 03 00 C7 00 64)"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\S+ < adapter 0 unit 255: 03 C8( [0-9A-F]{2}){200})")))
        << lines[1];
    EXPECT_TRUE(Contains(r.out, "Time Source:            GPS")) << r.out;
}

TEST_F(CliSerial, EventsOverRtu)
{
    // Test mode on through TCP: switching it is an event of its own.
    ASSERT_TRUE(peer->write(1577, {0x55AA}));
    const RunResult r = serial({"events", "--cycles", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "  Test Mode On\n")) << r.out;
}

TEST_F(CliSerial, AMissingPortIsReportedAndFails)
{
    // A path no pseudo-terminal will ever have: a stopped simulator's would
    // soon be another test's.
    WriteFile(dir.file("PLCDRV.INI"), SerialIniText(dir.file("no-such-tty")));
    const RunResult r = serial({"status"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Error Opening COM1")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Requests are refused (error -5)")) << r.err;
    // A driver adapter: the module by its address alone.
    EXPECT_TRUE(Contains(r.err,
        "chronel-cli: 127.0.0.1: request refused by the adapter or not built "
        "(Communications error # -5)\n"))
        << r.err;
}

} // namespace
} // namespace clitest
