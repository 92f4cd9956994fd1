// Progress bar patterns, the progress percentage, FlashEnd and the block
// layout of the image.
#include "core/flash/flash_image.h"
#include "core/flash/flash_progress.h"

#include <gtest/gtest.h>

namespace chronel {
namespace {

struct PatternRange {
    int from;
    int to;
    quint16 pattern;
};

void PrintTo(const PatternRange& r, std::ostream* os) { *os << r.from << "…" << r.to << " %"; }

// The module's bar: each range and its pattern, both ends checked.
const PatternRange PatternRanges[] = {
    {0, 2, 0x0000},
    {3, 8, 0x0001},
    {9, 14, 0x0003},
    {15, 21, 0x0007},
    {22, 27, 0x000F},
    {28, 33, 0x001F},
    {34, 39, 0x003F},
    {40, 46, 0x007F},
    {47, 52, 0x00FF},
    {53, 58, 0x01FF},
    {59, 64, 0x03FF},
    {65, 71, 0x07FF},
    {72, 77, 0x0FFF},
    {78, 83, 0x1FFF},
    {84, 89, 0x3FFF},
    {90, 96, 0x7FFF},
    {97, 100, 0xFFFF},
};

class BarPattern : public testing::TestWithParam<PatternRange> { };

TEST_P(BarPattern, WholeRangeGivesItsPattern)
{
    for (int p = GetParam().from; p <= GetParam().to; ++p)
        EXPECT_EQ(ProgressBarPattern(p), GetParam().pattern) << p << " %";
}

INSTANTIATE_TEST_SUITE_P(Ranges, BarPattern, testing::ValuesIn(PatternRanges),
    [](const testing::TestParamInfo<PatternRange>& info) { return "From" + std::to_string(info.param.from); });

TEST(BarPattern, OutsideZeroToHundred)
{
    EXPECT_EQ(ProgressBarPattern(-5), 0x0000);
    EXPECT_EQ(ProgressBarPattern(250), 0xFFFF);
    EXPECT_EQ(ProgressBarPattern(50), 0x00FF);
}

struct PercentCase {
    quint32 offset;
    quint32 end;
    int percent;
};

void PrintTo(const PercentCase& c, std::ostream* os) { *os << c.offset << " of " << c.end; }

class ProgressPercent : public testing::TestWithParam<PercentCase> { };

TEST_P(ProgressPercent, RoundedAndClamped)
{
    EXPECT_EQ(FlashProgressPercent(GetParam().offset, GetParam().end), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressPercent,
    testing::Values(PercentCase{0, 200, 0}, PercentCase{128, 200, 64}, PercentCase{256, 200, 100},
        PercentCase{128, 256, 50}, PercentCase{1, 200, 0}, // 0.5 → 0
        PercentCase{3, 200, 2},                            // 1.5 → 2
        PercentCase{5, 200, 2},                            // 2.5 → 2
        PercentCase{0x3D000, 0x79FFF, 50}, PercentCase{0x7A000, 0x79FFF, 100}, PercentCase{128, 1, 100},
        PercentCase{5, 0, 0}));

TEST(FlashEnd, HighestDataAtOrBelowTheLimit)
{
    FlashImage image;
    EXPECT_FALSE(FindFlashEnd(image).has_value());

    const quint8 one = 0x12;
    image.store(200, &one, 1);
    EXPECT_EQ(FindFlashEnd(image), 200u);

    image.store(FlashProgramLimit + 1, &one, 1);
    image.store(FlashImageLast, &one, 1);
    EXPECT_EQ(FindFlashEnd(image), 200u) << "data above the limit is never programmed";

    image.store(FlashProgramLimit, &one, 1);
    EXPECT_EQ(FindFlashEnd(image), FlashProgramLimit);

    FlashImage onlyFirst;
    onlyFirst.store(0, &one, 1);
    EXPECT_EQ(FindFlashEnd(onlyFirst), 0u);
}

TEST(FlashImage, BlockWordsAreLowByteFirst)
{
    FlashImage image;
    const quint8 bytes[] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(image.store(128, bytes, 4));
    EXPECT_EQ(image.blockWord(128, 0), 0x0201);
    EXPECT_EQ(image.blockWord(128, 1), 0x0403);
    EXPECT_EQ(image.blockWord(128, 2), 0xFFFF);
    EXPECT_EQ(image.blockWord(0, 63), 0xFFFF);
}

TEST(FlashImage, StoreRefusesWhatDoesNotFit)
{
    FlashImage image;
    const quint8 bytes[2] = {0, 0};
    EXPECT_TRUE(image.store(FlashImageLast, bytes, 1));
    EXPECT_FALSE(image.store(FlashImageLast, bytes, 2));
    EXPECT_FALSE(image.store(FlashImageSize, bytes, 1));
    EXPECT_FALSE(image.store(quint64(1) << 40, bytes, 1));
    EXPECT_EQ(image.at(FlashImageLast), 0);
    EXPECT_EQ(image.at(FlashImageSize + 5), ErasedFlashByte);
}

} // namespace
} // namespace chronel
