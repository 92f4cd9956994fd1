// A point's state over time from its events: what the timing chart draws.
#include "support/qt_printers.h"
#include "ui/timing_trace.h"

#include <gtest/gtest.h>

namespace chronel {

void PrintTo(const TraceSegment& s, std::ostream* os)
{
    const char* names[] = {"Unknown", "Off", "On", "NoData"};
    *os << '[' << s.from << ", " << s.to << ") " << names[int(s.state)];
}

namespace {

constexpr auto On = PointState::On;
constexpr auto Off = PointState::Off;
constexpr auto Unknown = PointState::Unknown;
constexpr auto NoData = PointState::NoData;

TraceEvent Change(qint64 ms, PointState state) { return {ms, {state, false}}; }
TraceEvent Scan(qint64 ms, PointState state) { return {ms, {state, true}}; }

TEST(EventEffect, ReadsTheStateFromTheEventLine)
{
    struct Case {
        const char* text;
        PointState state;
        bool scan;
    };
    const Case cases[] = {
        {"2024-03-01  13:05:07.042  S  G   Input Point  5  On", On, false},
        {"2024-03-01  13:05:07.042  S  G   Input Point 12  Off", Off, false},
        {"2024-03-01  13:05:07.042  D  F   Output Point  3  On", On, false},
        {"2024-03-01  13:05:07.042  S  G   Input Point  5  On Scan", On, true},
        {"2024-03-01  13:05:07.042  S  G   Input Point  5  Off Scan", Off, true},
        {"2024-03-01  13:05:07.042  S  G   Input Point  5  Chatter On Scan", Unknown, false},
        {"2024-03-01  13:05:07.042  S  G   Power on Reset", Unknown, false},
        {"2024-03-01  13:05:07.042  S  G   Test Mode On", Unknown, false},
    };
    for (const Case& c : cases) {
        const EventEffect effect = EventEffectOf(QString::fromLatin1(c.text));
        EXPECT_EQ(effect.state, c.state) << c.text;
        EXPECT_EQ(effect.scan, c.scan) << c.text;
    }
}

TEST(JournalTimeMs, MillisecondsWithoutZoneAndBack)
{
    const auto a = JournalTimeMs(QStringLiteral("2024-03-31T02:30:00.250"));
    const auto b = JournalTimeMs(QStringLiteral("2024-03-31T01:30:00.000"));
    ASSERT_TRUE(a && b);
    // An hour and 250 ms apart even across the EU's spring-forward gap.
    EXPECT_EQ(*a - *b, 3600 * 1000 + 250);
    EXPECT_EQ(ModuleTimeText(*a), QStringLiteral("2024-03-31T02:30:00.250"));
    EXPECT_EQ(JournalTimeMs(QStringLiteral("1970-01-02T00:00:01.002")), 86401002);
    for (const char* wrong : {"2024-03-31 02:30", "2024-03-31 02:30:00.000", "2024-02-30T02:30:00.000",
             "2024-03-31T24:00:00.000", "2024-03-31T02:30:00.0000", "2024-03-31T02:3x:00.000"})
        EXPECT_FALSE(JournalTimeMs(QString::fromLatin1(wrong))) << wrong;
}

TEST(TraceSegments, AFirstChangeToOnMeansOffBefore)
{
    const QList<TraceSegment> expected{{0, 100, Off}, {100, 250, On}, {250, 1000, Off}};
    EXPECT_EQ(TraceSegments({Change(100, On), Change(250, Off)}, 0, 1000), expected);
}

TEST(TraceSegments, AFirstChangeToOffMeansOnBefore)
{
    const QList<TraceSegment> expected{{0, 400, On}, {400, 1000, Off}};
    EXPECT_EQ(TraceSegments({Change(400, Off)}, 0, 1000), expected);
}

TEST(TraceSegments, AFirstScanLeavesTheStateBeforeUnknown)
{
    const QList<TraceSegment> expected{{0, 100, Unknown}, {100, 1000, On}};
    EXPECT_EQ(TraceSegments({Scan(100, On)}, 0, 1000), expected);
}

TEST(TraceSegments, RepeatsAndUnknownEventsChangeNothing)
{
    const QList<TraceSegment> expected{{0, 100, Off}, {100, 600, On}, {600, 1000, Off}};
    EXPECT_EQ(
        TraceSegments(
            {Change(100, On), Change(200, On), {300, {}}, Scan(400, On), Change(600, Off), Change(700, Off)}, 0, 1000),
        expected);
}

TEST(TraceSegments, EventsOutsideTheSpanSetTheStateAtItsEdges)
{
    // On before the span, Off at 500, On again after it.
    const QList<TraceSegment> expected{{200, 500, On}, {500, 800, Off}};
    EXPECT_EQ(TraceSegments({Change(100, On), Change(500, Off), Change(900, On)}, 200, 800), expected);
    // Off and On again in one millisecond: one On span, not two.
    const QList<TraceSegment> bounce{{0, 100, Off}, {100, 300, On}, {300, 1000, Off}};
    EXPECT_EQ(TraceSegments({Change(100, On), Change(200, Off), Change(200, On), Change(300, Off)}, 0, 1000), bounce);
    EXPECT_EQ(TraceSegments({}, 0, 300), (QList<TraceSegment>{{0, 300, Unknown}}));
}

TEST(TraceSegments, NothingIsDrawnBeforeTheModulesFirstRow)
{
    // Its module's first row at 300: no data before, then the state the
    // first change implies.
    const QList<TraceSegment> expected{{0, 300, NoData}, {300, 500, Off}, {500, 1000, On}};
    EXPECT_EQ(TraceSegments({Change(500, On)}, 0, 1000, 300), expected);
    // An event before the time given is data all the same.
    EXPECT_EQ(TraceSegments({Change(200, On)}, 0, 1000, 300), (QList<TraceSegment>{{0, 200, NoData}, {200, 1000, On}}));
    EXPECT_EQ(TraceSegments({}, 0, 100, 300), (QList<TraceSegment>{{0, 100, NoData}}));
    EXPECT_EQ(
        TraceSegments({Change(500, On)}, 400, 1000, 300), (QList<TraceSegment>{{400, 500, Off}, {500, 1000, On}}));
}

TEST(TraceSegments, StateAtATime)
{
    const QList<TraceSegment> segments = TraceSegments({Change(100, On), Change(250, Off)}, 0, 1000);
    EXPECT_EQ(StateAt(segments, 99), Off);
    EXPECT_EQ(StateAt(segments, 100), On);
    EXPECT_EQ(StateAt(segments, 249), On);
    EXPECT_EQ(StateAt(segments, 250), Off);
    EXPECT_EQ(StateAt(segments, 1000), Unknown);
    EXPECT_EQ(StateAt(segments, -1), Unknown);
}

} // namespace
} // namespace chronel
