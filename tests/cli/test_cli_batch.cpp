// Several modules in one run, and what the tool says and returns when the
// module does not answer.
#include "cli_test_support.h"

#include <gtest/gtest.h>

namespace clitest {
namespace {

TEST(CliBatch, TwoModulesEachGetTheirOwnFile)
{
    // Two simulated modules on one port, at two loopback addresses (the
    // tests run in a private network namespace).
    Sim first, second;
    ASSERT_GT(first.startTcp({"--listen", "127.0.0.2"}), 0);
    ASSERT_GT(second.startTcp({"--listen", "127.0.0.3", "--tcp-port", std::to_string(first.port())}), 0);
    ModbusPeer a("127.0.0.2", first.port()), b("127.0.0.3", first.port());
    ASSERT_TRUE(a.connected());
    ASSERT_TRUE(b.connected());
    ASSERT_TRUE(a.writeText(39, "North", 16));
    ASSERT_TRUE(b.writeText(39, "South", 16));

    TempDir dir;
    const RunResult r = RunCli({"--tcp", "--interval", "20", "--jobs", "1", "--ip", "127.0.0.2", "--ip", "127.0.0.3",
                                   "upload", dir.file("site.csv")},
        first.port());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto north = ParseSettings(ReadFile(dir.file("site.127.0.0.2.csv")));
    const auto south = ParseSettings(ReadFile(dir.file("site.127.0.0.3.csv")));
    EXPECT_EQ(north.at("Module Name").at(0), "North");
    EXPECT_EQ(south.at("Module Name").at(0), "South");
    EXPECT_EQ(ReadFile(dir.file("site.csv")), "") << "a batch writes no unaddressed file";
    const auto headA = r.out.find("Module 127.0.0.2\n");
    const auto headB = r.out.find("Module 127.0.0.3\n");
    ASSERT_NE(headA, std::string::npos);
    ASSERT_NE(headB, std::string::npos);
    EXPECT_LT(headA, headB);

    // One module gone: the other is still served, the run says it failed.
    second.stop();
    const RunResult partly = RunCli(
        {"--tcp", "--interval", "20", "--jobs", "1", "--ip", "127.0.0.3", "--ip", "127.0.0.2", "status"}, first.port());
    EXPECT_EQ(partly.exitCode, 1);
    EXPECT_TRUE(Contains(partly.out, "Module 127.0.0.2\nSER Time:")) << partly.out;
    EXPECT_TRUE(Contains(partly.err, "Communications error")) << partly.err;
}

struct StoppedCase {
    const char* name;
    std::vector<std::string> args; // after the global options; FILE stands for the prepared file
    const char* message;           // expected on stderr (or stdout for events)
    bool onStdout = false;
};

// Test names, not bytes, in failure reports.
void PrintTo(const StoppedCase& c, std::ostream* os) { *os << c.name; }

class CliStoppedModule : public testing::TestWithParam<StoppedCase> {
protected:
    static void SetUpTestSuite()
    {
        dir = new TempDir;
        Sim sim;
        ASSERT_GT(sim.startTcp(), 0);
        port = sim.port();
        ASSERT_EQ(
            RunCli({"--tcp", "--interval", "20", "--ip", "127.0.0.1", "upload", dir->file("site.csv")}, port).exitCode,
            0);
        WriteFile(dir->file("fw.hex"), HexFileText(std::vector<std::uint8_t>(200, 0x5A)));
        sim.stop(); // nothing listens on the port any more
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }

    static TempDir* dir;
    static int port;
};

TempDir* CliStoppedModule::dir = nullptr;
int CliStoppedModule::port = 0;

TEST_P(CliStoppedModule, FailsWithStatusOneAndTheWindowsMessage)
{
    std::vector<std::string> args = {"--tcp", "--interval", "20", "--ip", "127.0.0.1"};
    for (const std::string& a : GetParam().args)
        args.push_back(a == "SETTINGS" ? dir->file("site.csv") : a == "HEX" ? dir->file("fw.hex") : a);
    const RunResult r = RunCli(args, port);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(GetParam().onStdout ? r.out : r.err, GetParam().message)) << r.out << r.err;
    // Module, reason in words, the window's text for the code.
    EXPECT_TRUE(Contains(r.err,
        "chronel-cli: 127.0.0.1:" + std::to_string(port) + ": connection refused (Communications error #  10061)\n"))
        << r.err;
}

INSTANTIATE_TEST_SUITE_P(Commands, CliStoppedModule,
    testing::Values(StoppedCase{"Upload", {"upload", "/dev/null"}, "The upload sequence failed"},
        StoppedCase{"Download", {"download", "SETTINGS"}, "The download sequence failed"},
        StoppedCase{"Events", {"events", "--cycles", "1"}, "  Communications error # ", true},
        StoppedCase{"EventsSeconds", {"events", "--seconds", "0.2"}, "  Communications error # ", true},
        StoppedCase{"Status", {"status"}, "Communications error # "},
        StoppedCase{"SetTime", {"set-time"}, "Communications error # "},
        StoppedCase{"Stats", {"stats"}, "Communications error # "},
        StoppedCase{"TestMode", {"test-mode", "on"}, "Communications error # "},
        StoppedCase{"Flash", {"flash", "HEX"}, "Flash Memory Communications Error ", true},
        StoppedCase{"Verify", {"flash", "--verify-only", "HEX"}, "Flash Memory Communications Error ", true}),
    [](const testing::TestParamInfo<StoppedCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace clitest
