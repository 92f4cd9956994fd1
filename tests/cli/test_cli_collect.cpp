// collect and journal: every event of every module in the journal exactly
// once, with the module's point texts, also when the collector is killed
// and started again; a second client draining the module is noticed.
#include "cli_test_support.h"

#include "support/postgres_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace clitest {
namespace {

// A script of `count` input changes, one every `stepMs`, over points 1 … 4.
std::string EventScript(int count, int stepMs)
{
    std::string script;
    for (int i = 0; i < count; ++i)
        script += std::to_string(0.5 + i * stepMs / 1000.0) + " " + std::to_string(1 + i % 4) + " " +
            std::to_string((i / 4) % 2 == 0 ? 1 : 0) + "\n";
    return script;
}

struct PointRow {
    std::string module, time, point, state;
};

// The journal's rows with a point, from its CSV.
std::vector<PointRow> PointRows(const std::string& journal)
{
    const RunResult r = RunCli({"journal", "--journal", journal, "--format", "csv"}, 0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<PointRow> rows;
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_FALSE(lines.empty());
    if (lines.empty())
        return rows;
    EXPECT_EQ(lines.front(),
        "module,name,module_time,point,state,text,quality,received,date_source,module_id,marks,utc_time,zone,"
        "clock_source,clock_quality,clock_offset_ms,clock_marks");
    const std::regex row(R"(^([0-9.]+),[^,]*,([0-9T:.-]+),([0-9]+),([^,]*),)");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        if (std::regex_search(lines[i], m, row) && m[3] != "0")
            rows.push_back({m[1], m[2], m[3], m[4]});
    }
    return rows;
}

class CliCollect : public testing::Test {
protected:
    void startSite(int events, int stepMs)
    {
        WriteFile(dir.file("events.txt"), EventScript(events, stepMs));
        ASSERT_GT(sim.startTcp({"--modules", "2", "--events", "script:" + dir.file("events.txt")}), 0);
        ModbusPeer peer("127.0.0.2", sim.port());
        ASSERT_TRUE(peer.writeText(429 + 16 * 1, "Breaker 2", 32));
        WriteFile(dir.file("site.txt"), "127.0.0.1  North\n127.0.0.2\n");
    }

    RunResult collect(const std::string& seconds)
    {
        return RunCli({"--tcp", "--timeout", "5000", "--ip", "@" + dir.file("site.txt"), "collect", "--journal",
                          dir.file("j.sqlite"), "--seconds", seconds},
            sim.port());
    }

    // collect until `rows` point events are stored (SIGINT), at most 60 s.
    RunResult collectUntil(int rows)
    {
        RunOptions options;
        options.timeoutMs = 60000;
        options.interruptWhen = [&] { return JournalRowCount(dir.file("j.sqlite"), "point > 0") >= rows; };
        return RunCli({"--tcp", "--timeout", "5000", "--ip", "@" + dir.file("site.txt"), "collect", "--journal",
                          dir.file("j.sqlite")},
            sim.port(), {}, options);
    }

    // Every scripted event of each module once: as many rows as events, no
    // two for one module time and point.
    void expectEveryEventOnce(int events)
    {
        const std::vector<PointRow> rows = PointRows(dir.file("j.sqlite"));
        for (const char* module : {"127.0.0.1", "127.0.0.2"}) {
            std::set<std::pair<std::string, std::string>> seen;
            int count = 0;
            for (const PointRow& r : rows)
                if (r.module == module) {
                    ++count;
                    EXPECT_TRUE(seen.insert({r.time, r.point}).second) << module << " twice: " << r.time;
                }
            EXPECT_EQ(count, events) << module;
        }
    }

    TempDir dir;
    Sim sim;
};

TEST_F(CliCollect, EveryEventOnceInTimeOrderWithTheModulesPointTexts)
{
    startSite(40, 50);
    const RunResult r = collectUntil(2 * 40);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectEveryEventOnce(40);
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex(R"(\n127\.0\.0\.1 +North +done +[0-9.]+ +Collected [0-9]+ events)")))
        << r.out;

    const std::vector<PointRow> rows = PointRows(dir.file("j.sqlite"));
    EXPECT_TRUE(
        std::is_sorted(rows.begin(), rows.end(), [](const PointRow& a, const PointRow& b) { return a.time < b.time; }));
    // The module's own texts: its description of point 2, its Off and On.
    const RunResult json = RunCli(
        {"journal", "--journal", dir.file("j.sqlite"), "--module", "127.0.0.2", "--point", "2", "--format", "jsonl"},
        0);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(Lines(json.out).size(), 10u);
    EXPECT_TRUE(Contains(json.out, R"("point_description":"Breaker 2")")) << json.out;
    const RunResult text =
        RunCli({"journal", "--journal", dir.file("j.sqlite"), "--module", "North", "--grep", "input point  3"}, 0);
    ASSERT_EQ(Lines(text.out).size(), 11u) << text.out;
    EXPECT_EQ(Lines(text.out)[0], "# Module times (no zone declared); events in module-time order.");
    EXPECT_TRUE(std::regex_search(text.out, std::regex(R"(\nNorth  \S+  [0-9:.]+ +. +.  +Input Point  3  On)")))
        << text.out;

    // Collected again: nothing is left and nothing is stored twice.
    ASSERT_EQ(collect("2").exitCode, 0);
    expectEveryEventOnce(40);
}

// A supervisor's restarts: the same command line killed without warning
// while it drains a backlog, right after a block was committed, and started
// again. The modules' events come over 15 s, so that six restarts of a
// sanitizer build on a busy machine still find some left to collect.
TEST_F(CliCollect, KilledWhileDrainingAndStartedAgainStoresEveryEventExactlyOnce)
{
    startSite(300, 50);
    int kills = 0;
    for (int run = 0; run < 6; ++run) {
        const int before = std::max(0, JournalRowCount(dir.file("j.sqlite")));
        RunOptions options;
        options.timeoutMs = 30000;
        options.interruptSignal = SIGKILL;
        options.interruptWhen = [&] { return JournalRowCount(dir.file("j.sqlite")) > before; };
        const RunResult killed = RunCli({"--tcp", "--timeout", "5000", "--ip", "@" + dir.file("site.txt"), "collect",
                                            "--journal", dir.file("j.sqlite")},
            sim.port(), {}, options);
        kills += killed.exitCode == 128 + SIGKILL ? 1 : 0;
    }
    EXPECT_EQ(kills, 6);
    EXPECT_LT(JournalRowCount(dir.file("j.sqlite"), "point > 0"), 600);
    ASSERT_EQ(collectUntil(600).exitCode, 0);
    expectEveryEventOnce(300);
}

// A module with a steady trickle of events is scanned quicker than an idle
// one, but at a steady rate: the poll's own ticks must not add chains of
// requests that grow over the run.
TEST(CliCollectPace, ASteadyTrickleKeepsASteadyRequestRate)
{
    Sim sim;
    ASSERT_GT(sim.startTcp({"--events", "random:2"}), 0);
    TempDir dir;
    const RunResult r = RunCli(
        {"--tcp", "--trace", "--ip", "127.0.0.1", "collect", "--journal", dir.file("j.sqlite"), "--seconds", "10"},
        sim.port(), {{"TZ", "UTC"}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, int> perSecond;
    for (const std::string& line : Lines(r.err))
        if (line.size() > 13 && line.compare(12, 3, " > ") == 0)
            ++perSecond[line.substr(0, 8)];
    ASSERT_GE(perSecond.size(), 8u) << r.err;
    // The last seconds: one request per 250 ms, plus the drains of two
    // events a second, is about eight.
    auto second = std::next(perSecond.rbegin()); // the very last one is cut short
    for (int i = 0; i < 3; ++i, ++second)
        EXPECT_LE(second->second, 20) << "requests in second " << second->first;
}

// Over a lossy link the point table is still read, so the rows carry the
// module's texts.
TEST_F(CliCollect, PointTextsAreReadOverALossyLink)
{
    WriteFile(dir.file("events.txt"), EventScript(12, 100));
    ASSERT_GT(sim.startTcp({"--events", "script:" + dir.file("events.txt"), "--drop-request-every", "7",
                  "--drop-reply-every", "11"}),
        0);
    RunOptions options;
    options.timeoutMs = 60000;
    options.interruptWhen = [&] { return JournalRowCount(dir.file("j.sqlite"), "state_text <> ''") >= 12; };
    const RunResult r =
        RunCli({"--tcp", "--ip", "127.0.0.1", "collect", "--journal", dir.file("j.sqlite")}, sim.port(), {}, options);
    EXPECT_FALSE(Contains(r.err, "the point table was not read")) << r.err;
    const RunResult rows = RunCli({"journal", "--journal", dir.file("j.sqlite"), "--format", "csv"}, 0);
    int withState = 0;
    for (const std::string& line : Lines(rows.out))
        if (std::regex_search(line, std::regex(R"(^127\.0\.0\.1,[^,]*,[^,]*,[1-4],O(n|ff),)")))
            ++withState;
    EXPECT_EQ(withState, 12) << rows.out;
}

TEST_F(CliCollect, AnotherClientDrainingTheModuleIsNoticed)
{
    // A backlog of a thousand events. Another client watches the module's
    // count of pending events (word 5 of the event block, register 106) and,
    // once it sees the collector draining, acknowledges blocks it never read.
    startSite(1000, 1);
    std::atomic<bool> stop{false};
    std::thread thief([&] {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
        modbus_set_slave(ctx, 255);
        int last = -1;
        bool draining = false;
        if (modbus_connect(ctx) == 0)
            while (!stop) {
                std::uint16_t pending = 0;
                if (modbus_read_registers(ctx, 105, 1, &pending) == 1) {
                    draining = draining || (last >= 0 && int(pending) < last);
                    last = pending;
                }
                if (draining)
                    modbus_write_bit(ctx, 1, 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        modbus_close(ctx);
        modbus_free(ctx);
    });
    const RunResult r = collect("6");
    stop = true;
    thief.join();
    EXPECT_TRUE(std::regex_search(r.err,
        std::regex(R"(127\.0\.0\.1: [0-9]+ events vanished from the module between two reads: is another client)")))
        << r.err;
}

// Collectors on two machines, here two processes, each with its own module,
// sharing one journal on a PostgreSQL server.
TEST(CliCollectPostgres, TwoCollectorsShareOneJournal)
{
    chronel::test::PostgresServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    ASSERT_TRUE(server.createDatabase(QStringLiteral("site"), &error)) << error.toStdString();
    const std::string url = server.url(QStringLiteral("site")).toStdString();

    TempDir dir;
    WriteFile(dir.file("events.txt"), EventScript(20, 50));
    Sim sim;
    ASSERT_GT(sim.startTcp({"--modules", "2", "--events", "script:" + dir.file("events.txt")}), 0);
    const auto collect = [&](const char* address) {
        RunOptions options;
        options.timeoutMs = 60000;
        options.interruptWhen = [&] {
            return JournalRowCount(url, "point > 0 AND module = '" + std::string(address) + "'") >= 20;
        };
        return RunCli({"--tcp", "--ip", address, "collect", "--journal", url}, sim.port(), {}, options);
    };
    RunResult second;
    std::thread other([&] { second = collect("127.0.0.2"); });
    const RunResult first = collect("127.0.0.1");
    other.join();
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_EQ(second.exitCode, 0) << second.err;

    const RunResult csv = RunCli({"journal", "--journal", url, "--format", "csv"}, 0);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    int points[2] = {0, 0};
    for (const std::string& line : Lines(csv.out))
        for (int m = 0; m < 2; ++m)
            if (std::regex_search(line, std::regex("^127\\.0\\.0\\." + std::to_string(m + 1) + ",[^,]*,[^,]*,[1-4],")))
                ++points[m];
    EXPECT_EQ(points[0], 20) << csv.out;
    EXPECT_EQ(points[1], 20) << csv.out;
}

TEST(CliJournal, NamesWhatIsWrong)
{
    TempDir dir;
    const RunResult missing = RunCli({"journal", "--journal", dir.file("none.sqlite")}, 0);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.err, "none.sqlite: no journal there")) << missing.err;
    const RunResult format = RunCli({"journal", "--format", "xml"}, 0);
    EXPECT_EQ(format.exitCode, 2);
    EXPECT_TRUE(Contains(format.err, "--format")) << format.err;
    const RunResult url = RunCli({"--ip", "127.0.0.1", "collect", "--journal", "mysql://x/y"}, 0);
    EXPECT_EQ(url.exitCode, 2);
    EXPECT_TRUE(Contains(url.err, "mysql://x/y")) << url.err;
}

} // namespace
} // namespace clitest
