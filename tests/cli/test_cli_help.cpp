// --help for the tool and each command, the man page beside the program,
// the bash completion the program writes, and the exit status of bad
// command lines (no module is needed for any).
#include "cli_options.h"
#include "cli_test_support.h"
#include "command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
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
        {"collect", "[--journal LOCATION] [--idle-interval MS] [--seconds S]",
            "Store every module's events in the site journal"},
        {"journal",
            "[audit [--verify]] [--journal LOCATION] [--from T] [--to T] [--module M] [--point P] [--grep TEXT] "
            "[--chatter] "
            "[--chatter-changes N] [--chatter-seconds T] [--max-offset S] "
            "[--format text|csv|jsonl|comtrade] [--out DIR] [--comtrade-format ascii|binary] [--station NAME]",
            "Print the site journal in time order"},
        {"clocks", "[--journal LOCATION] [--hours H]", "Show how each module's clock kept time"},
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

// An option the parser takes is one the man page explains: every declared
// option, global or a command's, by its name.
TEST(CliHelp, TheManPageNamesEveryDeclaredOption)
{
    std::string man = ReadFile(CHRONEL_CLI_MAN);
    ASSERT_FALSE(man.empty());
    for (std::size_t at = man.find("\\-"); at != std::string::npos; at = man.find("\\-", at))
        man.erase(at, 1);
    const auto named = [&man](const std::string& name) {
        for (std::size_t at = man.find(name); at != std::string::npos; at = man.find(name, at + 1)) {
            const char next = at + name.size() < man.size() ? man[at + name.size()] : ' ';
            if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-')
                return true;
        }
        return false;
    };
    const auto check = [&named](const chronel::OptionTable& table, const std::string& where) {
        for (const auto& option : table.options()) {
            if (!option.isOperand() && option.name != QLatin1String("--help")) {
                EXPECT_TRUE(named(option.name.toStdString())) << where << ": " << option.name.toStdString();
            }
        }
    };
    chronelcli::CliOptions scratch;
    check(chronelcli::GlobalOptions(scratch), "global");
    for (const auto& info : chronelcli::Commands())
        check(info.create()->declaration().words, info.name.toStdString());
}

struct CompletionCase {
    const char* name;
    std::vector<std::string> words; // as bash splits the line; the last under the cursor ("@" the test's folder)
    std::vector<std::string> offered;
};

// Test names, not bytes, in failure reports.
void PrintTo(const CompletionCase& c, std::ostream* os) { *os << c.name; }

class CliCompletion : public testing::TestWithParam<CompletionCase> { };

// The completion chronel-cli writes, sourced into bash as the package
// installs it, asked for one line.
TEST_P(CliCompletion, OffersWhatTheCommandLineTakesThere)
{
    TempDir dir;
    WriteFile(dir.file("site.csv"), "");
    WriteFile(dir.file("notes.txt"), "");
    std::filesystem::create_directory(dir.file("shots"));
    const RunResult generated = RunCli({"--bash-completion"}, 0);
    ASSERT_EQ(generated.exitCode, 0) << generated.err;
    WriteFile(dir.file("chronel-cli.bash"), generated.out);

    std::string array;
    for (std::string word : GetParam().words) {
        if (word.rfind('@', 0) == 0)
            word = dir.path() + word.substr(1);
        array += " '" + word + "'";
    }
    const std::string script = "source \"$1\" && COMP_WORDS=(" + array +
        ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _chronel_cli && printf '%s\\n' \"${COMPREPLY[@]}\"";
    const RunResult r = clitest::Run("/bin/bash", {"-c", script, "bash", dir.file("chronel-cli.bash")}, {});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> offered;
    for (const std::string& line : Lines(r.out))
        if (!line.empty())
            offered.push_back(line.rfind(dir.path(), 0) == 0 ? "@" + line.substr(dir.path().size()) : line);
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, GetParam().offered) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Table, CliCompletion,
    testing::Values(
        CompletionCase{"CommandNames", {"chronel-cli", "--ip", "127.0.0.1", "s"}, {"set-time", "stats", "status"}},
        CompletionCase{"GlobalOptions", {"chronel-cli", "--t"}, {"--tcp", "--timeout", "--trace", "--tz"}},
        CompletionCase{"TheBuildsOwnOptionIsNotOffered", {"chronel-cli", "--b"}, {}},
        CompletionCase{"CommandOptions", {"chronel-cli", "flash", "f.hex", "--v"}, {"--verify-only"}},
        CompletionCase{
            "GlobalOptionsAfterTheCommand", {"chronel-cli", "events", "--i"}, {"--ini", "--interval", "--ip"}},
        CompletionCase{"ValueWords", {"chronel-cli", "journal", "--format", ""}, {"comtrade", "csv", "jsonl", "text"}},
        CompletionCase{"JournalsOperand", {"chronel-cli", "journal", "a"}, {"audit"}},
        CompletionCase{"ChatterOptions", {"chronel-cli", "journal", "--chat"},
            {"--chatter", "--chatter-changes", "--chatter-seconds"}},
        CompletionCase{"ValueAfterEqualsSplitByBash", {"chronel-cli", "journal", "--format", "=", "j"}, {"jsonl"}},
        CompletionCase{"ValueAfterEqualsInOneWord", {"chronel-cli", "journal", "--format=cs"}, {"--format=csv"}},
        CompletionCase{"NothingForAnAddress", {"chronel-cli", "--ip", ""}, {}},
        CompletionCase{"FilesForAFileValue", {"chronel-cli", "--ini", "@/s"}, {"@/shots", "@/site.csv"}},
        // --interval's value is no command: test-mode is, and its first operand completes.
        CompletionCase{"ValuesAreSkippedToFindTheCommand", {"chronel-cli", "--interval", "20", "test-mode", ""},
            {"off", "on", "send"}},
        CompletionCase{"OperandsByPosition", {"chronel-cli", "test-mode", "send", ""}, {}},
        CompletionCase{"FileOperand", {"chronel-cli", "upload", "@/n"}, {"@/notes.txt"}},
        CompletionCase{"HelpTakesCommandNames", {"chronel-cli", "help", "co"}, {"collect"}}),
    [](const testing::TestParamInfo<CompletionCase>& info) { return std::string(info.param.name); });

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
        BadLine{"HelpOnAnUnknownCommand", {"help", "reboot"}, "unknown command reboot"},
        // The value of --grep, not a request for help.
        BadLine{
            "HelpAsAValue", {"journal", "--journal", "/nonexistent/j.sqlite", "--grep", "--help"}, "no journal there"},
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
