// The period of a filter from a user's text: from is the first moment it
// names, to the moment the period ends before, a date alone taking in its day.
#include "journal_backend.h"

#include "journal/journal_query.h"

namespace chronel::test {
namespace {

struct BoundCase {
    const char* text;
    const char* from;
    const char* to;
};

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.text; }

class JournalFilterBounds : public ::testing::TestWithParam<BoundCase> { };

TEST_P(JournalFilterBounds, FromAndToInStoredForm)
{
    JournalFilter filter;
    QString error;
    ASSERT_TRUE(filter.setFrom(QString::fromUtf8(GetParam().text), &error)) << error;
    ASSERT_TRUE(filter.setTo(QString::fromUtf8(GetParam().text), &error)) << error;
    EXPECT_EQ(filter.from, QString::fromUtf8(GetParam().from));
    EXPECT_EQ(filter.to, QString::fromUtf8(GetParam().to));
}

INSTANTIATE_TEST_SUITE_P(Texts, JournalFilterBounds,
    ::testing::Values(BoundCase{"2024-03-01", "2024-03-01T00:00:00.000", "2024-03-02T00:00:00.000"},
        BoundCase{"2024-12-31", "2024-12-31T00:00:00.000", "2025-01-01T00:00:00.000"},
        BoundCase{"2024-03-01 13:05", "2024-03-01T13:05:00.000", "2024-03-01T13:05:00.000"},
        BoundCase{"2024-03-01T13:05:07", "2024-03-01T13:05:07.000", "2024-03-01T13:05:07.000"},
        BoundCase{"2024-03-01T13:05:07.5", "2024-03-01T13:05:07.500", "2024-03-01T13:05:07.500"},
        BoundCase{"2024-03-01T13:05:07.042", "2024-03-01T13:05:07.042", "2024-03-01T13:05:07.042"}));

TEST(JournalFilterBoundsWrong, NamesTheText)
{
    for (const char* text : {"2024-02-30", "13:00", "2024-03-01T25:00", "2024-03-01T13:05:07.0421", "yesterday", ""}) {
        JournalFilter filter;
        QString error;
        EXPECT_FALSE(filter.setFrom(QString::fromUtf8(text), &error)) << text;
        EXPECT_TRUE(error.contains(QStringLiteral("\"%1\"").arg(QString::fromUtf8(text)))) << error;
        EXPECT_TRUE(filter.from.isEmpty());
    }
}

// With Z or an offset the text is a UTC time, bound on the rows' UTC times.
TEST(JournalFilterBoundsUtc, ZoneQualifiedTextsBoundTheUtcTime)
{
    JournalFilter filter;
    QString error;
    ASSERT_TRUE(filter.setFrom(QStringLiteral("2026-10-25T02:30+02:00"), &error)) << error.toStdString();
    ASSERT_TRUE(filter.setTo(QStringLiteral("2026-10-25 01:30:00.25Z"), &error)) << error.toStdString();
    EXPECT_EQ(filter.fromUtc, QStringLiteral("2026-10-25T00:30:00.000Z"));
    EXPECT_EQ(filter.toUtc, QStringLiteral("2026-10-25T01:30:00.250Z"));
    EXPECT_TRUE(filter.from.isEmpty() && filter.to.isEmpty());
    ASSERT_TRUE(filter.setFrom(QStringLiteral("2026-10-25T05:00:00-0530"), &error));
    EXPECT_EQ(filter.fromUtc, QStringLiteral("2026-10-25T10:30:00.000Z"));
    // A module time given after a UTC one replaces it.
    ASSERT_TRUE(filter.setFrom(QStringLiteral("2026-10-25 02:30"), &error));
    EXPECT_TRUE(filter.fromUtc.isEmpty());
    EXPECT_EQ(filter.from, QStringLiteral("2026-10-25T02:30:00.000"));
    EXPECT_FALSE(filter.setFrom(QStringLiteral("2026-10-25T02:30+24:00"), &error));
    EXPECT_FALSE(filter.setFrom(QStringLiteral("2026-10-25Z"), &error));
}

TEST(JournalFilterBoundsTime, DateTimesIgnoreTheirZone)
{
    JournalFilter filter;
    filter.setFrom(QDateTime(QDate(2024, 3, 1), QTime(13, 0), Qt::UTC));
    filter.setTo(QDateTime(QDate(2024, 3, 1), QTime(14, 0, 0, 7), Qt::LocalTime));
    EXPECT_EQ(filter.from, QStringLiteral("2024-03-01T13:00:00.000"));
    EXPECT_EQ(filter.to, QStringLiteral("2024-03-01T14:00:00.007"));
}

} // namespace
} // namespace chronel::test
