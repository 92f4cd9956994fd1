// chronel-cli end to end over Modbus TCP against chronel-sim on 127.0.0.1,
// with libmodbus as the independent client that sets up and inspects the
// simulated module.
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>

#include <regex>

namespace clitest {
namespace {

constexpr int FastPoll = 20; // ms; the window's rates would make each test take seconds

// Register numbers of the module's configuration (1-based).
constexpr int ModuleNameRegister = 39;
constexpr int ModuleIdRegister = 101;
constexpr int FilterRegister = 301;
constexpr int DebounceRegister = 333;
constexpr int ChatterRegister = 365;
constexpr int DisabledRegister = 397;
constexpr int DescriptionRegister = 429;
constexpr int OffTextRegister = 941;
constexpr int OnTextRegister = 1197;

std::string PointKey(int point) { return "Point  " + std::to_string(point); }

std::string Field(const SettingsRecords& records, const std::string& key, std::size_t index)
{
    const auto it = records.find(key);
    return it != records.end() && index < it->second.size() ? it->second[index] : std::string("<missing>");
}

class CliTcp : public testing::Test {
protected:
    void SetUp() override { startSim(); }

    void startSim(std::vector<std::string> args = {})
    {
        sim.stop();
        ASSERT_GT(sim.startTcp(std::move(args)), 0);
        peer = std::make_unique<ModbusPeer>("127.0.0.1", sim.port());
        ASSERT_TRUE(peer->connected());
    }

    RunResult cli(std::vector<std::string> args, const Env& env = {})
    {
        args.insert(args.begin(), {"--ip", "127.0.0.1", "--tcp", "--interval", std::to_string(FastPoll)});
        return RunCli(args, sim.port(), env);
    }

    // The value column of the line labelled `label`.
    static std::string Value(const std::string& out, const std::string& label)
    {
        for (const std::string& line : Lines(out))
            if (line.rfind(label + ":", 0) == 0)
                return line.size() > 24 ? line.substr(24) : std::string();
        return "<no line " + label + ">";
    }

    Sim sim;
    std::unique_ptr<ModbusPeer> peer;
    TempDir dir;
};

TEST_F(CliTcp, UploadSavesWhatTheModuleHolds)
{
    ASSERT_TRUE(peer->writeText(ModuleNameRegister, "Bay 7 SER", 16));
    ASSERT_TRUE(peer->write(ModuleIdRegister, {42}));
    ASSERT_TRUE(peer->write(FilterRegister + 2, {40000}));
    ASSERT_TRUE(peer->write(ChatterRegister + 1, {std::uint16_t(-5)}));
    ASSERT_TRUE(peer->write(DisabledRegister + 3, {0xFFFF}));
    ASSERT_TRUE(peer->writeText(DescriptionRegister + 16 * 31, "Feeder 32 breaker", 32));
    ASSERT_TRUE(peer->writeText(OnTextRegister + 8 * 8, "Closed", 16));

    const RunResult r = cli({"upload", dir.file("site.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Saved " + dir.file("site.csv")));

    const std::string text = ReadFile(dir.file("site.csv"));
    EXPECT_EQ(Lines(text).size(), 51u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const SettingsRecords records = ParseSettings(text);
    EXPECT_EQ(Field(records, "Module Name", 0), "Bay 7 SER");
    EXPECT_EQ(Field(records, "PLC ID", 0), "42");
    EXPECT_EQ(Field(records, PointKey(3), 1), "40000");
    EXPECT_EQ(Field(records, PointKey(2), 3), "-5");
    EXPECT_EQ(Field(records, PointKey(4), 0), "True");
    EXPECT_EQ(Field(records, PointKey(32), 4), "Feeder 32 breaker");
    EXPECT_EQ(Field(records, PointKey(9), 6), "Closed");

    // Every point and the module's address, field by field, against the
    // registers as libmodbus reads them.
    const auto filter = peer->read(FilterRegister, 32);
    const auto debounce = peer->read(DebounceRegister, 32);
    const auto chatter = peer->read(ChatterRegister, 32);
    const auto disabled = peer->read(DisabledRegister, 32);
    ASSERT_EQ(filter.size(), 32u);
    for (int p = 0; p < 32; ++p) {
        SCOPED_TRACE(p + 1);
        const std::string key = PointKey(p + 1);
        EXPECT_EQ(Field(records, key, 0), disabled[std::size_t(p)] == 0xFFFF ? "True" : "False");
        EXPECT_EQ(Field(records, key, 1), std::to_string(filter[std::size_t(p)]));
        EXPECT_EQ(Field(records, key, 2), std::to_string(debounce[std::size_t(p)]));
        EXPECT_EQ(Field(records, key, 3), std::to_string(std::int16_t(chatter[std::size_t(p)])));
        EXPECT_EQ(Field(records, key, 4), peer->readText(DescriptionRegister + 16 * p, 32));
        EXPECT_EQ(Field(records, key, 5), peer->readText(OffTextRegister + 8 * p, 16));
        EXPECT_EQ(Field(records, key, 6), peer->readText(OnTextRegister + 8 * p, 16));
    }
    const auto ip = peer->read(27, 4);
    ASSERT_EQ(ip.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Field(records, "IP Address", i), std::to_string(ip[i]));
}

TEST_F(CliTcp, DownloadWritesTheFileIntoTheModuleAtTheGivenAddress)
{
    ASSERT_EQ(cli({"upload", dir.file("base.csv")}).exitCode, 0);
    std::string text = ReadFile(dir.file("base.csv"));
    text = ReplaceRecord(text, "Module Name", "\"Downloaded\"");
    // The module's own address setting: the download must still go to the
    // address given on the command line, not to this one.
    text = ReplaceRecord(text, "IP Address", "10,1,2,3");
    text = ReplaceRecord(text, "IEEE 1344", "\"True\"");
    text = ReplaceRecord(text, PointKey(5), "\"False\",20,20,0,\"Pump 5\",\"Stopped\",\"Running\"");
    text = ReplaceRecord(text, PointKey(12), "\"True\",40000,7,-3,\"Point 12\",\"Off\",\"On\"");
    WriteFile(dir.file("edited.csv"), text);

    const RunResult r = cli({"download", dir.file("edited.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Downloaded " + dir.file("edited.csv")));
    EXPECT_TRUE(r.err.empty()) << r.err;

    EXPECT_EQ(peer->readText(ModuleNameRegister, 16), "Downloaded");
    EXPECT_EQ(peer->read(27, 4), (std::vector<std::uint16_t>{10, 1, 2, 3}));
    EXPECT_EQ(peer->read(51, 1), (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(peer->readText(DescriptionRegister + 16 * 4, 32), "Pump 5");
    EXPECT_EQ(peer->readText(OffTextRegister + 8 * 4, 16), "Stopped");
    EXPECT_EQ(peer->readText(OnTextRegister + 8 * 4, 16), "Running");
    EXPECT_EQ(peer->read(FilterRegister + 11, 1), (std::vector<std::uint16_t>{40000}));
    EXPECT_EQ(peer->read(DebounceRegister + 11, 1), (std::vector<std::uint16_t>{7}));
    EXPECT_EQ(peer->read(ChatterRegister + 11, 1), (std::vector<std::uint16_t>{std::uint16_t(-3)}));
    EXPECT_EQ(peer->read(DisabledRegister + 11, 1), (std::vector<std::uint16_t>{0xFFFF}));

    // And it reads back the same through an upload.
    ASSERT_EQ(cli({"upload", dir.file("again.csv")}).exitCode, 0);
    EXPECT_EQ(ReadFile(dir.file("again.csv")), text);
}

TEST_F(CliTcp, DownloadRefusesAFileWithMessagesAndSendsNothing)
{
    ASSERT_TRUE(peer->writeText(ModuleNameRegister, "Untouched", 16));
    ASSERT_EQ(cli({"upload", dir.file("base.csv")}).exitCode, 0);
    std::string text = ReadFile(dir.file("base.csv"));
    const auto at = text.find("\"Module Name\"");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 13, "\"Module Nam\"");
    text = ReplaceRecord(text, "Sync Master", "\"Maybe\"");
    WriteFile(dir.file("bad.csv"), text);

    const RunResult r = cli({"--trace", "download", dir.file("bad.csv")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "File Open: Module Name Invalid")) << r.err;
    EXPECT_TRUE(Contains(r.err, "File Open: Sync Master Invalid")) << r.err;
    EXPECT_FALSE(Contains(r.err, " > tcp")) << "nothing may be sent: " << r.err;
    EXPECT_EQ(peer->readText(ModuleNameRegister, 16), "Untouched");

    const RunResult missing = cli({"download", dir.file("none.csv")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.err, dir.file("none.csv") + ": No such file or directory (File Open Error)"))
        << missing.err;
}

TEST_F(CliTcp, UploadIntoAMissingDirectoryStopsBeforeTheModule)
{
    const RunResult r = cli({"--trace", "upload", dir.file("no/such/dir/site.csv")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "cannot be written")) << r.err;
    EXPECT_FALSE(Contains(r.err, " > tcp")) << r.err;
}

class CliTcpEvents : public CliTcp {
protected:
    void SetUp() override
    {
        WriteFile(dir.file("script.txt"), "0.01 5 1\n0.02 5 0\n0.03 17 1\n");
        startSim({"--events", "script:" + dir.file("script.txt"), "--time-source", "internal"});
        // The script runs from the simulator's start. Its last change (point
        // 17 on, bit 0 of the point status word 252) shows once all three
        // are in the module's buffer.
        const auto played = [this] {
            const std::vector<std::uint16_t> status = peer->read(252, 1);
            return !status.empty() && (status[0] & 1) != 0;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!played() && std::chrono::steady_clock::now() < deadline)
            ::usleep(10000);
        ASSERT_TRUE(played()) << "the simulator did not play its script";
    }

    static std::vector<std::string> EventLines(const std::string& out)
    {
        std::vector<std::string> lines;
        for (const std::string& line : Lines(out))
            if (Contains(line, "Input Point"))
                lines.push_back(line);
        return lines;
    }
};

TEST_F(CliTcpEvents, MonitorShowsTheEventsAndLeavesThemInTheModule)
{
    const RunResult r = cli({"events", "--monitor", "--cycles", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::regex layout(
        R"(\d{4}-\d{2}-\d{2}  \d{2}:\d{2}:\d{2}\.\d{3}  [SD]  [GFPB]   Input Point  (5|17)  (On|Off))");
    const auto lines = EventLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, layout)) << line;
    EXPECT_TRUE(Contains(lines[0], "Input Point  5  On"));
    EXPECT_TRUE(Contains(lines[1], "Input Point  5  Off"));
    EXPECT_TRUE(Contains(lines[2], "Input Point  17  On"));
    EXPECT_TRUE(peer->coil(1)) << "Monitor mode must not acknowledge";
}

TEST_F(CliTcpEvents, RetrieveDrainsTheBufferAndLogsEveryLine)
{
    const RunResult r = cli({"events", "--cycles", "4", "--log", dir.file("ser.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = EventLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_FALSE(peer->coil(1)) << "Retrieve mode acknowledges every block";

    // The log holds every line shown, each ended by CR LF.
    std::string expected;
    for (const std::string& line : Lines(r.out))
        expected += line + "\r\n";
    EXPECT_EQ(ReadFile(dir.file("ser.txt")), expected);

    // Appended, not replaced; and nothing more to retrieve.
    const RunResult again = cli({"events", "--cycles", "2", "--log", dir.file("ser.txt")});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(EventLines(again.out).empty()) << again.out;
    EXPECT_EQ(ReadFile(dir.file("ser.txt")).substr(0, expected.size()), expected);
}

TEST_F(CliTcpEvents, SecondsBoundTheRun)
{
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = cli({"events", "--monitor", "--seconds", "0.4"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EventLines(r.out).size(), 3u) << r.out;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(CliTcpEvents, AnUnboundedScanEndsInOrderOnCtrlC)
{
    RunOptions options;
    options.timeoutMs = 10000;
    options.interruptOnOutput = "Input Point  17  On\n";
    const RunResult r =
        RunCli({"--ip", "127.0.0.1", "--tcp", "--interval", "20", "events", "--log", dir.file("ser.txt")}, sim.port(),
            {}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(EventLines(r.out).size(), 3u) << r.out;
    EXPECT_EQ(Lines(ReadFile(dir.file("ser.txt"))), Lines(r.out));
}

struct SourceCase {
    const char* option;
    const char* shown;
};

// Test names, not bytes, in failure reports.
void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.option; }

class CliTcpStatus : public CliTcp, public testing::WithParamInterface<SourceCase> { };

TEST_P(CliTcpStatus, ShowsTheStatusBlock)
{
    startSim({"--time-source", GetParam().option});
    const RunResult r = cli({"status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto words = peer->read(200, 24);
    ASSERT_EQ(words.size(), 24u);
    EXPECT_EQ(Value(r.out, "Time Source"), GetParam().shown);
    EXPECT_EQ(Value(r.out, "Number of Satelites"), " " + std::to_string(words[11]));
    EXPECT_EQ(Value(r.out, "SER Date"), QDate(words[6], words[4], words[5]).toString("yyyy-MM-dd").toStdString());
    const char* quality[] = {"Good", "Fair", "Poor", "Bad"};
    EXPECT_EQ(Value(r.out, "Time Quality"), quality[words[22] & 3]);
    for (const char* label : {"SER Time", "GPS Status", "Latitude (ddmm.mmm)", "Longitude (dddmm.mmm)",
             "Altitude (meters)", "Speed (knots)", "Course (degrees)", "Point Status (1-32)"})
        EXPECT_FALSE(Contains(Value(r.out, label), "<no line")) << label;
    EXPECT_EQ(Lines(r.out).size(), 12u) << r.out;
}

INSTANTIATE_TEST_SUITE_P(TimeSources, CliTcpStatus,
    testing::Values(SourceCase{"gps", "GPS"}, SourceCase{"irig", "IRIG-B"}, SourceCase{"ser", "SER"}),
    [](const testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.option); });

TEST_F(CliTcp, ASlowLinkNeedsTimeoutAndGetsThroughWithIt)
{
    // Every reply 700 ms late: past the window's 500 ms reply window.
    startSim({"--delay-ms", "700"});
    const RunResult slow = cli({"--timeout", "2000", "status"});
    EXPECT_EQ(slow.exitCode, 0) << slow.err;
    EXPECT_FALSE(Value(slow.out, "SER Time").empty()) << slow.out;

    const RunResult normal = cli({"status"});
    EXPECT_EQ(normal.exitCode, 1) << normal.out;
    EXPECT_TRUE(Contains(normal.err,
        "chronel-cli: 127.0.0.1:" + std::to_string(sim.port()) + ": timed out (Communications error #  10060)\n"))
        << normal.err;
}

TEST_F(CliTcp, SetTimeLoadsThisComputersClock)
{
    startSim({"--time-source", "internal"});
    const RunResult r = cli({"set-time"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const QDateTime now = QDateTime::currentDateTime();
    EXPECT_EQ(Value(r.out, "SER Date"), now.date().toString("yyyy-MM-dd").toStdString());
    const auto words = peer->read(200, 24);
    ASSERT_EQ(words.size(), 24u);
    const QDateTime module(QDate(words[6], words[4], words[5]), QTime(words[7], words[8], words[9]));
    EXPECT_LE(std::abs(module.secsTo(now)), 5) << module.toString().toStdString();
}

TEST_F(CliTcp, StatsShowTheStatisticsBlock)
{
    const RunResult r = cli({"stats"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto words = peer->read(1501, 100);
    ASSERT_EQ(words.size(), 100u);
    EXPECT_EQ(Value(r.out, "  12:00 Midnight"), " " + std::to_string(words[0]));
    EXPECT_EQ(Value(r.out, "  11:00 PM"), " " + std::to_string(words[23]));
    EXPECT_EQ(Value(r.out, "Dropped Packets"), " " + std::to_string(words[79]));
    EXPECT_EQ(Value(r.out, "Test Mode"), "Normal");
    for (const char* task : {"SER Sync", "GPS Sync", "IRIG-B Sync", "Process Event", "Modbus RS232", "Modbus RS485",
             "Modbus TC/IP", "Idle"})
        EXPECT_TRUE(std::regex_match(Value(r.out, std::string("  ") + task), std::regex(R"(\d{1,3}\.\d?%)")))
            << task << ": " << Value(r.out, std::string("  ") + task);
    EXPECT_TRUE(Contains(r.out, "NTP Requests\n"));
    EXPECT_TRUE(Contains(r.out, "Errors\n"));
}

TEST_F(CliTcp, TestModeSwitchesAndSendsInputs)
{
    RunResult r = cli({"test-mode", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Value(r.out, "Test Mode"), "Test");
    EXPECT_EQ(peer->read(1577, 1), (std::vector<std::uint16_t>{0x55AA}));

    r = cli({"test-mode", "send", "1,32"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Value(r.out, "Test Inputs Sent"), "1,32");
    EXPECT_EQ(peer->read(1578, 2), (std::vector<std::uint16_t>{0x0001, 0x8000}));
    // In test mode the inputs are the points the status block reports.
    r = cli({"status"});
    EXPECT_EQ(Value(r.out, "Point Status (1-32)"), "10000000 00000000 00000000 00000001");

    r = cli({"test-mode", "off"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Value(r.out, "Test Mode"), "Normal");
    EXPECT_EQ(peer->read(1577, 1), (std::vector<std::uint16_t>{0}));
}

TEST_F(CliTcp, FlashProgramsAndVerifiesAndFindsADifference)
{
    std::vector<std::uint8_t> image(300);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = std::uint8_t(i * 7 + 3);
    WriteFile(dir.file("fw.hex"), HexFileText(image));

    const RunResult r = cli({"flash", dir.file("fw.hex")});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const auto lines = Lines(r.out);
    EXPECT_EQ(lines.front(), "Initalizing flash image");
    EXPECT_TRUE(Contains(r.out, "Loaded  300 bytes -  No errors"));
    EXPECT_TRUE(Contains(r.out, "Erasing Flash Sector  8\nFlash Erase Complete\nDownloading Flash Data\n"));
    EXPECT_EQ(lines.back(), "Flash Memory Verify OK ");

    // The module's data window holds the image.
    const auto words = peer->read(16385, 64);
    ASSERT_EQ(words.size(), 64u);
    for (std::size_t k = 0; k < 64; ++k) {
        EXPECT_EQ(words[k] & 0xFF, image[2 * k]) << k;
        EXPECT_EQ(words[k] >> 8, image[2 * k + 1]) << k;
    }

    image[130] ^= 0xFF;
    WriteFile(dir.file("other.hex"), HexFileText(image));
    const RunResult differs = cli({"flash", dir.file("other.hex"), "--verify-only"});
    EXPECT_EQ(differs.exitCode, 1);
    EXPECT_TRUE(Contains(differs.out, "Flash Verify Error ")) << differs.out;
    EXPECT_FALSE(Contains(differs.out, "Erasing")) << "verify only must not erase";

    const RunResult same = cli({"flash", "--verify-only", dir.file("fw.hex")});
    EXPECT_EQ(same.exitCode, 0) << same.out;
    EXPECT_EQ(Lines(same.out).back(), "Flash Memory Verify OK ");
}

TEST_F(CliTcp, AProgressBarShowsOnlyWhenStderrIsATerminal)
{
    const std::vector<std::string> args = {
        "--ip", "127.0.0.1", "--tcp", "--interval", "20", "upload", dir.file("site.csv")};
    RunOptions onTerminalOptions;
    onTerminalOptions.stderrOnTerminal = true;
    const RunResult onTerminal = RunCli(args, sim.port(), {}, onTerminalOptions);
    ASSERT_EQ(onTerminal.exitCode, 0) << onTerminal.err;
    EXPECT_TRUE(Contains(onTerminal.err, "\rUploading [")) << onTerminal.err;
    EXPECT_TRUE(Contains(onTerminal.err, "] 100%")) << onTerminal.err;
    // Wiped at the end: the last thing written returns to the line's start.
    EXPECT_EQ(onTerminal.err.back(), '\r');

    const RunResult onPipe = RunCli(args, sim.port());
    ASSERT_EQ(onPipe.exitCode, 0);
    EXPECT_TRUE(onPipe.err.empty()) << onPipe.err;
}

TEST_F(CliTcp, FlashRefusesAFileWithoutData)
{
    WriteFile(dir.file("empty.hex"), ":00000001FF\r\n");
    const RunResult r = cli({"--trace", "flash", dir.file("empty.hex")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.out, "No flash data to program")) << r.out;
    EXPECT_FALSE(Contains(r.err, " > tcp")) << r.err;
}

TEST_F(CliTcp, TracePrintsEveryFrameWithItsTime)
{
    const RunResult r = cli({"--trace", "status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{2}:\d{2}:\d{2}\.\d{3} > tcp unit 255: 03 00 C7 00 64)")))
        << lines[0];
    // Function 3, 200 data bytes.
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex(R"(\d{2}:\d{2}:\d{2}\.\d{3} < tcp unit 255: 03 C8( [0-9A-F]{2}){200})")))
        << lines[1];
}

TEST_F(CliTcp, TheTransportComesFromPlcdrvIniAsInTheWindow)
{
    const std::string tcpIni = "[GENERAL]\r\nDialogShow=0\r\n[Adapter.Object.1]\r\nEnabled=0\r\nType=2\r\n";
    WriteFile(dir.file("PLCDRV.INI"), tcpIni);
    const std::vector<std::string> base = {"--ip", "127.0.0.1", "--interval", "20", "status"};

    RunResult r = RunCli(base, sim.port(), {{"PLCDRV_INI", dir.file("PLCDRV.INI")}});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    std::vector<std::string> withIni = {"--ini", dir.file("PLCDRV.INI")};
    withIni.insert(withIni.end(), base.begin(), base.end());
    r = RunCli(withIni, sim.port());
    EXPECT_EQ(r.exitCode, 0) << r.err;

    withIni[1] = dir.file("missing.ini");
    r = RunCli(withIni, sim.port());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "no readable file")) << r.err;
}

} // namespace
} // namespace clitest
