// Every event once, at its true time, for each of the four buffer types,
// whatever happens between reads: the collector stopped and started between
// blocks, killed between the commit of a block and its acknowledge (with the
// acknowledge swallowed, and with only its reply lost), and a journal that
// refuses blocks. The blocks hold genuine repeats within a block and across
// blocks, and a record whose time cannot be a time.
//
// The module's clock reads 2026-03-29 02:30, an hour that does not exist in
// Europe/Berlin, and the collector runs in Europe/Berlin or in +05:30: module
// times must never meet the collector's zone.
#include "cli_test_support.h"
#include "scripted_module.h"

#include "support/block_builder.h"
#include "support/qt_printers.h"

#include "core/events/event_decoder.h"
#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace clitest {
namespace {

using chronel::EventBlockWords;
using chronel::test::BlockBuilder;

const QDateTime ModuleClock(QDate(2026, 3, 29), QTime(2, 30, 0), QTimeZone::utc());
constexpr int ModuleId = 77;
// A row filed at the module's clock, not at a time of its record.
const QString AtTheClock = QStringLiteral("clock");

struct ExpectedRow {
    QString time; // the module time, or AtTheClock
    int point;
    QString textEnd;
    QString marks;
};

struct TypeCase {
    int type;
    const char* zone;
    std::vector<EventBlockWords> blocks;
    std::vector<ExpectedRow> rows;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << "type " << c.type; }

// Seconds since 1984 of a module time on ModuleClock's day.
qint32 Seconds(int hour, int minute, int second)
{
    const QDateTime epoch(QDate(1984, 1, 1), QTime(0, 0), QTimeZone::utc());
    return qint32(epoch.secsTo(QDateTime(ModuleClock.date(), QTime(hour, minute, second), QTimeZone::utc())));
}

EventBlockWords Block(BlockBuilder builder) { return builder.word(0, ModuleId); }

TypeCase Type0()
{
    return {0, "Europe/Berlin",
        {
            // Before any date record: dated by the module's clock.
            Block(BlockBuilder(0, 2).type0Time(0, 1, 1, 1, 2, 29, 58, 100).type0Time(1, 6, 1, 0, 2, 29, 58, 200)),
            // A date record, then four changes of point 5 in one millisecond.
            Block(BlockBuilder(0, 5)
                      .type0Date(0, 13, 3, 20, 2026, 10)
                      .type0Time(1, 1, 5, 1, 10, 15, 0, 500)
                      .type0Time(2, 1, 5, 0, 10, 15, 0, 500)
                      .type0Time(3, 1, 5, 1, 10, 15, 0, 500)
                      .type0Time(4, 1, 5, 0, 10, 15, 0, 500)),
            // The last record again, then minute 63.
            Block(BlockBuilder(0, 2).type0Time(0, 1, 5, 0, 10, 15, 0, 500).type0Time(1, 1, 6, 1, 10, 63, 0, 0)),
            // Dated by the date record the journal kept over a restart.
            Block(BlockBuilder(0, 1).type0Time(0, 1, 2, 1, 10, 16, 0, 0)),
        },
        {
            {"2026-03-29T02:29:58.100", 1, "Input Point  1  On", ""},
            {"2026-03-29T02:29:58.200", 0, "Power on Reset", ""},
            {"2026-03-20T10:00:00.000", 0, "Hourly Time Update", ""},
            {"2026-03-20T10:15:00.500", 5, "Input Point  5  On", ""},
            {"2026-03-20T10:15:00.500", 5, "Input Point  5  Off", ""},
            {"2026-03-20T10:15:00.500", 5, "Input Point  5  On", ""},
            {"2026-03-20T10:15:00.500", 5, "Input Point  5  Off", ""},
            {"2026-03-20T10:15:00.500", 5, "Input Point  5  Off", ""},
            {AtTheClock, 6, "Input Point  6  On", "malformed"},
            {"2026-03-20T10:16:00.000", 2, "Input Point  2  On", ""},
        }};
}

TypeCase Type1()
{
    BlockBuilder bad(1, 1);
    bad.type1(1, 2, 1, -1, -1, -1, -1, -1, -1, -1, 0, 0);
    return {1, "Asia/Kolkata",
        {
            // One record decoded three times, then the same record alone.
            Block(BlockBuilder(1, 3).type1(1, 4, 1, 125, 51, 29, 2, 29, 3, 2026, 0, 0)),
            Block(BlockBuilder(1, 1).type1(1, 4, 1, 125, 51, 29, 2, 29, 3, 2026, 0, 0)),
            Block(bad),
            Block(BlockBuilder(1, 2).type1(1, 1, 0, 0, 52, 29, 2, 29, 3, 2026, 0, 0)),
        },
        {
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {AtTheClock, 3, "Input Point  3  On", "malformed"},
            {"2026-03-29T02:29:52.000", 2, "Input Point  2  Off", ""},
            {"2026-03-29T02:29:52.000", 2, "Input Point  2  Off", ""},
        }};
}

TypeCase Type2()
{
    const qint32 s1 = Seconds(2, 29, 50), s2 = Seconds(2, 29, 51), s3 = Seconds(2, 29, 52), s4 = Seconds(2, 29, 53);
    return {2, "Europe/Berlin",
        {
            Block(BlockBuilder(2, 5)
                      .type2(0, 1, 1, 1, s1, 0)
                      .type2(1, 1, 5, 1, s2, 125)
                      .type2(2, 1, 5, 0, s2, 125)
                      .type2(3, 1, 5, 1, s2, 125)
                      .type2(4, 1, 5, 0, s2, 125)),
            Block(BlockBuilder(2, 2).type2(0, 1, 5, 0, s2, 125).type2(1, 1, 2, 1, s3, 0)),
            // Millisecond 1023.
            Block(BlockBuilder(2, 2).type2(0, 1, 3, 1, s3, 1023).type2(1, 1, 3, 0, s3, 500)),
            Block(BlockBuilder(2, 1).type2(0, 1, 4, 1, s4, 0)),
        },
        {
            {"2026-03-29T02:29:50.000", 1, "Input Point  1  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  Off", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  On", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  Off", ""},
            {"2026-03-29T02:29:51.125", 5, "Input Point  5  Off", ""},
            {"2026-03-29T02:29:52.000", 2, "Input Point  2  On", ""},
            {AtTheClock, 3, "Input Point  3  On", "malformed"},
            {"2026-03-29T02:29:52.500", 3, "Input Point  3  Off", ""},
            {"2026-03-29T02:29:53.000", 4, "Input Point  4  On", ""},
        }};
}

TypeCase Type3()
{
    return {3, "Asia/Kolkata",
        {
            Block(BlockBuilder(3).text("Breaker 52-A  Tripped")),
            Block(BlockBuilder(3).text("Breaker 52-A  Tripped")),
            Block(BlockBuilder(3).text("Feeder 7  Closed")),
            Block(BlockBuilder(3).text("Breaker 52-A  Tripped")),
        },
        {
            {AtTheClock, 0, "Breaker 52-A  Tripped", ""},
            {AtTheClock, 0, "Breaker 52-A  Tripped", ""},
            {AtTheClock, 0, "Feeder 7  Closed", ""},
            {AtTheClock, 0, "Breaker 52-A  Tripped", ""},
        }};
}

class CliCollectFaults : public testing::TestWithParam<TypeCase> {
protected:
    CliCollectFaults() : module(ModuleClock) { module.setBlocks(GetParam().blocks); }

    // collect until `done` says so (SIGINT then), or for `seconds`.
    RunResult collect(std::function<bool()> done, const char* seconds = nullptr)
    {
        RunOptions options;
        options.timeoutMs = 60000;
        options.interruptWhen = std::move(done);
        options.started = [this](pid_t pid) { collector = pid; };
        // The scripted module answers at once; a reply window well above the
        // default keeps a sanitizer build on a busy machine from ending a run
        // on a timed-out request that no fault of the case caused.
        std::vector<std::string> args{
            "--tcp", "--timeout", "5000", "--ip", "127.0.0.1", "collect", "--journal", journal()};
        if (seconds)
            args.insert(args.end(), {"--seconds", seconds});
        const RunResult r = RunCli(args, module.port(), {{"TZ", GetParam().zone}}, options);
        collector = 0;
        return r;
    }
    RunResult collectTheRest()
    {
        return collect([this] { return module.blocksLeft() == 0; });
    }

    std::string journal() const { return dir.file("journal.sqlite"); }

    // The journal's rows in the order they were stored, each as the case expects.
    void expectEveryEventOnce()
    {
        const RunResult r = RunCli({"journal", "--journal", journal(), "--format", "jsonl"}, 0);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<QJsonObject> rows;
        for (const std::string& line : Lines(r.out))
            rows.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        std::sort(rows.begin(), rows.end(),
            [](const QJsonObject& a, const QJsonObject& b) { return a["id"].toInteger() < b["id"].toInteger(); });
        const std::vector<ExpectedRow>& expected = GetParam().rows;
        ASSERT_EQ(rows.size(), expected.size()) << r.out;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const QJsonObject& row = rows[i];
            const ExpectedRow& e = expected[i];
            const QString time = row["module_time"].toString();
            if (e.time == AtTheClock) {
                QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
                at.setTimeZone(QTimeZone::utc());
                EXPECT_TRUE(at.isValid() && at >= ModuleClock && at <= ModuleClock.addSecs(120))
                    << i << " " << time.toStdString();
                EXPECT_EQ(row["date_source"].toString(), QStringLiteral("module clock")) << i;
            } else {
                EXPECT_EQ(time, e.time) << i;
            }
            EXPECT_EQ(row["point"].toInt(), e.point) << i;
            EXPECT_TRUE(row["text"].toString().endsWith(e.textEnd)) << i << " " << row["text"].toString().toStdString();
            EXPECT_EQ(row["marks"].toString(), e.marks) << i;
            EXPECT_EQ(row["module_id"].toInt(), ModuleId) << i;
        }
    }

    TempDir dir;
    ScriptedModule module;
    std::atomic<pid_t> collector{0};
};

TEST_P(CliCollectFaults, StoppedAndStartedBetweenBlocks)
{
    module.holdAfter(2);
    const RunResult first = collect([this] { return module.acknowledgesTaken() >= 2; });
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_EQ(module.blocksLeft(), 2);
    module.release();
    const RunResult rest = collectTheRest();
    ASSERT_EQ(rest.exitCode, 0) << rest.err;
    expectEveryEventOnce();
}

// The second block is committed, its acknowledge is on the wire and the
// collector dies: the module never sees the acknowledge and hands the same
// block out again to the collector started after.
TEST_P(CliCollectFaults, KilledBetweenCommitAndAcknowledge)
{
    module.killAt(2, ScriptedModule::Acknowledge::Swallowed, &collector);
    const RunResult killed = collect({});
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    ASSERT_EQ(module.acknowledgesTaken(), 1);
    ASSERT_EQ(collectTheRest().exitCode, 0);
    expectEveryEventOnce();
}

// The same moment, but the module took the acknowledge and only its reply
// was lost: the next block is new, though it begins with the same bytes.
TEST_P(CliCollectFaults, KilledAfterTheModuleTookTheAcknowledge)
{
    module.killAt(2, ScriptedModule::Acknowledge::Taken, &collector);
    const RunResult killed = collect({});
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    ASSERT_EQ(module.acknowledgesTaken(), 2);
    ASSERT_EQ(collectTheRest().exitCode, 0);
    expectEveryEventOnce();
}

// The collector's pace: a module holding four blocks is drained with their
// reads and acknowledges alone (the clock is read once, first; coil 1 is not
// asked between blocks), and once empty only coil 1 is asked, every
// --idle-interval.
TEST_P(CliCollectFaults, ADrainCostsItsBlocksAndAnIdleModuleOnlyItsCoil)
{
    QElapsedTimer sinceEmpty;
    RunOptions options;
    options.timeoutMs = 60000;
    options.interruptWhen = [&] {
        if (module.blocksLeft() != 0)
            return false;
        if (!sinceEmpty.isValid())
            sinceEmpty.start();
        return sinceEmpty.elapsed() >= 2000;
    };
    const RunResult r = RunCli({"--tcp", "--timeout", "5000", "--ip", "127.0.0.1", "collect", "--journal", journal(),
                                   "--idle-interval", "200"},
        module.port(), {{"TZ", GetParam().zone}}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string kinds; // C coil 1, B event block, A acknowledge, S status block
    for (const chronel::test::PeerRequest& q : module.peer().requests()) {
        if (q.isRead(1, 1))
            kinds += 'C';
        else if (q.isRead(chronel::EventBlockRegister, 100))
            kinds += 'B';
        else if (q.isWrite(2, 1))
            kinds += 'A';
        else if (q.isRead(chronel::StatusBlockRegister, 100))
            kinds += 'S';
    }
    const std::size_t first = kinds.find('B');
    const std::size_t last = kinds.rfind('A');
    ASSERT_TRUE(first != std::string::npos && last != std::string::npos && last > first) << kinds;
    EXPECT_EQ(kinds.substr(0, first).find('S'), first - 2) << kinds; // the clock, then coil 1
    // A block with a power-on reset has the clock read again (then coil 1).
    std::string drain = kinds.substr(first, last + 1 - first);
    const std::size_t again = drain.find("SC");
    if (again != std::string::npos)
        drain.erase(again, 2);
    EXPECT_EQ(drain, "BABABABA") << kinds;
    const std::string idle = kinds.substr(last + 1);
    // Two seconds at 200 ms: about ten reads of coil 1 and nothing else
    // (the status block is due again only after five seconds).
    EXPECT_EQ(idle.find_first_not_of('C'), std::string::npos) << kinds;
    EXPECT_GE(idle.size(), 6u) << kinds;
    EXPECT_LE(idle.size(), 15u) << kinds;
    expectEveryEventOnce();
}

// A journal that refuses every block: nothing is acknowledged, the module is
// asked at the idle pace, one warning says why, and the run ends with a
// failure that says how many events stayed in the module. Once the journal
// takes blocks again, every event is stored once.
TEST_P(CliCollectFaults, AJournalThatRefusesLeavesEveryEventInTheModule)
{
    {
        chronel::JournalStore store;
        QString error;
        const auto location = chronel::ParseJournalLocation(QString::fromStdString(journal()), &error);
        ASSERT_TRUE(location && store.open(*location, &error)) << error.toStdString();
        QSqlQuery query(store.database());
        ASSERT_TRUE(query.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON journal_modules"
                                              " BEGIN SELECT RAISE(ABORT, 'disk quota exceeded'); END")));
    }
    const RunResult refused = collect({}, "8");
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_EQ(module.acknowledgesTaken(), 0);
    EXPECT_EQ(module.blocksLeft(), 4);
    // Two seconds a request at the idle pace; the first reads come sooner.
    EXPECT_LE(module.scanRequests(), 8) << refused.err;
    // Where it collects, one warning with the reason, what is left.
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 3) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "the journal did not take them: journal ")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "disk quota exceeded")) << refused.err;
    int events = 0;
    for (const EventBlockWords& block : GetParam().blocks)
        events += chronel::EventDecoder::RecordCount(block);
    EXPECT_TRUE(Contains(refused.err, "127.0.0.1: " + std::to_string(events) + " events remain in the module"))
        << refused.err;

    {
        chronel::JournalStore store;
        QString error;
        ASSERT_TRUE(store.open(*chronel::ParseJournalLocation(QString::fromStdString(journal()), &error), &error));
        QSqlQuery query(store.database());
        ASSERT_TRUE(query.exec(QStringLiteral("DROP TRIGGER refuse")));
    }
    ASSERT_EQ(collectTheRest().exitCode, 0);
    expectEveryEventOnce();
}

// Point 2's description in the module's point table (two characters a register).
void SetDescription(ScriptedModule& module, const std::string& text)
{
    std::vector<std::uint16_t> words(16, 0);
    for (std::size_t i = 0; i < text.size() && i < 32; ++i)
        words[i / 2] |= std::uint16_t(std::uint8_t(text[i]) << (i % 2 ? 8 : 0));
    module.peer().setHoldings(429 + 16, words);
}

// The rows' point descriptions, in the order stored.
std::vector<std::string> Descriptions(const std::string& journal)
{
    const RunResult r = RunCli({"journal", "--journal", journal, "--format", "jsonl"}, 0);
    std::vector<std::pair<qint64, std::string>> rows;
    for (const std::string& line : Lines(r.out)) {
        const QJsonObject row = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        rows.emplace_back(row["id"].toInteger(), row["point_description"].toString().toStdString());
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> texts;
    for (const auto& row : rows)
        texts.push_back(row.second);
    return texts;
}

// Another module at the same address, or the same one after a power-on
// reset, may describe its points otherwise: its table is read again before
// its events are stored.
class CliCollectPointTable : public testing::Test {
protected:
    CliCollectPointTable() : module(ModuleClock) { SetDescription(module, "Old breaker"); }

    // Collects `blocks`; once the first is taken the module's point 2 gets
    // another description.
    RunResult collectAcrossAChange(const std::vector<EventBlockWords>& blocks)
    {
        module.setBlocks(blocks);
        module.holdAfter(1);
        std::thread change([this] {
            for (int i = 0; i < 600 && module.acknowledgesTaken() < 1; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            SetDescription(module, "New breaker");
            module.release();
        });
        RunOptions options;
        options.timeoutMs = 60000;
        options.interruptWhen = [this] { return module.blocksLeft() == 0; };
        const RunResult r = RunCli(
            {"--tcp", "--ip", "127.0.0.1", "collect", "--journal", dir.file("j.sqlite")}, module.port(), {}, options);
        change.join();
        return r;
    }

    TempDir dir;
    ScriptedModule module;
};

TEST_F(CliCollectPointTable, AnotherModuleIdReadsItAgain)
{
    const qint32 s = Seconds(2, 0, 0);
    const RunResult r = collectAcrossAChange({Block(BlockBuilder(2, 1).type2(0, 1, 2, 1, s, 0)),
        BlockBuilder(2, 1).type2(0, 1, 2, 0, s + 1, 0).word(0, ModuleId + 1)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "the Module ID changed from 77 to 78")) << r.err;
    EXPECT_EQ(Descriptions(dir.file("j.sqlite")), (std::vector<std::string>{"Old breaker", "New breaker"}));
}

TEST_F(CliCollectPointTable, APowerOnResetReadsItAgain)
{
    const qint32 s = Seconds(2, 0, 0);
    const RunResult r = collectAcrossAChange({Block(BlockBuilder(2, 1).type2(0, 1, 2, 1, s, 0)),
        Block(BlockBuilder(2, 1).type2(0, 6, 1, 0, s + 1, 0)), Block(BlockBuilder(2, 1).type2(0, 1, 2, 0, s + 2, 0))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Descriptions(dir.file("j.sqlite")), (std::vector<std::string>{"Old breaker", "", "New breaker"}));
}

INSTANTIATE_TEST_SUITE_P(BufferTypes, CliCollectFaults, testing::Values(Type0(), Type1(), Type2(), Type3()),
    [](const testing::TestParamInfo<TypeCase>& info) { return "Type" + std::to_string(info.param.type); });

} // namespace
} // namespace clitest
