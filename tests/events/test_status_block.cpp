// Status block words 0 … 23 through the Time Setup and GPS Data decoding, and
// the shortest single-precision text of the GPS values.
#include "core/fields/single_text.h"
#include "core/live/status_block.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace chronel;

namespace {

using Words = std::array<qint16, 24>;

void PutFloat(Words& w, int floatIndex, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    w[std::size_t(2 * floatIndex)] = qint16(bits & 0xFFFF);
    w[std::size_t(2 * floatIndex + 1)] = qint16(bits >> 16);
}

Words Block(int hour = 9, int minute = 5, int second = 7)
{
    Words w{};
    w[4] = 3;
    w[5] = 17;
    w[6] = 2024;
    w[7] = qint16(hour);
    w[8] = qint16(minute);
    w[9] = qint16(second);
    return w;
}

StatusDisplay Apply(const Words& w, StatusDisplay d = {})
{
    ApplyStatusBlock(w, d, QLocale::c());
    return d;
}

struct SingleCase {
    float value;
    const char* text;
};

class SingleTextTest : public ::testing::TestWithParam<SingleCase> { };

TEST_P(SingleTextTest, ShortestForm)
{
    EXPECT_EQ(SingleText(GetParam().value), QString::fromLatin1(GetParam().text)) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, SingleTextTest,
    ::testing::Values(SingleCase{4012.5f, " 4012.5"}, SingleCase{-4012.5f, "-4012.5"}, SingleCase{0.0f, " 0"},
        SingleCase{-0.0f, " 0"}, SingleCase{0.1f, " 0.1"}, SingleCase{-12.75f, "-12.75"},
        SingleCase{3.14159274f, " 3.141593"}, SingleCase{1234567.0f, " 1234567"}, SingleCase{100000.0f, " 100000"},
        SingleCase{9999999.0f, " 9999999"}, SingleCase{1e7f, " 1E+07"}, SingleCase{12345678.0f, " 1.234568E+07"},
        SingleCase{0.0001f, " 0.0001"}, SingleCase{0.00012f, " 0.00012"}, SingleCase{0.00001f, " 1E-05"},
        SingleCase{-1.5e-7f, "-1.5E-07"}, SingleCase{3.4028235e38f, " 3.402823E+38"}, SingleCase{1e-45f, " 1E-45"},
        SingleCase{std::numeric_limits<float>::infinity(), " Inf"},
        SingleCase{-std::numeric_limits<float>::infinity(), "-Inf"},
        SingleCase{std::numeric_limits<float>::quiet_NaN(), " NaN"}));

// Any single reads back to within the seven digits the form keeps.
TEST(SingleTextRange, ReadsBackWithinSevenDigits)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> bits;
    for (int i = 0; i < 20000; ++i) {
        const float v = std::bit_cast<float>(bits(random));
        if (!std::isfinite(v) || std::fpclassify(v) == FP_SUBNORMAL)
            continue;
        const QString text = SingleText(v);
        ASSERT_TRUE(text.startsWith(v < 0 ? u'-' : u' ')) << text.toStdString();
        bool ok = false;
        const double back = text.trimmed().toDouble(&ok);
        ASSERT_TRUE(ok) << text.toStdString();
        ASSERT_LE(std::fabs(back - double(v)), std::fabs(double(v)) * 5.1e-7) << text.toStdString();
        QString digits = text.trimmed().remove(u'-').remove(u'.').section(u'E', 0, 0);
        while (digits.startsWith(u'0') && digits.size() > 1)
            digits.remove(0, 1);
        ASSERT_LE(digits.size(), 7) << text.toStdString();
    }
}

TEST(StatusBlock, TimeDateAndDstSuffix)
{
    Words w = Block(9, 5, 7);
    EXPECT_EQ(Apply(w).serTime, QStringLiteral("9:05:07"));
    w[23] = 1;
    EXPECT_EQ(Apply(w).serTime, QStringLiteral("9:05:07  DST"));
    w[23] = 3; // only bit 0 counts
    EXPECT_EQ(Apply(w).serTime, QStringLiteral("9:05:07  DST"));
    w[23] = 2;
    EXPECT_EQ(Apply(w).serTime, QStringLiteral("9:05:07"));
    EXPECT_EQ(Apply(Block(23, 59, 0)).serTime, QStringLiteral("23:59:00"));
    EXPECT_EQ(Apply(w).serDate, QStringLiteral("2024-03-17"));
    w[4] = 13;
    EXPECT_EQ(Apply(w).serDate, QStringLiteral("2024-13-17"));
}

TEST(StatusBlock, GpsFixTextAndUnknownFixKeepsTheOldText)
{
    const char* const texts[] = {"No Fix", "Non-differential Fix", "Differential Fix"};
    Words w = Block();
    for (int fix = 0; fix < 3; ++fix) {
        w[10] = qint16(fix);
        EXPECT_EQ(Apply(w).gpsStatus, QString::fromLatin1(texts[fix]));
    }
    w[10] = 6;
    const StatusDisplay estimated = Apply(w);
    EXPECT_EQ(estimated.gpsStatus, QStringLiteral("Estimated"));
    for (const int other : {3, 4, 5, 7, -1}) {
        w[10] = qint16(other);
        EXPECT_EQ(Apply(w, estimated).gpsStatus, QStringLiteral("Estimated")) << other;
    }
}

struct SourceCase {
    int word1;
    std::array<Lamp, 4> lamps; // GPS, IRIG-B, SER, Internal
};

class TimeSource : public ::testing::TestWithParam<SourceCase> { };

constexpr Lamp G = Lamp::Green, O = Lamp::ButtonFace, Y = Lamp::Yellow;

TEST_P(TimeSource, LightsTheSource)
{
    Words w = Block();
    w[1] = qint16(GetParam().word1);
    EXPECT_EQ(Apply(w).timeSource, GetParam().lamps) << GetParam().word1;
}

INSTANTIATE_TEST_SUITE_P(Words, TimeSource,
    ::testing::Values(SourceCase{1, {G, O, O, O}}, SourceCase{2, {O, G, O, O}}, SourceCase{4, {O, O, G, O}},
        SourceCase{0, {O, O, O, G}}, SourceCase{8, {Y, O, O, G}}, SourceCase{16, {Y, O, O, G}},
        SourceCase{24, {Y, O, O, G}}, SourceCase{32, {O, O, O, G}}, SourceCase{9, {G, O, O, O}},
        SourceCase{0xFF02, {O, G, O, O}}));

TEST(StatusBlock, UndefinedSourcesLeaveTheIndicatorsAsTheyWere)
{
    Words w = Block();
    w[1] = 8;
    const StatusDisplay before = Apply(w);
    for (const int source : {3, 5, 6, 7, 15}) {
        w[1] = qint16(source);
        EXPECT_EQ(Apply(w, before).timeSource, before.timeSource) << source;
    }
}

TEST(StatusBlock, TimeQualityLightsOneOfFour)
{
    Words w = Block();
    for (int q = 0; q < 8; ++q) {
        w[22] = qint16(q | 0x40);
        const StatusDisplay d = Apply(w);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d.timeQuality[std::size_t(i)], i == (q & 3) ? G : O) << q;
    }
}

TEST(StatusBlock, SatellitesAndPosition)
{
    Words w = Block();
    w[11] = 7;
    PutFloat(w, 6, 4012.5f);
    PutFloat(w, 7, -7358.25f);
    PutFloat(w, 8, -12.5f);
    PutFloat(w, 9, 0.1f);
    PutFloat(w, 10, 359.9f);
    StatusDisplay d = Apply(w);
    EXPECT_EQ(d.satellites, QStringLiteral(" 7"));
    EXPECT_EQ(d.latitude, QStringLiteral(" 4012.5 N"));
    EXPECT_EQ(d.longitude, QStringLiteral(" 7358.25 W"));
    EXPECT_EQ(d.altitude, QStringLiteral("-12.5"));
    EXPECT_EQ(d.speed, QStringLiteral(" 0.1"));
    EXPECT_EQ(d.course, QStringLiteral(" 359.9"));

    PutFloat(w, 6, -4012.5f);
    PutFloat(w, 7, 0.0f);
    d = Apply(w);
    EXPECT_EQ(d.latitude, QStringLiteral(" 4012.5 S"));
    EXPECT_EQ(d.longitude, QStringLiteral(" 0 W"));
    PutFloat(w, 6, 0.0f);
    PutFloat(w, 7, 12.0f);
    d = Apply(w);
    EXPECT_EQ(d.latitude, QStringLiteral(" 0 S"));
    EXPECT_EQ(d.longitude, QStringLiteral(" 12 E"));
    w[11] = -1;
    EXPECT_EQ(Apply(w).satellites, QStringLiteral("-1"));
}

TEST(StatusBlock, ShortBlockChangesNothing)
{
    StatusDisplay d;
    d.serTime = QStringLiteral("kept");
    const std::array<qint16, 23> shortBlock{};
    ApplyStatusBlock(shortBlock, d, QLocale::c());
    EXPECT_EQ(d.serTime, QStringLiteral("kept"));
}

} // namespace
