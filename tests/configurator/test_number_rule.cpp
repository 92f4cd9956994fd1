#include "core/fields/number_rule.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace chronel;

namespace {

struct LeadingCase {
    const char* text;
    double expected;
};

class LeadingNumberTest : public ::testing::TestWithParam<LeadingCase> { };

TEST_P(LeadingNumberTest, ReadsTheLeadingNumber)
{
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(LeadingNumber(QString::fromUtf8(c.text)), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
    ::testing::Values(LeadingCase{"", 0}, LeadingCase{"abc", 0}, LeadingCase{"   ", 0}, LeadingCase{"20", 20},
        LeadingCase{" 20", 20}, LeadingCase{"\t 7", 7}, LeadingCase{"-5", -5}, LeadingCase{"+5", 5},
        LeadingCase{"- 5", 0}, LeadingCase{"12abc", 12}, LeadingCase{"1.5", 1.5}, LeadingCase{".5", 0.5},
        LeadingCase{"5.", 5}, LeadingCase{"-.25x", -0.25}, LeadingCase{"1e3", 1000}, LeadingCase{"1E-2", 0.01},
        LeadingCase{"12e", 12}, LeadingCase{"12e+", 12}, LeadingCase{"3e+2z", 300}, LeadingCase{"1 2", 1},
        LeadingCase{"1,5", 1}, LeadingCase{"0x10", 0}, LeadingCase{".", 0}, LeadingCase{"-", 0}, LeadingCase{"1..2", 1},
        LeadingCase{"1e-400", 0}, LeadingCase{"0070000", 70000}));

TEST(LeadingNumber, HugeExponentIsInfiniteNotUndefined)
{
    EXPECT_TRUE(std::isinf(LeadingNumber(u"1e400")));
    EXPECT_GT(LeadingNumber(u"1e400"), 0);
    EXPECT_LT(LeadingNumber(u"-1e400"), 0);
}

struct RoundCase {
    double value;
    double expected;
};

class RoundHalfEvenTest : public ::testing::TestWithParam<RoundCase> { };

TEST_P(RoundHalfEvenTest, RoundsHalvesToEven)
{
    EXPECT_EQ(RoundHalfEven(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, RoundHalfEvenTest,
    ::testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2}, RoundCase{2.5, 2}, RoundCase{3.5, 4}, RoundCase{-0.5, 0},
        RoundCase{-1.5, -2}, RoundCase{-2.5, -2}, RoundCase{2.4999, 2}, RoundCase{2.5001, 3}, RoundCase{-2.6, -3},
        RoundCase{50.5, 50}, RoundCase{51.5, 52}, RoundCase{32767.5, 32768}, RoundCase{-32768.5, -32768},
        RoundCase{7, 7}));

TEST(NumberText, BlankInPlaceOfTheSign)
{
    EXPECT_EQ(NumberText(20), QStringLiteral(" 20"));
    EXPECT_EQ(NumberText(0), QStringLiteral(" 0"));
    EXPECT_EQ(NumberText(-5), QStringLiteral("-5"));
    EXPECT_EQ(NumberText(-32768), QStringLiteral("-32768"));
    EXPECT_EQ(NumberText(65535), QStringLiteral(" 65535"));
}

struct FieldCase {
    const char* text;
    qint16 value;
    bool clamped;
};

class FieldNumberTest : public ::testing::TestWithParam<FieldCase> { };

TEST_P(FieldNumberTest, SixteenBitEdges)
{
    const auto& c = GetParam();
    const FieldNumber n = ReadFieldNumber(QString::fromUtf8(c.text));
    EXPECT_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.clamped, c.clamped) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Edges, FieldNumberTest,
    ::testing::Values(FieldCase{"32767", 32767, false}, FieldCase{"32767.4", 32767, false},
        FieldCase{"32767.5", 32767, true}, FieldCase{"32768", 32767, true}, FieldCase{"-32768", -32768, false},
        FieldCase{"-32768.5", -32768, false}, FieldCase{"-32768.6", -32768, true}, FieldCase{"-32769", -32768, true},
        FieldCase{"99999999999999999999", 32767, true}, FieldCase{"1e400", 32767, true},
        FieldCase{"-1e400", -32768, true}, FieldCase{"abc", 0, false}, FieldCase{" -5 hours", -5, false},
        FieldCase{"0.5", 0, false}, FieldCase{"1.5", 2, false}));

TEST(ClampRounded, InfinitiesAndNaNStayInRange)
{
    EXPECT_EQ(ClampRounded(std::numeric_limits<double>::infinity(), 0, 255), 255);
    EXPECT_EQ(ClampRounded(-std::numeric_limits<double>::infinity(), 0, 255), 0);
    EXPECT_EQ(ClampRounded(std::numeric_limits<double>::quiet_NaN(), 0, 255), 0);
    EXPECT_EQ(ClampRounded(300, 0, 255), 255);
    EXPECT_EQ(ClampRounded(-4, 0, 255), 0);
    EXPECT_EQ(ClampRounded(17, 0, 255), 17);
}

} // namespace
