// Chatter found among a point's changes: the limits' edges, points and
// modules kept apart, changes in one millisecond, episodes crossing the
// period's start, which lines are changes, and the time line chatter is
// measured on.
#include "journal/chatter.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace chronel {
namespace {

constexpr ChatterLimits TenInASecond{10, 1000};

ChatterChange Change(int point, qint64 ms, qint64 id, bool counted = true, const char* module = "127.0.0.2")
{
    return {QString::fromLatin1(module), QStringLiteral("North"), point, ms, id, counted, {}, {}};
}

// `count` changes of `point`, `stepMs` apart from `startMs`, ids from `firstId`.
QList<ChatterChange> Burst(int point, qint64 startMs, int count, qint64 stepMs, qint64 firstId)
{
    QList<ChatterChange> changes;
    for (int i = 0; i < count; ++i)
        changes << Change(point, startMs + i * stepMs, firstId + i);
    return changes;
}

QList<ChatterEpisode> Detect(const QList<ChatterChange>& changes, ChatterLimits limits = TenInASecond)
{
    ChatterDetector detector(limits);
    for (const ChatterChange& change : changes)
        detector.add(change);
    return detector.finish();
}

TEST(ChatterDetector, MoreThanNChangesWithinTChatterAndNoFewer)
{
    // Ten changes within a second are allowed.
    EXPECT_TRUE(Detect(Burst(4, 0, 10, 50, 1)).isEmpty());
    // Eleven chatter when the last comes less than a second after the first …
    const QList<ChatterEpisode> eleven = Detect(Burst(4, 0, 11, 99, 1));
    ASSERT_EQ(eleven.size(), 1);
    EXPECT_EQ(eleven[0].changes, 11);
    EXPECT_EQ(eleven[0].firstId, 1);
    EXPECT_EQ(eleven[0].lastId, 11);
    EXPECT_EQ(eleven[0].first.ms, 0);
    EXPECT_EQ(eleven[0].last.ms, 990);
    EXPECT_FALSE(eleven[0].beganBefore || eleven[0].goesOnAfter);
    // … not when it comes a second after: ten a second, the limit's rate.
    EXPECT_TRUE(Detect(Burst(4, 0, 11, 100, 1)).isEmpty());
    // A window that slides on keeps one episode; a later one of its own.
    QList<ChatterChange> sliding = Burst(4, 0, 40, 50, 1);
    sliding << Burst(4, 10'000, 11, 10, 100);
    const QList<ChatterEpisode> two = Detect(sliding);
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].changes, 40);
    EXPECT_EQ(two[1].changes, 11);
    EXPECT_EQ(two[1].firstId, 100);
    // Other limits.
    EXPECT_EQ(Detect(Burst(4, 0, 4, 600, 1), {3, 2000}).size(), 1);
    EXPECT_TRUE(Detect(Burst(4, 0, 4, 700, 1), {3, 2000}).isEmpty());
}

TEST(ChatterDetector, PointsAndModulesChatterApart)
{
    // Point 4 chatters while point 5 changes now and then, and point 4 of
    // another module changes as often as point 4 here but spread out.
    QList<ChatterChange> changes;
    qint64 id = 0;
    for (int i = 0; i < 30; ++i) {
        changes << Change(4, i * 40, ++id);
        if (i % 3 == 0)
            changes << Change(5, i * 40 + 1, ++id);
        if (i % 2 == 0)
            changes << Change(4, i * 40 + 2, ++id, true, "127.0.0.3");
    }
    const QList<ChatterEpisode> episodes = Detect(changes);
    ASSERT_EQ(episodes.size(), 2);
    EXPECT_EQ(episodes[0].module, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(episodes[0].point, 4);
    EXPECT_EQ(episodes[0].changes, 30);
    // 15 changes 80 ms apart: 13 of them in any second.
    EXPECT_EQ(episodes[1].module, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(episodes[1].changes, 15);
    const ChatterIndex index(episodes);
    EXPECT_TRUE(index.holds(QStringLiteral("127.0.0.2"), 4, 0, 1));
    EXPECT_FALSE(index.holds(QStringLiteral("127.0.0.2"), 5, 1, 2));
    EXPECT_FALSE(index.holds(QStringLiteral("127.0.0.2"), 4, 5000, 999));
}

TEST(ChatterDetector, ChangesInOneMillisecondCountEach)
{
    QList<ChatterChange> same;
    for (int id = 1; id <= 10; ++id)
        same << Change(7, 5000, id);
    EXPECT_TRUE(Detect(same).isEmpty());
    same << Change(7, 5000, 11);
    const QList<ChatterEpisode> episodes = Detect(same);
    ASSERT_EQ(episodes.size(), 1);
    EXPECT_EQ(episodes[0].changes, 11);
    // An episode's span ends at its last change: one stored after it, at
    // the same millisecond, is not of it.
    const ChatterIndex index(episodes);
    EXPECT_TRUE(index.holds(QStringLiteral("127.0.0.2"), 7, 5000, 11));
    EXPECT_FALSE(index.holds(QStringLiteral("127.0.0.2"), 7, 5000, 12));
}

// The changes before the period are read only to find episodes that cross
// its start: they are not counted, and the episode says it began before.
TEST(ChatterDetector, AnEpisodeCrossingThePeriodsStartIsFoundAndCountedWithinIt)
{
    QList<ChatterChange> changes = Burst(4, 0, 20, 50, 1);
    for (int i = 0; i < 6; ++i)
        changes[i].counted = false;
    const QList<ChatterEpisode> episodes = Detect(changes);
    ASSERT_EQ(episodes.size(), 1);
    EXPECT_EQ(episodes[0].changes, 14);
    EXPECT_EQ(episodes[0].first.id, 7);
    EXPECT_TRUE(episodes[0].beganBefore);
    EXPECT_FALSE(episodes[0].goesOnAfter);
    // The end of the period likewise.
    for (int i = 0; i < 20; ++i)
        changes[i].counted = i < 10;
    const QList<ChatterEpisode> ending = Detect(changes);
    ASSERT_EQ(ending.size(), 1);
    EXPECT_EQ(ending[0].changes, 10);
    EXPECT_EQ(ending[0].last.id, 10);
    EXPECT_FALSE(ending[0].beganBefore);
    EXPECT_TRUE(ending[0].goesOnAfter);
}

JournalEvent Row(qint64 id, int point, const QString& moduleTime, const QString& body)
{
    JournalEvent e;
    e.id = id;
    e.module = QStringLiteral("127.0.0.2");
    e.point = point;
    e.moduleTime = moduleTime;
    e.text = moduleTime.left(10) + QStringLiteral("  ") + moduleTime.mid(11) + QStringLiteral("  S  G   ") + body;
    return e;
}

TEST(ChatterRows, OnlyAnInputPointsChangesCount)
{
    const QString time = QStringLiteral("2026-03-01T10:00:00.000");
    EXPECT_TRUE(IsInputChange(Row(1, 4, time, QStringLiteral("Input Point  4  On"))));
    EXPECT_TRUE(IsInputChange(Row(1, 14, time, QStringLiteral("Input Point 14  Off"))));
    for (const char* other : {"Input Point  4  On Scan", "Input Point  4  Off Scan", "Input Point  4  Chatter On Scan",
             "Output Point  4  On", "Power on Reset"})
        EXPECT_FALSE(IsInputChange(Row(1, 4, time, QString::fromLatin1(other)))) << other;
    EXPECT_FALSE(IsInputChange(Row(1, 0, time, QStringLiteral("Input Point  4  On"))));
    EXPECT_EQ(ModuleChatterReport(Row(1, 4, time, QStringLiteral("Input Point  4  Chatter Off Scan"))),
        QStringLiteral("Chatter Off Scan"));
    EXPECT_EQ(ModuleChatterReport(Row(1, 4, time, QStringLiteral("Input Point  4  On"))), QString());
    EXPECT_EQ(WithChatteringMark(QString()), QStringLiteral("chattering"));
    EXPECT_EQ(WithChatteringMark(QStringLiteral("malformed")), QStringLiteral("malformed, chattering"));
}

// In the hour a fall-back repeats, changes an hour apart read the same
// module times: on UTC they are two quiet spells, on module time one burst.
// Rows go on UTC only when every one has a UTC time.
TEST(ChatterRows, MeasuredOnUtcWhereEveryRowHasOne)
{
    const QDateTime firstPass(QDate(2026, 10, 25), QTime(0, 30), QTimeZone::utc());
    QList<JournalEvent> rows;
    for (int i = 0; i < 12; ++i) {
        const qint64 offsetMs = i * 90;
        JournalEvent row = Row(i + 1, 4,
            JournalTimeText(QDateTime(QDate(2026, 10, 25), QTime(2, 30), QTimeZone::utc()).addMSecs(offsetMs)),
            i % 2 ? QStringLiteral("Input Point  4  On") : QStringLiteral("Input Point  4  Off"));
        // Every other change in the second pass, an hour later.
        row.utcTime = firstPass.addMSecs(offsetMs + (i % 2 ? 3'600'000 : 0));
        rows << row;
    }
    EXPECT_EQ(TimeOrderOf(rows), JournalTimeOrder::Utc);
    EXPECT_TRUE(ChatteringIds(rows).isEmpty());
    rows[3].utcTime = QDateTime();
    EXPECT_EQ(TimeOrderOf(rows), JournalTimeOrder::ModuleTime);
    EXPECT_EQ(ChatteringIds(rows).size(), 12);
    EXPECT_EQ(TimeOrderOf({}), JournalTimeOrder::ModuleTime);
}

TEST(ChatterRows, ModuleTimesReadAsMilliseconds)
{
    EXPECT_EQ(JournalTimeMs(QStringLiteral("1970-01-02T00:00:01.250")), 86'401'250);
    EXPECT_EQ(JournalTimeMs(QStringLiteral("2026-10-25T02:30:00.500")),
        QDateTime(QDate(2026, 10, 25), QTime(2, 30, 0, 500), QTimeZone::utc()).toMSecsSinceEpoch());
    for (const char* bad : {"", "2026-10-25 02:30:00.500", "2026-02-30T00:00:00.000", "2026-10-25T24:00:00.000",
             "2026-10-25T02:30:00.5", "2026-10-25T02:30:0x.500"})
        EXPECT_FALSE(JournalTimeMs(QString::fromLatin1(bad))) << bad;
}

} // namespace
} // namespace chronel
