// --help for the tool and each command, the man page beside the program,
// and the exit status of bad command lines (no module is needed for any).
#include "cli_test_support.h"
#include "command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clitest {
namespace {

// The commands as the help must list them, in order: name, synopsis, summary.
struct CommandRow {
    std::string name;
    std::string synopsis;
    std::string summary;
};

const std::vector<CommandRow>& ExpectedCommands()
{
    static const std::vector<CommandRow> rows = {
        {"upload", "FILE", "Upload the configuration into a settings file"},
        {"download", "FILE", "Download a settings file into the module"},
        {"events", "[--monitor] [--cycles N | --seconds S] [--log FILE]", "Run the SER event scan and print its lines"},
        {"status", "", "Read the status block once"},
        {"set-time", "", "Set the module's clock from this computer's"},
        {"stats", "", "Read NTP and run-time statistics"},
        {"test-mode", "on | off | send POINTS", "Switch test mode, or send test inputs"},
        {"load-hex", "FILE", "Load an Intel-HEX file offline"},
        {"flash", "FILE [--verify-only]", "Program and verify the module's flash"},
        {"collect", "[--journal LOCATION] [--seconds S]", "Store every module's events in the site journal"},
        {"journal",
            "[--journal LOCATION] [--from T] [--to T] [--module M] [--point P] [--grep TEXT] [--format text|csv|jsonl]",
            "Print the site journal in time order"},
    };
    return rows;
}

TEST(CliHelp, TheToolsHelpListsEveryCommandInOrder)
{
    std::vector<std::string> names;
    for (const auto& command : chronelcli::Commands())
        names.push_back(command.name.toStdString());
    std::vector<std::string> expectedNames;
    for (const CommandRow& row : ExpectedCommands())
        expectedNames.push_back(row.name);
    EXPECT_EQ(names, expectedNames);

    const RunResult r = RunCli({"--help"}, 0);
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: chronel-cli --ip A.B.C.D", 0), 0u) << r.out;
    std::size_t from = 0;
    for (const CommandRow& row : ExpectedCommands()) {
        const std::size_t at = r.out.find("\n  " + row.name + " " + row.synopsis, from);
        ASSERT_NE(at, std::string::npos) << row.name << " (in order)\n" << r.out;
        // The summary follows on the command's line, or on the next for a long synopsis.
        const std::size_t lineEnd = r.out.find('\n', at + 1);
        EXPECT_LT(r.out.find(row.summary, at), r.out.find('\n', lineEnd + 1)) << row.name;
        from = at + 1;
    }
    for (const char* option : {"--ip", "--jobs", "--interval", "--trace", "--tcp", "--ini", "Exit status"})
        EXPECT_TRUE(Contains(r.out, option)) << option;
}

TEST(CliHelp, EveryCommandHasItsHelpAndAManPageEntry)
{
    const std::string man = ReadFile(CHRONEL_CLI_MAN);
    ASSERT_FALSE(man.empty());
    for (const CommandRow& row : ExpectedCommands()) {
        SCOPED_TRACE(row.name);
        for (const std::vector<std::string>& args :
            {std::vector<std::string>{row.name, "--help"}, std::vector<std::string>{"help", row.name}}) {
            const RunResult r = RunCli(args, 0);
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_TRUE(Contains(r.out, row.name + (row.synopsis.empty() ? "" : " ") + row.synopsis + "\n\n")) << r.out;
        }
        EXPECT_TRUE(Contains(man, "\n.B " + row.name) || Contains(man, "\n.BI " + row.name)) << "man page";
    }
}

struct BadLine {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

// Test names, not bytes, in failure reports.
void PrintTo(const BadLine& c, std::ostream* os) { *os << c.name; }

class CliBadUsage : public testing::TestWithParam<BadLine> { };

TEST_P(CliBadUsage, ExitsWithTwoAndSaysWhy)
{
    const RunResult r = RunCli(GetParam().args, 0);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, GetParam().message)) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Table, CliBadUsage,
    testing::Values(BadLine{"NoCommand", {"--ip", "127.0.0.1"}, "no command given"},
        BadLine{"NoAddress", {"status"}, "--ip is required"},
        BadLine{"UnknownCommand", {"--ip", "127.0.0.1", "reboot"}, "unknown command reboot"},
        BadLine{"BadAddress", {"--ip", "127.0.0.999", "status"}, "not an IPv4 address"},
        BadLine{"BadInterval", {"--ip", "127.0.0.1", "--interval", "-5", "status"}, "--interval -5"},
        BadLine{"TcpWithIni", {"--ip", "127.0.0.1", "--tcp", "--ini", "x", "status"}, "exclude"},
        BadLine{"MissingFile", {"--ip", "127.0.0.1", "upload"}, "missing FILE"},
        BadLine{"BadPoints", {"--ip", "127.0.0.1", "test-mode", "send", "1,40"}, "no point number"},
        BadLine{"CyclesAndSeconds", {"--ip", "127.0.0.1", "events", "--cycles", "2", "--seconds", "3"}, "exclude"}),
    [](const testing::TestParamInfo<BadLine>& info) { return std::string(info.param.name); });

struct HexCase {
    const char* name;
    const char* text; // nullptr: no such file
    int exitCode;
    std::vector<std::string> lines; // expected on stdout, in order
};

// Test names, not bytes, in failure reports.
void PrintTo(const HexCase& c, std::ostream* os) { *os << c.name; }

class CliLoadHex : public testing::TestWithParam<HexCase> { };

TEST_P(CliLoadHex, PrintsTheLoadersLines)
{
    TempDir dir;
    const std::string path = dir.file("fw.hex");
    if (GetParam().text)
        WriteFile(path, GetParam().text);
    const RunResult r = RunCli({"load-hex", path}, 0);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
    std::vector<std::string> expected;
    for (const std::string& line : GetParam().lines)
        expected.push_back(line == "Opening" ? "Opening " + path : line);
    EXPECT_EQ(Lines(r.out), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CliLoadHex,
    testing::Values(HexCase{"Good", ":0400100001020304E2\r\n:020000021000EC\r\n:0200100041426B\r\n:00000001FF\r\n", 0,
                        {"Initalizing flash image", "Opening", "Reading flash data", "Loaded  6 bytes -  No errors",
                            "Closing flash data file"}},
        HexCase{"BadChecksum", ":0400100001020304E3\r\n:00000001FF\r\n", 2,
            {"Initalizing flash image", "Opening", "Reading flash data", "Checksum error - Line  1",
                "Flash file load error", "Closing flash data file"}},
        HexCase{"EveryBadLineReported", "0400100001020304E2XX\r\n:04\r\n:00000001FF\r\n", 2,
            {"Initalizing flash image", "Opening", "Reading flash data", "Invalid starting character - Line  1",
                "Length error - Line  2", "Flash file load error", "Closing flash data file"}},
        HexCase{"NoFile", nullptr, 2, {}}),
    [](const testing::TestParamInfo<HexCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace clitest
