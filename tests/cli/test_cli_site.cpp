// A whole site at once: modules run side by side, each outcome in the
// summary, a module that never answers costs only its own time; modules on
// one serial adapter take turns, modules on different adapters do not; a
// collection watches every module at once.
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace clitest {
namespace {

// `address` as a regular expression matches it.
std::string Escaped(const std::string& address) { return std::regex_replace(address, std::regex("\\."), "\\."); }

// The summary row of `address`: its result and its message, or nothing.
std::optional<std::smatch> SummaryRow(const std::string& out, const std::string& address, std::string& storage)
{
    storage = out;
    std::smatch match;
    const std::regex row("\n" + Escaped(address) + R"( +(done|failed|file error|not run) +([0-9.]+|-) +([^\n]*))");
    if (!std::regex_search(storage, match, row))
        return std::nullopt;
    return match;
}

// The position of `text` in `s`; npos fails the comparisons that use it.
std::size_t At(const std::string& s, const std::string& text)
{
    const std::size_t at = s.find(text);
    EXPECT_NE(at, std::string::npos) << "no \"" << text << "\" in:\n" << s;
    return at;
}

// The position of the first line of `s` that `line` matches; npos when none.
std::size_t FirstLine(const std::string& s, const std::string& line)
{
    std::smatch match;
    if (!std::regex_search(s, match, std::regex("(^|\n)" + line)))
        return std::string::npos;
    return std::size_t(match.position(0));
}

TEST(CliSite, DeadModuleFailsAloneAndTheSummaryTellsEveryOutcome)
{
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", "4", "--dead", "3"}), 0);
    TempDir dir;
    // A long reply window makes the dead module slow; the live ones must not
    // wait for it. Long enough, too, that each live module gets a reply within
    // it however busy the machine.
    const RunResult r =
        RunCli({"--tcp", "--trace", "--interval", "20", "--timeout", "2000", "--ip", "127.0.0.1", "--ip", "127.0.0.2",
                   "--ip", "127.0.0.3", "--ip", "127.0.0.4", "upload", dir.file("s.csv")},
            sim.port());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    // The dead module's first reply window, as the trace shows it open and close.
    const std::size_t opened = FirstLine(r.err, R"(127\.0\.0\.3: \S+ > tcp unit)");
    const std::size_t closed = FirstLine(r.err, R"(127\.0\.0\.3: \S+ ! )");
    ASSERT_LT(opened, closed) << r.err;
    for (const char* live : {"127.0.0.1", "127.0.0.2", "127.0.0.4"}) {
        EXPECT_EQ(ParseSettings(ReadFile(dir.file(std::string("s.") + live + ".csv"))).size(), 51u) << live;
        std::string text;
        const auto row = SummaryRow(r.out, live, text);
        ASSERT_TRUE(row) << r.out;
        EXPECT_EQ((*row)[1], "done");
        EXPECT_EQ((*row)[3], std::string("Saved ") + dir.file(std::string("s.") + live + ".csv"));
        // Every live module is done before the dead one gives up, and none
        // waits while the dead one waits for its first reply: each gets a
        // reply inside that window unless it was done before it opened.
        const std::size_t done = At(r.err, std::string(live) + ": done after");
        EXPECT_LT(done, At(r.err, "127.0.0.3: failed after"));
        if (done > opened) {
            const std::string window = r.err.substr(opened, closed - opened);
            EXPECT_NE(FirstLine(window, Escaped(live) + R"(: \S+ < tcp unit)"), std::string::npos)
                << live << " waited for the dead module:\n"
                << window;
        }
    }
    std::string text;
    const auto dead = SummaryRow(r.out, "127.0.0.3", text);
    ASSERT_TRUE(dead) << r.out;
    EXPECT_EQ((*dead)[1], "failed");
    EXPECT_GE(std::stod((*dead)[2]), 3.0) << "the dead module's reply windows";
    EXPECT_EQ((*dead)[3], "timed out (Communications error #  10060)");
    EXPECT_EQ(ReadFile(dir.file("s.127.0.0.3.csv")), "");
    // On a pipe each line names its module.
    EXPECT_TRUE(Contains(r.out, "127.0.0.2: Saved ")) << r.out;
    EXPECT_TRUE(Contains(r.err, "127.0.0.3: The upload sequence failed\n")) << r.err;
}

TEST(CliSite, SiteFileNamesAppearInTheSummaryAndAllDoneExitsZero)
{
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", "2"}), 0);
    TempDir dir;
    WriteFile(dir.file("site.txt"), "127.0.0.1  North bay\n127.0.0.2\n");
    const RunResult r = RunCli({"--tcp", "--ip", "@" + dir.file("site.txt"), "stats"}, sim.port());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\nAddress +Name +Result +Seconds +Message\n)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n127\.0\.0\.1 +North bay +done +[0-9.]+ *\n)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n127\.0\.0\.2 +done +[0-9.]+ *\n)"))) << r.out;
}

TEST(CliSite, TraceLinesNameTheirModule)
{
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", "2", "--dead", "2"}), 0);
    const RunResult r = RunCli({"--tcp", "--trace", "--ip", "127.0.0.1", "--ip", "127.0.0.2", "status"}, sim.port());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"((^|\n)127\.0\.0\.1: \S+ < tcp unit 255: 03 C8)"))) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"((^|\n)127\.0\.0\.2: \S+ > tcp unit 255: 03 00 C7 00 64)")))
        << r.err;
    EXPECT_FALSE(Contains(r.err, "127.0.0.1: chronel-cli:")) << r.err;
    // The dead module's message in the summary is its failure, not a frame.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n127\.0\.0\.2 +failed +[0-9.]+ +timed out)"))) << r.out;
}

TEST(CliSite, EndlessScansAndCollectionsNeedEveryModuleRunning)
{
    const std::vector<std::string> site{
        "--tcp", "--jobs", "2", "--ip", "127.0.0.1", "--ip", "127.0.0.2", "--ip", "127.0.0.3"};
    auto with = [&](std::vector<std::string> words) {
        words.insert(words.begin(), site.begin(), site.end());
        return words;
    };
    RunResult r = RunCli(with({"events"}), 0);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "events runs until Ctrl-C, and only 2 of the 3 modules would ever start")) << r.err;
    // However long it runs.
    TempDir dir;
    r = RunCli(with({"collect", "--journal", dir.file("j.sqlite"), "--seconds", "5"}), 0);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(
        Contains(r.err, "collect watches every module at once, and only 2 of the 3 modules would run at a time"))
        << r.err;
}

// More modules than --jobs takes by default all start before the first
// one's collection ends.
TEST(CliSite, ACollectionWatchesEveryModuleAtOnce)
{
    constexpr int Modules = 70;
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", std::to_string(Modules)}), 0);
    TempDir dir;
    std::string site;
    for (int k = 1; k <= Modules; ++k)
        site += "127.0.0." + std::to_string(k) + "\n";
    WriteFile(dir.file("site.txt"), site);
    RunOptions options;
    options.timeoutMs = 60000;
    const RunResult r = RunCli(
        {"--tcp", "--ip", "@" + dir.file("site.txt"), "collect", "--journal", dir.file("j.sqlite"), "--seconds", "3"},
        sim.port(), {}, options);
    ASSERT_FALSE(r.timedOut) << r.err;
    const std::size_t firstEnd =
        std::min(FirstLine(r.err, R"(\S+: done after)"), FirstLine(r.err, R"(\S+: failed after)"));
    ASSERT_NE(firstEnd, std::string::npos) << r.err;
    for (int k = 1; k <= Modules; ++k) {
        const std::string address = "127.0.0." + std::to_string(k);
        EXPECT_LT(At(r.err, address + ": started\n"), firstEnd) << address << " waited for another module to end";
        std::string text;
        const auto row = SummaryRow(r.out, address, text);
        ASSERT_TRUE(row) << r.out;
        EXPECT_EQ((*row)[1], "done") << r.err;
    }
}

TEST(CliSite, ModulesOnOneSerialAdapterTakeTurnsWhileAnotherAdapterRunsAlongside)
{
    Sim first, second;
    ASSERT_GT(first.startTcp({"--rtu", "pty"}), 0);
    ASSERT_GT(second.startTcp({"--rtu", "pty"}), 0);
    ModbusPeer a("127.0.0.1", first.port()), b("127.0.0.1", second.port());
    ASSERT_TRUE(a.writeText(39, "Line one", 16));
    ASSERT_TRUE(b.writeText(39, "Line two", 16));
    TempDir dir;
    WriteFile(dir.file("PLCDRV.INI"), SerialIniText({first.ptyPath(), second.ptyPath()}));
    // Two modules behind adapter 0's line, one behind adapter 1's.
    WriteFile(dir.file("site.txt"), "127.0.0.1\n127.0.0.2\n127.0.0.3,adapter=1\n");
    const RunResult r = RunCli({"--ip", "@" + dir.file("site.txt"), "--ini", dir.file("PLCDRV.INI"), "--interval", "20",
                                   "upload", dir.file("s.csv")},
        0);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ParseSettings(ReadFile(dir.file("s.127.0.0.1.csv"))).at("Module Name").at(0), "Line one");
    EXPECT_EQ(ParseSettings(ReadFile(dir.file("s.127.0.0.2.csv"))).at("Module Name").at(0), "Line one");
    EXPECT_EQ(ParseSettings(ReadFile(dir.file("s.127.0.0.3.csv"))).at("Module Name").at(0), "Line two");
    // The second module on adapter 0 starts once the first is done; the
    // module on adapter 1 has started before that.
    EXPECT_LT(At(r.err, "127.0.0.1: done after"), At(r.err, "127.0.0.2: started"));
    EXPECT_LT(At(r.err, "127.0.0.3: started"), At(r.err, "127.0.0.1: done after"));
}

TEST(CliSite, TerminalShowsOneLinePerRunningModule)
{
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", "2"}), 0);
    TempDir dir;
    RunOptions options;
    options.stderrOnTerminal = true;
    const RunResult r =
        RunCli({"--tcp", "--ip", "127.0.0.1", "--ip", "127.0.0.2", "--interval", "20", "upload", dir.file("s.csv")},
            sim.port(), {}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Both modules' lines stand in the display at once: the second line
    // is drawn below the first, and the display is taken back line by line.
    EXPECT_TRUE(
        std::regex_search(r.err, std::regex(R"(127\.0\.0\.1 +[0-9]+ s  [^\n\r]*\r?\n127\.0\.0\.2 +[0-9]+ s  )")))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "\x1b[1A\x1b[2K")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Uploading [")) << r.err;
    EXPECT_FALSE(Contains(r.err, "started")) << "a terminal gets the display, not the plain lines";
}

} // namespace
} // namespace clitest
