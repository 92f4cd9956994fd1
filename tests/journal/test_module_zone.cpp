// Module times placed on UTC by the zone a site declares: fixed offsets, a
// zone's summer and winter, the hour a fall-back repeats (the module's
// daylight-saving flag picks the pass) and the hour a spring-forward skips.
#include "journal/module_zone.h"

#include <gtest/gtest.h>

namespace chronel {
namespace {

QDateTime Wall(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

ModuleZone Zone(const char* text)
{
    QString error;
    const auto zone = ModuleZone::parse(QString::fromLatin1(text), &error);
    EXPECT_TRUE(zone) << error.toStdString();
    return zone ? *zone : *ModuleZone::parse(QStringLiteral("UTC"), &error);
}

TEST(ModuleZone, DeclarationsAndTheirStoredForm)
{
    QString error;
    for (const auto& [given, stored] :
        std::vector<std::pair<const char*, const char*>>{{"Europe/Berlin", "Europe/Berlin"}, {"UTC", "UTC"},
            {"utc", "UTC"}, {"Z", "UTC"}, {"+05:30", "+05:30"}, {"+0530", "+05:30"}, {"-03", "-03:00"},
            {" America/Argentina/Buenos_Aires ", "America/Argentina/Buenos_Aires"}}) {
        const auto zone = ModuleZone::parse(QString::fromLatin1(given), &error);
        ASSERT_TRUE(zone) << given << ": " << error.toStdString();
        EXPECT_EQ(zone->text(), QString::fromLatin1(stored));
    }
    for (const char* wrong :
        {"", "Europe/Atlantis", "+15:00", "+05:60", "5:30", "../../etc/passwd", "Europe/Berlin x"}) {
        error.clear();
        EXPECT_FALSE(ModuleZone::parse(QString::fromLatin1(wrong), &error)) << wrong;
        EXPECT_TRUE(error.contains(QStringLiteral("a name such as Europe/Berlin")) ||
            error.contains(QStringLiteral("between -12:00 and +14:00")))
            << error.toStdString();
    }
}

TEST(ModuleZone, OffsetsAndSeasons)
{
    const ZonedTime india = Zone("+05:30").toUtc(Wall(2026, 3, 29, 2, 30, 0, 125), std::nullopt);
    EXPECT_EQ(india.fit, ZoneFit::Exact);
    EXPECT_EQ(india.utc, Wall(2026, 3, 28, 21, 0, 0, 125));
    const ModuleZone berlin = Zone("Europe/Berlin");
    EXPECT_EQ(berlin.toUtc(Wall(2026, 1, 15, 12, 0), std::nullopt).utc, Wall(2026, 1, 15, 11, 0));
    EXPECT_EQ(berlin.toUtc(Wall(2026, 7, 15, 12, 0), std::nullopt).utc, Wall(2026, 7, 15, 10, 0));
    // A flag that contradicts an unambiguous time does not move it.
    EXPECT_EQ(berlin.toUtc(Wall(2026, 7, 15, 12, 0), false).utc, Wall(2026, 7, 15, 10, 0));
    EXPECT_EQ(berlin.wallTime(Wall(2026, 7, 15, 10, 0)), Wall(2026, 7, 15, 12, 0));
}

// 2026-10-25 in Berlin: 02:00 … 02:59 comes twice, first in summer time
// (UTC 00:xx), then in winter time (UTC 01:xx); 2026-03-29 skips 02:xx.
TEST(ModuleZone, RepeatedAndSkippedHours)
{
    const ModuleZone berlin = Zone("Europe/Berlin");
    const QDateTime repeated = Wall(2026, 10, 25, 2, 30, 0, 500);
    const ZonedTime first = berlin.toUtc(repeated, true);
    const ZonedTime second = berlin.toUtc(repeated, false);
    EXPECT_EQ(first.fit, ZoneFit::ByDstFlag);
    EXPECT_EQ(first.utc, Wall(2026, 10, 25, 0, 30, 0, 500));
    EXPECT_EQ(second.utc, Wall(2026, 10, 25, 1, 30, 0, 500));
    const ZonedTime unknown = berlin.toUtc(repeated, std::nullopt);
    EXPECT_EQ(unknown.fit, ZoneFit::Repeated);
    EXPECT_FALSE(unknown.utc.isValid());
    EXPECT_EQ(ZoneFitText(unknown.fit), QStringLiteral("repeated hour"));
    // Events of both passes in the order they happened: their UTC times
    // keep it where the wall clock goes back.
    EXPECT_LT(berlin.toUtc(Wall(2026, 10, 25, 2, 59, 59, 999), true).utc,
        berlin.toUtc(Wall(2026, 10, 25, 2, 0, 0, 0), false).utc);
    const ZonedTime skipped = berlin.toUtc(Wall(2026, 3, 29, 2, 30), true);
    EXPECT_EQ(skipped.fit, ZoneFit::Skipped);
    EXPECT_FALSE(skipped.utc.isValid());
    EXPECT_EQ(berlin.toUtc(Wall(2026, 3, 29, 3, 0), std::nullopt).utc, Wall(2026, 3, 29, 1, 0));
}

} // namespace
} // namespace chronel
