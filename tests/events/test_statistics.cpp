// Statistics block through the NTP, run-time and test-mode displays, and the
// test inputs' register words.
#include "core/live/statistics.h"
#include "core/live/test_mode.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <array>

using namespace chronel;

namespace {

using Words = std::array<qint16, 100>;

void PutLong(Words& w, int longIndex, qint32 value)
{
    w[std::size_t(2 * longIndex)] = qint16(quint32(value) & 0xFFFF);
    w[std::size_t(2 * longIndex + 1)] = qint16(quint32(value) >> 16);
}

StatisticsDisplay Apply(const Words& w, StatisticsDisplay d = {})
{
    ApplyStatisticsBlock(w, d, QLocale::c());
    return d;
}

struct ShareCase {
    qint32 count;
    qint64 total;
    const char* text;
};

class TaskShare : public ::testing::TestWithParam<ShareCase> { };

TEST_P(TaskShare, PatternHashHashZeroPointHashPercent)
{
    EXPECT_EQ(TaskShareText(GetParam().count, GetParam().total), QString::fromLatin1(GetParam().text))
        << GetParam().count << "/" << GetParam().total;
}

INSTANTIATE_TEST_SUITE_P(Shares, TaskShare,
    ::testing::Values(ShareCase{1, 2, "50.%"}, ShareCase{1, 3, "33.3%"}, ShareCase{2, 3, "66.7%"},
        ShareCase{1, 8, "12.5%"}, ShareCase{1, 1, "100.%"}, ShareCase{0, 5, "0.%"}, ShareCase{0, 0, "0.%"},
        ShareCase{7, 0, "0.%"}, ShareCase{1, 2000, "0.1%"}, ShareCase{1, 2001, "0.%"}, ShareCase{999, 1000, "99.9%"},
        ShareCase{9999, 10000, "100.%"}, ShareCase{-1, 4, "-25.%"}, ShareCase{-1, 20001, "0.%"},
        ShareCase{2147483647, 8LL * 2147483647, "12.5%"}, ShareCase{3, -4, "-75.%"}));

TEST(Statistics, NtpCountsSocketsAndDroppedPackets)
{
    Words w{};
    for (int k = 0; k < 24; ++k)
        w[std::size_t(k)] = qint16(k * 10);
    w[23] = -5;
    w[75] = 3;
    w[79] = 1200;
    const StatisticsDisplay d = Apply(w);
    EXPECT_EQ(d.ntpCounts[0], QStringLiteral(" 0"));
    EXPECT_EQ(d.ntpCounts[12], QStringLiteral(" 120"));
    EXPECT_EQ(d.ntpCounts[23], QStringLiteral("-5"));
    EXPECT_EQ(d.openSockets, QStringLiteral(" 3"));
    EXPECT_EQ(d.droppedPackets, QStringLiteral(" 1200"));
}

TEST(Statistics, TaskLoadingFromEightLongCounters)
{
    Words w{};
    const qint32 counts[] = {100000, 0, 0, 50000, 0, 0, 50000, 200000}; // spans both halves
    for (int k = 0; k < 8; ++k)
        PutLong(w, 24 + k, counts[k]);
    const StatisticsDisplay d = Apply(w);
    const char* const expected[] = {"25.%", "0.%", "0.%", "12.5%", "0.%", "0.%", "12.5%", "50.%"};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(d.taskShares[std::size_t(k)], QString::fromLatin1(expected[k])) << k;
    const StatisticsDisplay zero = Apply(Words{});
    for (const QString& share : zero.taskShares)
        EXPECT_EQ(share, QStringLiteral("0.%"));
}

TEST(Statistics, ErrorListEntries)
{
    Words w{};
    w[90] = 2; // time 0
    PutLong(w, 41, 31622400 + 3600 + 61);
    w[91] = 9;
    PutLong(w, 42, -1);
    w[92] = 1;
    w[93] = 3;
    w[94] = 4;
    StatisticsDisplay d = Apply(w);
    EXPECT_EQ(d.errorLines[0], QStringLiteral("1984-01-01  00:00:00  Ethernet Controller Reset"));
    EXPECT_EQ(d.errorLines[1], QStringLiteral("1985-01-01  01:01:01  Invalid Error Code"));
    EXPECT_EQ(d.errorLines[2], QStringLiteral("1983-12-31  23:59:59  Real Time Clock Error"));
    EXPECT_EQ(d.errorLines[3], QStringLiteral("1984-01-01  00:00:00  Non-Volital RAM Reset"));
    EXPECT_EQ(d.errorLines[4], QStringLiteral("1984-01-01  00:00:00  Configuration Write Fail"));

    // An empty entry keeps what its line showed.
    w[90] = 0;
    w[91] = 0;
    PutLong(w, 40, 86400);
    d = Apply(w, d);
    EXPECT_EQ(d.errorLines[0], QStringLiteral("1984-01-01  00:00:00  Ethernet Controller Reset"));
    EXPECT_EQ(d.errorLines[1], QStringLiteral("1985-01-01  01:01:01  Invalid Error Code"));
    EXPECT_TRUE(Apply(Words{}).errorLines[0].isEmpty());
}

TEST(Statistics, TestModeStateDecidesWhichButtonIsAvailable)
{
    const StatisticsDisplay unknown;
    EXPECT_TRUE(unknown.normalEnabled());
    EXPECT_TRUE(unknown.testEnabled());
    Words w{};
    w[76] = 21930;
    StatisticsDisplay d = Apply(w);
    EXPECT_TRUE(d.normalEnabled());
    EXPECT_FALSE(d.testEnabled());
    for (const int other : {0, 1, 0x55AB, -21930}) {
        w[76] = qint16(other);
        d = Apply(w, d);
        EXPECT_FALSE(d.normalEnabled()) << other;
        EXPECT_TRUE(d.testEnabled()) << other;
    }
}

TEST(Statistics, ShortBlockChangesNothing)
{
    StatisticsDisplay d;
    d.openSockets = QStringLiteral("kept");
    const std::array<qint16, 99> shortBlock{};
    ApplyStatisticsBlock(shortBlock, d, QLocale::c());
    EXPECT_EQ(d.openSockets, QStringLiteral("kept"));
}

TEST(Statistics, NtpHourCaptions)
{
    EXPECT_EQ(NtpHourCaption(0), QStringLiteral("12:00 Midnight"));
    EXPECT_EQ(NtpHourCaption(1), QStringLiteral("1:00 AM"));
    EXPECT_EQ(NtpHourCaption(11), QStringLiteral("11:00 AM"));
    EXPECT_EQ(NtpHourCaption(12), QStringLiteral("12:00 Noon"));
    EXPECT_EQ(NtpHourCaption(13), QStringLiteral("1:00 PM"));
    EXPECT_EQ(NtpHourCaption(23), QStringLiteral("11:00 PM"));
}

TEST(TestInputs, BoxesToRegisterWords)
{
    TestInputs boxes{};
    boxes[0] = true;
    boxes[31] = true;
    EXPECT_EQ(TestInputWords(boxes), (std::array<qint16, 2>{0x0001, qint16(0x8000)}));
    TestInputs all;
    all.fill(true);
    EXPECT_EQ(TestInputWords(all), (std::array<qint16, 2>{-1, -1}));
    TestInputs some{};
    some[4] = some[15] = some[16] = some[20] = true;
    EXPECT_EQ(TestInputWords(some), (std::array<qint16, 2>{qint16(0x8010), 0x0011}));
    EXPECT_EQ(TestInputWords(TestInputs{}), (std::array<qint16, 2>{0, 0}));
}

} // namespace
