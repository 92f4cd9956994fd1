// Seconds since 1984 against Qt's calendar, which agrees with the module's
// every-fourth-year rule for the whole 32-bit range (1916 … 2052 holds no
// century year).
#include "core/model/module_time.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace chronel;

namespace chronel {
void PrintTo(const ModuleDateTime& t, std::ostream* os)
{
    *os << t.year << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute << ':' << t.second;
}
} // namespace chronel

namespace {

ModuleDateTime Expected(qint32 seconds)
{
    const QDateTime t = QDateTime(QDate(1984, 1, 1), QTime(0, 0), QTimeZone::utc()).addSecs(seconds);
    return {t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second()};
}

struct TimeCase {
    qint32 seconds;
    ModuleDateTime expected;
};

class ModuleTime : public ::testing::TestWithParam<TimeCase> { };

TEST_P(ModuleTime, ConvertsByTheFourYearCycle)
{
    EXPECT_EQ(ModuleSecondsToDateTime(GetParam().seconds), GetParam().expected) << GetParam().seconds;
}

INSTANTIATE_TEST_SUITE_P(Landmarks, ModuleTime,
    ::testing::Values(TimeCase{0, {1984, 1, 1, 0, 0, 0}}, TimeCase{31622399, {1984, 12, 31, 23, 59, 59}},
        TimeCase{31622400, {1985, 1, 1, 0, 0, 0}}, TimeCase{5183999, {1984, 2, 29, 23, 59, 59}},
        TimeCase{5184000, {1984, 3, 1, 0, 0, 0}}, TimeCase{31622400 + 5097600, {1985, 3, 1, 0, 0, 0}},
        TimeCase{94694400 - 1, {1986, 12, 31, 23, 59, 59}}, TimeCase{94694400, {1987, 1, 1, 0, 0, 0}},
        TimeCase{126230400, {1988, 1, 1, 0, 0, 0}}, TimeCase{28944000, {1984, 12, 1, 0, 0, 0}},
        TimeCase{3723, {1984, 1, 1, 1, 2, 3}}, TimeCase{-1, {1983, 12, 31, 23, 59, 59}}));

TEST(ModuleTimeRange, AgreesWithTheCalendarOverTheWholeRange)
{
    std::mt19937 random(1984);
    std::uniform_int_distribution<qint32> any(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    for (int i = 0; i < 20000; ++i) {
        const qint32 s = any(random);
        ASSERT_EQ(ModuleSecondsToDateTime(s), Expected(s)) << s;
    }
    for (const qint32 s : {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()})
        EXPECT_EQ(ModuleSecondsToDateTime(s), Expected(s)) << s;
}

// Every day boundary of the first two cycles, where month ends are decided.
TEST(ModuleTimeRange, EveryMidnightOfTwoCycles)
{
    for (qint32 day = 0; day < 2 * 1461; ++day) {
        const qint32 s = day * 86400;
        ASSERT_EQ(ModuleSecondsToDateTime(s), Expected(s)) << s;
        ASSERT_EQ(ModuleSecondsToDateTime(s - 1), Expected(s - 1)) << s - 1;
    }
}

} // namespace
