// The timing chart's time↔pixel mapping: zoom about the pointer, pans kept
// within the span, labels on round steps.
#include "support/qt_printers.h"
#include "ui/time_axis.h"
#include "ui/timing_trace.h"

#include <gtest/gtest.h>

namespace chronel {
namespace {

class TimeAxisTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        from = *JournalTimeMs(QStringLiteral("2024-03-01T13:00:00.000"));
        axis.setWidth(1000);
        axis.setSpan(from, from + 10000); // ten seconds over 1000 px
        axis.showAll();
    }

    qint64 from = 0;
    TimeAxis axis;
};

TEST_F(TimeAxisTest, TheWholeSpanFillsThePlot)
{
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 10);
    EXPECT_DOUBLE_EQ(axis.toX(from), 0);
    EXPECT_DOUBLE_EQ(axis.toX(from + 2500), 250);
    EXPECT_DOUBLE_EQ(axis.toMs(750), from + 7500);
    // A narrower plot shows the same times.
    axis.setWidth(500);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 20);
    EXPECT_DOUBLE_EQ(axis.viewEnd(), from + 10000);
}

TEST_F(TimeAxisTest, ZoomKeepsTheTimeUnderTheAnchor)
{
    const double under = axis.toMs(300);
    axis.zoom(4, 300);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 2.5);
    EXPECT_DOUBLE_EQ(axis.toMs(300), under);
    EXPECT_DOUBLE_EQ(axis.toX(from + 3000), 300);
    EXPECT_DOUBLE_EQ(axis.toX(from + 3100), 340);
    // Out again as far as the span: the view cannot be wider than it.
    axis.zoom(0.01, 300);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 10);
    EXPECT_DOUBLE_EQ(axis.viewStart(), from);
}

TEST_F(TimeAxisTest, ZoomNearAnEdgeStaysWithinTheSpan)
{
    axis.zoom(10, 990); // a second about 13:00:09.9
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 1);
    EXPECT_DOUBLE_EQ(axis.toMs(990), from + 9900);
    // Out about the left edge: the view would pass the span's end, so it
    // moves back rather than keep the anchor.
    axis.zoom(0.5, 0);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), 2);
    EXPECT_DOUBLE_EQ(axis.viewEnd(), from + 10000);
    EXPECT_DOUBLE_EQ(axis.viewStart(), from + 8000);
    // The deepest zoom is bounded.
    axis.zoom(1e9, 500);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), TimeAxis::MinMsPerPixel);
}

TEST_F(TimeAxisTest, ScrollMovesByPixelsAndStopsAtTheEdges)
{
    axis.zoom(2, 0); // the first five seconds
    axis.scroll(100);
    EXPECT_DOUBLE_EQ(axis.viewStart(), from + 500);
    axis.scroll(-1000);
    EXPECT_DOUBLE_EQ(axis.viewStart(), from);
    axis.scroll(100000);
    EXPECT_DOUBLE_EQ(axis.viewEnd(), from + 10000);
}

TEST_F(TimeAxisTest, TicksOnRoundStepsWithLabelsToMatch)
{
    // 10 ms a pixel, labels at least 90 px apart: a step of one second.
    EXPECT_EQ(axis.tickStep(90), 1000);
    const QList<TimeAxis::Tick> ticks = axis.ticks(90);
    ASSERT_EQ(ticks.size(), 11);
    EXPECT_EQ(ticks[0].ms, from);
    EXPECT_EQ(ticks[0].label, QStringLiteral("13:00:00"));
    EXPECT_EQ(ticks[10].label, QStringLiteral("13:00:10"));

    axis.zoom(100, 0); // 0.1 ms a pixel: 10 ms steps, with milliseconds
    EXPECT_EQ(axis.tickStep(90), 10);
    EXPECT_EQ(axis.ticks(90).value(1).label, QStringLiteral("13:00:00.010"));

    TimeAxis day;
    day.setWidth(800);
    day.setSpan(from, from + 2 * 24 * 3600 * 1000LL);
    day.showAll();
    const QList<TimeAxis::Tick> hours = day.ticks(90);
    ASSERT_FALSE(hours.isEmpty());
    EXPECT_EQ(hours[0].label, QStringLiteral("18:00")); // 6-hour steps from midnight
}

} // namespace
} // namespace chronel
