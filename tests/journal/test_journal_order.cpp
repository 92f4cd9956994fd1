// The rows' time line on both kinds of journal: UTC order across zones and
// through a fall-back hour, module-time order (and why) as soon as a row has
// no UTC time, pages that end within one UTC millisecond, and chatter read
// around a period.
#include "journal_backend.h"

#include "journal/journal_chatter.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QTimeZone>

#include <tuple>

namespace chronel::test {
namespace {

const QDate Day(2026, 10, 25);

QDateTime Utc(int h, int m, int s, int ms) { return QDateTime(Day, QTime(h, m, s, ms), QTimeZone::utc()); }

// A row of `module` at `moduleTime` ("HH:mm:ss.zzz" on the day of the
// fall-back), at `utc` where its zone placed it.
JournalEvent Row(const char* module, const char* moduleTime, const QDateTime& utc, const char* zone, int point = 1,
    const QString& state = QStringLiteral("On"))
{
    JournalEvent e;
    e.module = QString::fromLatin1(module);
    e.moduleName = e.module == u"127.0.0.2" ? QStringLiteral("Feeder") : QStringLiteral("Bay 9");
    e.moduleTime = Day.toString(Qt::ISODate) + u'T' + QString::fromLatin1(moduleTime);
    e.dateSource = QStringLiteral("record");
    e.point = point;
    e.text = QStringLiteral("%1  %2  S  G   Input Point %3  %4")
                 .arg(Day.toString(Qt::ISODate), QString::fromLatin1(moduleTime))
                 .arg(point, 2)
                 .arg(state);
    e.received = Utc(3, 0, 0, 0);
    e.raw = e.moduleTime.toLatin1();
    e.utcTime = utc;
    e.zone = QString::fromLatin1(zone);
    return e;
}

QStringList Times(const std::optional<QList<JournalEvent>>& rows)
{
    QStringList times;
    for (const JournalEvent& row : rows.value_or(QList<JournalEvent>{}))
        times << row.module.right(1) + u' ' + row.moduleTime.mid(11);
    return times;
}

using JournalOrderTest = JournalBackend;

TEST_P(JournalOrderTest, ModulesInTwoZonesAndAFallBackHourGoInUtcOrder)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    // Berlin's 02:00 … 03:00 comes twice (at 00:00 UTC with daylight saving,
    // at 01:00 UTC without); the other module's clock runs 5:30 ahead of UTC.
    ASSERT_TRUE(store.append({Row("127.0.0.2", "02:30:00.250", Utc(1, 30, 0, 250), "Europe/Berlin"),
                                 Row("127.0.0.2", "02:59:59.900", Utc(0, 59, 59, 900), "Europe/Berlin"),
                                 Row("127.0.0.3", "06:15:00.000", Utc(0, 45, 0, 0), "+05:30"),
                                 Row("127.0.0.2", "02:30:00.500", Utc(0, 30, 0, 500), "Europe/Berlin"),
                                 Row("127.0.0.3", "06:00:00.500", Utc(0, 30, 0, 500), "+05:30")},
        &error))
        << error;
    EXPECT_EQ(Times(JournalRows(store, {}, &error)),
        (QStringList{"2 02:30:00.500", "3 06:00:00.500", "3 06:15:00.000", "2 02:59:59.900", "2 02:30:00.250"}))
        << error;
    const auto timeline = JournalTimelineOf(store, {}, &error);
    ASSERT_TRUE(timeline) << error;
    EXPECT_EQ(timeline->order, JournalTimeOrder::Utc);
    EXPECT_EQ(timeline->rows, 5);
    EXPECT_EQ(timeline->zones, (QStringList{"+05:30", "Europe/Berlin"}));
    EXPECT_EQ(timeline->firstUtc, QStringLiteral("2026-10-25T00:30:00.500Z"));
    EXPECT_EQ(timeline->lastUtc, QStringLiteral("2026-10-25T01:30:00.250Z"));
    EXPECT_EQ(timeline->firstModuleTime, QStringLiteral("2026-10-25T02:30:00.250"));

    // A period of module times holds both passes of the hour, in true order.
    JournalFilter hour;
    ASSERT_TRUE(hour.setFrom(QStringLiteral("2026-10-25 02:30"), &error));
    ASSERT_TRUE(hour.setTo(QStringLiteral("2026-10-25 03:00"), &error));
    EXPECT_EQ(
        Times(JournalRows(store, hour, &error)), (QStringList{"2 02:30:00.500", "2 02:59:59.900", "2 02:30:00.250"}));

    // A module without a declared zone: nothing says where its row goes, so
    // every row goes by module time, and the timeline says why.
    JournalEvent unplaced = Row("127.0.0.4", "02:45:00.000", {}, "");
    unplaced.moduleName = QStringLiteral("South");
    ASSERT_TRUE(store.append({unplaced}, &error)) << error;
    const auto mixed = JournalTimelineOf(store, {}, &error);
    ASSERT_TRUE(mixed) << error;
    EXPECT_EQ(mixed->order, JournalTimeOrder::ModuleTime);
    EXPECT_EQ(mixed->rowsWithoutUtc, 1);
    EXPECT_EQ(mixed->modulesWithoutUtc, QStringList{"South"});
    EXPECT_EQ(Times(JournalRows(store, {}, &error)),
        (QStringList{"2 02:30:00.250", "2 02:30:00.500", "4 02:45:00.000", "2 02:59:59.900", "3 06:00:00.500",
            "3 06:15:00.000"}));
    // Without it the rows are on UTC again.
    JournalFilter feeder;
    feeder.module = QStringLiteral("Feeder");
    EXPECT_EQ(
        Times(JournalRows(store, feeder, &error)), (QStringList{"2 02:30:00.500", "2 02:59:59.900", "2 02:30:00.250"}));
    // A period in UTC holds only rows with a UTC time.
    JournalFilter utc;
    ASSERT_TRUE(utc.setFrom(QStringLiteral("2026-10-25T00:40Z"), &error));
    EXPECT_EQ(
        Times(JournalRows(store, utc, &error)), (QStringList{"3 06:15:00.000", "2 02:59:59.900", "2 02:30:00.250"}));

    JournalFilter none;
    none.point = 9;
    const auto empty = JournalTimelineOf(store, none, &error);
    ASSERT_TRUE(empty) << error;
    EXPECT_EQ(empty->rows, 0);
    EXPECT_TRUE(JournalRows(store, none, &error).value_or(QList<JournalEvent>{{}}).isEmpty());
}

// More rows than a page, many on one UTC millisecond, two modules whose
// module times run in another order than their UTC times.
TEST_P(JournalOrderTest, UtcOrderHoldsAcrossPages)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    constexpr int Total = 4500;
    QList<JournalEvent> block;
    for (int i = 0; i < Total; ++i) {
        const bool east = i % 3 == 0;
        const QDateTime utc = Utc(0, 0, 0, 0).addMSecs((Total - i) / 5);
        JournalEvent row = Row(east ? "127.0.0.3" : "127.0.0.2", "00:00:00.000", utc, east ? "+05:30" : "+00:00");
        row.moduleTime = JournalTimeText(utc.addSecs(east ? 19800 : 0));
        row.raw = QByteArray::number(i);
        block << row;
        if (block.size() == 500) {
            ASSERT_TRUE(store.append(block, &error)) << error;
            block.clear();
        }
    }
    const auto inOrder = [&](const JournalFilter& filter) {
        int seen = 0;
        JournalEvent previous;
        previous.utcTime = Utc(0, 0, 0, 0).addDays(-1);
        EXPECT_TRUE(ForEachJournalRow(
            store, filter,
            [&](const JournalEvent& row) {
                EXPECT_TRUE(std::tuple(previous.utcTime, previous.module, previous.id) <
                    std::tuple(row.utcTime, row.module, row.id))
                    << "row " << seen;
                previous = row;
                ++seen;
                return true;
            },
            &error))
            << error;
        return seen;
    };
    EXPECT_EQ(inOrder({}), Total);
    // A period of module times (the western module's first half second)
    // read through the UTC span it has.
    JournalFilter west;
    ASSERT_TRUE(west.setTo(QStringLiteral("2026-10-25T00:00:00.450"), &error));
    EXPECT_EQ(inOrder(west), 1500);
}

// Chatter read around the rows: the changes before --from make an episode of
// the first changes in the period, counted from --from.
TEST_P(JournalOrderTest, ChatterIsReadAroundThePeriod)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    QList<JournalEvent> rows;
    for (int i = 0; i < 16; ++i) {
        const QDateTime utc = Utc(0, 59, 59, 400).addMSecs(i * 60);
        JournalEvent row = Row("127.0.0.2", "", utc, "+02:00", 4, i % 2 ? "On" : "Off");
        row.moduleTime = JournalTimeText(utc.addSecs(7200));
        row.raw = QByteArray::number(i);
        rows << row;
    }
    rows << Row("127.0.0.2", "03:00:01.000", Utc(1, 0, 1, 0), "+02:00", 4, QStringLiteral("Chatter On Scan"));
    ASSERT_TRUE(store.append(rows, &error)) << error;
    JournalFilter period;
    ASSERT_TRUE(period.setFrom(QStringLiteral("2026-10-25 03:00"), &error));
    const auto timeline = JournalTimelineOf(store, period, &error);
    ASSERT_TRUE(timeline) << error;
    ASSERT_EQ(timeline->rows, 7);
    const auto chatter = ReadJournalChatter(store, period, *timeline, {}, &error);
    ASSERT_TRUE(chatter) << error;
    ASSERT_EQ(chatter->episodes.size(), 1);
    EXPECT_EQ(chatter->episodes[0].changes, 6);
    EXPECT_TRUE(chatter->episodes[0].beganBefore);
    EXPECT_EQ(chatter->episodes[0].first.moduleTime, QStringLiteral("2026-10-25T03:00:00.000"));
    ASSERT_EQ(chatter->reports.size(), 1);
    const QList<ChatterListEntry> list = ChatterList(*chatter);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].kind, QStringLiteral("Chatter On Scan"));
    int marked = 0;
    ASSERT_TRUE(ForEachJournalRow(
        store, period,
        [&](const JournalEvent& row) {
            marked += chatter->chattering(row);
            return true;
        },
        &error, &*timeline));
    EXPECT_EQ(marked, 6);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalOrderTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalOrderTest, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
