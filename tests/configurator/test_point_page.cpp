#include "core/model/point_page.h"
#include "core/model/point_status.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

using namespace chronel;

namespace {

class PointPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillPointDefaults(table);
        page.load(table);
    }
    PointTable table{};
    PointPage page;
};

TEST_F(PointPageTest, StartShowsPointsOneToEightWithDefaults)
{
    for (int r = 0; r < PointPage::RowCount; ++r) {
        const PointRow& row = page.row(r);
        EXPECT_EQ(row.SsPcPointNum, QStringLiteral(" %1").arg(r + 1));
        EXPECT_EQ(row.SsPcEnable, Check::Checked);
        EXPECT_EQ(row.SsPcFilter, QStringLiteral(" 20"));
        EXPECT_EQ(row.SsPcDebounce, QStringLiteral(" 20"));
        EXPECT_EQ(row.SsPcChatter, QStringLiteral(" 0"));
        EXPECT_EQ(row.SsPcDescription, QStringLiteral("Point  %1").arg(r + 1));
        EXPECT_EQ(row.SsPcOff, QStringLiteral("Off"));
        EXPECT_EQ(row.SsPcOn, QStringLiteral("On"));
    }
}

struct ScrollCase {
    int requested;
    int top;
};
class PointPageScrollTest : public PointPageTest, public ::testing::WithParamInterface<ScrollCase> { };

TEST_P(PointPageScrollTest, RowsShowTheEightPointsFromTheTop)
{
    page.show(GetParam().requested, table);
    EXPECT_EQ(page.top(), GetParam().top);
    for (int r = 0; r < PointPage::RowCount; ++r) {
        EXPECT_EQ(page.row(r).SsPcPointNum, QStringLiteral(" %1").arg(GetParam().top + r + 1));
        EXPECT_EQ(page.row(r).SsPcDescription, QStringLiteral("Point  %1").arg(GetParam().top + r + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Tops, PointPageScrollTest,
    ::testing::Values(ScrollCase{24, 24}, ScrollCase{8, 8}, ScrollCase{1, 1}, ScrollCase{0, 0}, ScrollCase{25, 24},
        ScrollCase{-3, 0}));

TEST_F(PointPageTest, ScrollToTwentyFourShowsPoints25To32)
{
    page.show(24, table);
    EXPECT_EQ(page.row(0).SsPcPointNum, QStringLiteral(" 25"));
    EXPECT_EQ(page.row(7).SsPcPointNum, QStringLiteral(" 32"));
}

TEST_F(PointPageTest, FilterAbove65535ComesBackAs65535)
{
    page.row(2).SsPcFilter = QStringLiteral("70000");
    page.row(3).SsPcFilter = QStringLiteral("40000");
    page.row(4).SsPcDebounce = QStringLiteral("-3");
    const QList<FieldClamp> clamps = page.show(8, table);
    EXPECT_EQ(table[2].SsPcFilter, 65535);
    EXPECT_EQ(table[3].SsPcFilter, 40000);
    EXPECT_EQ(table[4].SsPcDebounce, 0);
    ASSERT_EQ(clamps.size(), 2);
    EXPECT_EQ(clamps[0].key(), QStringLiteral("txtSsPcFilter(2)"));
    EXPECT_EQ(clamps[1].key(), QStringLiteral("txtSsPcDebounce(4)"));
    page.show(0, table);
    EXPECT_EQ(page.row(2).SsPcFilter, QStringLiteral(" 65535"));
    EXPECT_EQ(page.row(3).SsPcFilter, QStringLiteral(" 40000"));
    EXPECT_EQ(page.row(4).SsPcDebounce, QStringLiteral(" 0"));
}

TEST_F(PointPageTest, UncheckingRowZeroAtTopEightDisablesPointNine)
{
    page.show(8, table);
    page.row(0).SsPcEnable = Check::Unchecked;
    page.show(16, table);
    EXPECT_TRUE(table[8].SsPcDisabled);
    for (int p = 0; p < PointCount; ++p) {
        if (p != 8) {
            EXPECT_FALSE(table[std::size_t(p)].SsPcDisabled) << p;
        }
    }
    page.show(8, table);
    EXPECT_EQ(page.row(0).SsPcEnable, Check::Unchecked);
    page.row(0).SsPcEnable = Check::Checked;
    page.store(table);
    EXPECT_FALSE(table[8].SsPcDisabled);
}

TEST_F(PointPageTest, GreyBoxKeepsThePointEnabled)
{
    page.row(1).SsPcEnable = Check::Grey;
    page.store(table);
    EXPECT_FALSE(table[1].SsPcDisabled);
}

TEST_F(PointPageTest, ChatterOutsideSixteenBitsIsClampedRewrittenAndReported)
{
    page.row(5).SsPcChatter = QStringLiteral("40000");
    page.row(6).SsPcChatter = QStringLiteral("-40000");
    page.row(7).SsPcChatter = QStringLiteral("-32768");
    const QList<FieldClamp> clamps = page.store(table);
    EXPECT_EQ(table[5].SsPcChatter, 32767);
    EXPECT_EQ(table[6].SsPcChatter, -32768);
    EXPECT_EQ(table[7].SsPcChatter, -32768);
    EXPECT_EQ(page.row(5).SsPcChatter, QStringLiteral(" 32767"));
    EXPECT_EQ(page.row(6).SsPcChatter, QStringLiteral("-32768"));
    ASSERT_EQ(clamps.size(), 2);
    EXPECT_EQ(clamps[0].key(), QStringLiteral("txtSsPcChatter(5)"));
    EXPECT_TRUE(clamps[0].note().contains(QStringLiteral("40000")));
}

TEST_F(PointPageTest, NonNumbersStoreZeroAndTextsAsTheyStand)
{
    page.row(0).SsPcFilter = QStringLiteral("fast");
    page.row(0).SsPcDescription = QStringLiteral("  Breaker  ");
    page.store(table);
    EXPECT_EQ(table[0].SsPcFilter, 0);
    EXPECT_EQ(table[0].SsPcDescription, QStringLiteral("  Breaker  "));
}

TEST_F(PointPageTest, StoreThenLoadKeepsTheRowsFixed)
{
    page.show(13, table);
    const PointRow before = page.row(3);
    page.store(table);
    page.load(table);
    EXPECT_EQ(page.row(3), before);
}

TEST(PointDefaults, DescriptionHasTwoBlanks)
{
    EXPECT_EQ(DefaultPointDescription(7), QStringLiteral("Point  7"));
    EXPECT_EQ(DefaultPointDescription(32), QStringLiteral("Point  32"));
    const PointSettings p = DefaultPoint(0);
    EXPECT_EQ(p.SsPcFilter, 20);
    EXPECT_EQ(p.SsPcDebounce, 20);
    EXPECT_EQ(p.SsPcChatter, 0);
    EXPECT_FALSE(p.SsPcDisabled);
    EXPECT_EQ(p.SsPcOff, QStringLiteral("Off"));
    EXPECT_EQ(p.SsPcOn, QStringLiteral("On"));
}

struct StatusCase {
    quint16 w51, w52;
    std::vector<int> lit; // point numbers 1 … 32
};
class PointStatusTest : public ::testing::TestWithParam<StatusCase> { };
TEST_P(PointStatusTest, GreenExactlyForTheSetBits)
{
    const PointStatusIndicators colours = PaintPointStatus(GetParam().w51, GetParam().w52);
    for (int point = 1; point <= 32; ++point) {
        const bool lit = std::find(GetParam().lit.begin(), GetParam().lit.end(), point) != GetParam().lit.end();
        EXPECT_EQ(colours[std::size_t(point - 1)], lit ? IndicatorColour::Green : IndicatorColour::ButtonFace)
            << "point " << point;
    }
}
INSTANTIATE_TEST_SUITE_P(Words, PointStatusTest,
    ::testing::Values(StatusCase{0x0001, 0x8000, {1, 32}}, StatusCase{0, 0, {}}, StatusCase{0x8000, 0x0001, {16, 17}},
        StatusCase{0x00F0, 0x0100, {5, 6, 7, 8, 25}}));

} // namespace
