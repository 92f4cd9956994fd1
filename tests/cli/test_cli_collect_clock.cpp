// The module's clock behind every row: with the module's zone declared, each
// row gets its UTC time (the records' daylight-saving flags ordering the hour
// a fall-back repeats) and the clock's source, quality and offset from this
// computer's clock as the status block gave them when its block was read;
// a clock that cannot be trusted marks its rows.
#include "cli_test_support.h"
#include "scripted_module.h"

#include "support/block_builder.h"

#include "core/live/status_block.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace clitest {
namespace {

using chronel::test::BlockBuilder;

// Seconds since 1984 of a module time.
qint32 Seconds(const QDateTime& wall)
{
    return qint32(QDateTime(QDate(1984, 1, 1), QTime(0, 0), QTimeZone::utc()).secsTo(wall));
}

QDateTime Wall(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
}

// This computer's time as a module in `zone` shows it.
QDateTime WallNow(const QTimeZone& zone)
{
    const QDateTime local = QDateTime::currentDateTimeUtc().toTimeZone(zone);
    return QDateTime(local.date(), local.time(), QTimeZone::utc());
}

class CliCollectClock : public testing::Test {
protected:
    std::vector<QJsonObject> collect(
        ScriptedModule& module, const std::vector<std::string>& zoneArgs, const std::string& name = "journal.sqlite")
    {
        const std::string journal = dir.file(name);
        RunOptions options;
        options.timeoutMs = 60000;
        options.interruptWhen = [&module] { return module.blocksLeft() == 0; };
        std::vector<std::string> args{"--tcp", "--timeout", "5000", "--ip", "127.0.0.1"};
        args.insert(args.end(), zoneArgs.begin(), zoneArgs.end());
        args.insert(args.end(), {"collect", "--journal", journal});
        const RunResult r = RunCli(args, module.port(), {{"TZ", "Asia/Tokyo"}}, options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const RunResult out = RunCli({"journal", "--journal", journal, "--format", "jsonl"}, 0);
        EXPECT_EQ(out.exitCode, 0) << out.err;
        std::vector<QJsonObject> rows;
        for (const std::string& line : Lines(out.out))
            rows.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        std::sort(rows.begin(), rows.end(),
            [](const QJsonObject& a, const QJsonObject& b) { return a["id"].toInteger() < b["id"].toInteger(); });
        return rows;
    }
    TempDir dir;
};

// Berlin's fall-back hour twice, told apart by the records' flags, and a
// text at the clock's own time; a GPS clock of good quality a moment off.
TEST_F(CliCollectClock, UtcTimesAndTheClockStateOfEachRow)
{
    const QTimeZone berlin("Europe/Berlin");
    ScriptedModule module(WallNow(berlin), true);
    using namespace chronel::statusblock;
    module.setStatusWord(TimeSourceWord, 1);
    module.setStatusWord(TimeQualityWord, 0);
    module.setStatusWord(DstWord, berlin.isDaylightTime(QDateTime::currentDateTimeUtc()) ? 1 : 0);
    const qint32 repeated = Seconds(Wall(2026, 10, 25, 2, 30));
    module.setBlocks({
        BlockBuilder(2, 3)
            .type2(0, 1, 1, 1, repeated, 500, 0, 1)
            .type2(1, 1, 1, 0, repeated, 250, 0, 0)
            .type2(2, 1, 2, 1, Seconds(Wall(2026, 3, 29, 2, 30)), 0, 0, 1)
            .word(0, 7),
        BlockBuilder(3).text("Breaker 52-A  Tripped").word(0, 7),
    });
    const std::vector<QJsonObject> rows = collect(module, {"--tz", "Europe/Berlin"});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]["utc_time"].toString(), "2026-10-25T00:30:00.500Z");
    EXPECT_EQ(rows[1]["utc_time"].toString(), "2026-10-25T01:30:00.250Z");
    // 02:30 on the day of spring-forward does not exist in Berlin.
    EXPECT_EQ(rows[2]["utc_time"].toString(), "");
    EXPECT_EQ(rows[2]["marks"].toString(), "skipped hour");
    const QDateTime text = QDateTime::fromString(rows[3]["utc_time"].toString(), Qt::ISODateWithMs);
    EXPECT_LE(std::abs(text.secsTo(QDateTime::currentDateTimeUtc())), 60)
        << rows[3]["utc_time"].toString().toStdString();
    // A period in UTC takes the second pass of the repeated hour only, and
    // never a row without a UTC time.
    const RunResult second = RunCli({"journal", "--journal", dir.file("journal.sqlite"), "--from", "2026-10-25T01:00Z",
                                        "--to", "2026-10-25T03:00+01:00"},
        0);
    ASSERT_EQ(Lines(second.out).size(), 2u) << second.out;
    EXPECT_EQ(Lines(second.out)[0], "# Module times (zone Europe/Berlin); events in UTC order.");
    EXPECT_TRUE(Contains(second.out, "Input Point  1  Off")) << second.out;
    const RunResult clocks = RunCli({"clocks", "--journal", dir.file("journal.sqlite")}, 0);
    ASSERT_EQ(clocks.exitCode, 0) << clocks.err;
    const std::vector<std::string> table = Lines(clocks.out);
    ASSERT_EQ(table.size(), 2u) << clocks.out;
    EXPECT_TRUE(Contains(table[0], "Worst offset (24 h)")) << clocks.out;
    EXPECT_TRUE(table[1].rfind("127.0.0.1", 0) == 0 && Contains(table[1], "GPS, good") &&
        Contains(table[1], "  0 s  ") && !Contains(table[1], "not read since"))
        << clocks.out;
    for (const QJsonObject& row : rows) {
        EXPECT_EQ(row["zone"].toString(), "Europe/Berlin");
        EXPECT_EQ(row["clock_source"].toInt(), 1);
        EXPECT_EQ(row["clock_quality"].toInt(), 0);
        EXPECT_LE(std::abs(row["clock_offset_ms"].toInt()), 1500) << row["clock_offset_ms"].toInt();
        EXPECT_EQ(row["clock_marks"].toString(), "");
    }
}

// No zone declared: no UTC time and no offset are guessed; a module on its
// internal clock, of poor quality, is marked all the same. A module an hour
// off its declared zone is marked as off by that hour.
TEST_F(CliCollectClock, NothingGuessedWithoutAZoneAndDoubtfulClocksMarked)
{
    {
        ScriptedModule module(WallNow(QTimeZone::systemTimeZone()), true);
        module.setStatusWord(chronel::statusblock::TimeSourceWord, 0x08);
        module.setStatusWord(chronel::statusblock::TimeQualityWord, 2);
        module.setBlocks({BlockBuilder(2, 1).type2(0, 1, 4, 1, Seconds(Wall(2026, 5, 1, 8, 0)), 0).word(0, 7)});
        const std::vector<QJsonObject> rows = collect(module, {});
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0]["utc_time"].toString(), "");
        EXPECT_EQ(rows[0]["zone"].toString(), "");
        EXPECT_TRUE(rows[0]["clock_offset_ms"].isNull());
        EXPECT_EQ(rows[0]["clock_marks"].toString(), "clock not synchronised, clock quality poor");
        const RunResult clocks = RunCli({"clocks", "--journal", dir.file("journal.sqlite"), "--hours", "1"}, 0);
        EXPECT_TRUE(Contains(clocks.out, "internal clock (GPS seen), poor  (no zone)  -")) << clocks.out;
        EXPECT_TRUE(Contains(clocks.out, "Not synchronised (1 h)")) << clocks.out;
    }
    ScriptedModule module(WallNow(QTimeZone(3600 * 6)), true);
    module.setStatusWord(chronel::statusblock::TimeSourceWord, 2);
    module.setBlocks({BlockBuilder(2, 1).type2(0, 1, 4, 0, Seconds(Wall(2026, 5, 1, 8, 0)), 0).word(0, 7)});
    const std::vector<QJsonObject> rows = collect(module, {"--tz", "+05:00"}, "off.sqlite");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["utc_time"].toString(), "2026-05-01T03:00:00.000Z");
    EXPECT_NEAR(rows[0]["clock_offset_ms"].toInt(), 3600000, 1500);
    EXPECT_TRUE(rows[0]["clock_marks"].toString().startsWith("clock off by 3"))
        << rows[0]["clock_marks"].toString().toStdString();
    const RunResult loose = RunCli({"journal", "--journal", dir.file("off.sqlite"), "--max-offset", "4000"}, 0);
    EXPECT_TRUE(Contains(loose.out, "Input Point  4  Off\n")) << loose.out;
    const RunResult strict = RunCli({"journal", "--journal", dir.file("off.sqlite")}, 0);
    EXPECT_TRUE(Contains(strict.out, "Input Point  4  Off  [clock off by 3")) << strict.out;
}

} // namespace
} // namespace clitest
