// The register buffer's typed views: byte and word orders, index clamping,
// BCD conversions and the string view.
#include "regaccess/control_site.h"
#include "regaccess/plctag.h"
#include "regaccess/register_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace regaccess {
namespace {

TEST(RegisterBufferTest, StartsZeroed)
{
    RegisterBuffer buffer;
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(buffer.byte(i), 0) << i;
}

struct ClampCase {
    const char* name;
    int written;  // index written with a marker value
    int readBack; // index the marker is read from
    int (*read)(const RegisterBuffer&, int);
    void (*write)(RegisterBuffer&, int, int);
};

int ReadWord(const RegisterBuffer& b, int i) { return b.word(i); }
void WriteWord(RegisterBuffer& b, int i, int v) { b.setWord(i, v); }
int ReadByte(const RegisterBuffer& b, int i) { return b.byte(i); }
void WriteByte(RegisterBuffer& b, int i, int v) { b.setByte(i, v); }
int ReadLong(const RegisterBuffer& b, int i) { return b.longValue(i); }
void WriteLong(RegisterBuffer& b, int i, int v) { b.setLongValue(i, v); }

class IndexClampTest : public ::testing::TestWithParam<ClampCase> { };

TEST_P(IndexClampTest, OutOfRangeIndexesUseTheNearestElement)
{
    const ClampCase& c = GetParam();
    RegisterBuffer buffer;
    c.write(buffer, c.written, 77);
    EXPECT_EQ(c.read(buffer, c.readBack), 77);
}

INSTANTIATE_TEST_SUITE_P(Views, IndexClampTest,
    ::testing::Values(ClampCase{"word_negative", 0, -3, ReadWord, WriteWord},
        ClampCase{"word_above", 255, 300, ReadWord, WriteWord},
        ClampCase{"word_write_above", 1000, 255, ReadWord, WriteWord},
        ClampCase{"byte_above", 511, 600, ReadByte, WriteByte}, ClampCase{"byte_negative", -7, 0, ReadByte, WriteByte},
        ClampCase{"long_above", 127, 200, ReadLong, WriteLong}, ClampCase{"long_negative", -1, 0, ReadLong, WriteLong}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegisterBufferTest, BitIndexClampsToTheTopBit)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0x8000);
    EXPECT_TRUE(buffer.bit(0, 20));
    EXPECT_FALSE(buffer.bit(0, -1)); // bit 0
    buffer.setBit(300, 3, true);     // word 255
    EXPECT_EQ(buffer.word(255), 0x0008);
    buffer.setBit(255, 3, false);
    EXPECT_EQ(buffer.word(255), 0);
}

TEST(RegisterBufferTest, WordsAreLittleEndianInTheByteView)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0x1234);
    EXPECT_EQ(buffer.byte(0), 0x34);
    EXPECT_EQ(buffer.byte(1), 0x12);
    buffer.setWord(1, 0xFFFF);
    EXPECT_EQ(buffer.word(1), -1);
    buffer.setByte(4, 0x1AB); // low 8 bits
    EXPECT_EQ(buffer.byte(4), 0xAB);
}

TEST(RegisterBufferTest, LongsTakeTheLowHalfFromTheLowerWord)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 2);
    buffer.setWord(1, 1);
    EXPECT_EQ(buffer.longValue(0), 65538);
    buffer.setLongValue(3, -2);
    EXPECT_EQ(buffer.word(6), -2);
    EXPECT_EQ(buffer.word(7), -1);
}

TEST(RegisterBufferTest, FloatsShareTheLongBytes)
{
    RegisterBuffer buffer;
    buffer.setFloatValue(2, 1.5f);
    EXPECT_EQ(buffer.longValue(2), 0x3FC00000);
    buffer.setLongValue(5, 0x7FC00000);
    EXPECT_TRUE(std::isnan(buffer.floatValue(5)));
}

struct BcdWordCase {
    int raw;
    int reads;
};

class BcdWordReadTest : public ::testing::TestWithParam<BcdWordCase> { };

TEST_P(BcdWordReadTest, ReadsDecimalDigitsUpToTheFirstNonDigitNibble)
{
    RegisterBuffer buffer;
    buffer.setWord(9, GetParam().raw);
    EXPECT_EQ(buffer.bcdWord(9), GetParam().reads);
}

INSTANTIATE_TEST_SUITE_P(Values, BcdWordReadTest,
    ::testing::Values(BcdWordCase{0x1234, 1234}, BcdWordCase{0x9999, 9999}, BcdWordCase{0x12A4, 12},
        BcdWordCase{0x8001, 8001}, BcdWordCase{0xA123, 0}, BcdWordCase{0x0000, 0}, BcdWordCase{0x0950, 950}));

struct BcdWordWriteCase {
    int value;
    int stored;
};

class BcdWordWriteTest : public ::testing::TestWithParam<BcdWordWriteCase> { };

TEST_P(BcdWordWriteTest, PacksOneDigitPerNibbleWithinZeroTo9999)
{
    RegisterBuffer buffer;
    buffer.setBcdWord(0, GetParam().value);
    EXPECT_EQ(static_cast<std::uint16_t>(buffer.word(0)), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Values, BcdWordWriteTest,
    ::testing::Values(BcdWordWriteCase{1234, 0x1234}, BcdWordWriteCase{12345, 0x9999}, BcdWordWriteCase{-5, 0},
        BcdWordWriteCase{7, 0x0007}, BcdWordWriteCase{9999, 0x9999}));

TEST(RegisterBufferTest, BcdLongSpansTwoWordsHighDigitsInTheUpperWord)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0x5678);
    buffer.setWord(1, 0x1234);
    EXPECT_EQ(buffer.bcdLong(0), 12345678);

    buffer.setBcdLong(0, 123);
    EXPECT_EQ(buffer.word(0), 0x0123);
    EXPECT_EQ(buffer.word(1), 0);
    buffer.setBcdLong(1, -4);
    EXPECT_EQ(buffer.longValue(1), 0);
    buffer.setBcdLong(2, 123456789);
    EXPECT_EQ(static_cast<std::uint32_t>(buffer.longValue(2)), 0x99999999u);
    EXPECT_EQ(buffer.bcdLong(2), 99999999);
    buffer.setLongValue(3, 0x12F45678);
    EXPECT_EQ(buffer.bcdLong(3), 12);
}

TEST(StringViewTest, WritesHighByteFirstAndRoundsSizeUpToWords)
{
    RegisterBuffer buffer;
    buffer.setWord(40, 0x7777);
    EXPECT_EQ(writeString(buffer, "ABC"), 2);
    EXPECT_EQ(buffer.word(0), 0x4142);
    EXPECT_EQ(buffer.word(1), 0x4300);
    EXPECT_EQ(buffer.word(40), 0) << "the buffer is zeroed first";
    EXPECT_EQ(readString(buffer, 2), std::string("ABC\0", 4));
}

TEST(StringViewTest, EmptyTextLeavesOneZeroWord)
{
    RegisterBuffer buffer;
    buffer.setWord(0, 0x1111);
    EXPECT_EQ(writeString(buffer, ""), 1);
    EXPECT_EQ(buffer.word(0), 0);
}

TEST(StringViewTest, LongTextIsCutAtTheBufferAndReadsAreBounded)
{
    RegisterBuffer buffer;
    const std::string text(700, 'x');
    EXPECT_EQ(writeString(buffer, text), 256);
    EXPECT_EQ(readString(buffer, 1000).size(), 512u);
    EXPECT_EQ(readString(buffer, -3).size(), 0u);
}

TEST(StringViewTest, ControlReadsEmptyInDesignModeAndIgnoresWritesThenAndWhenDisabled)
{
    ControlSite site;
    Plctag control(nullptr, &site);
    control.setStrVal(QStringLiteral("ABC"));
    EXPECT_EQ(control.Size(), 2);
    EXPECT_EQ(control.StrVal(), QString::fromLatin1("ABC\0", 4));

    site.setUserMode(false);
    EXPECT_EQ(control.StrVal(), QString());
    control.setStrVal(QStringLiteral("WXYZ12"));
    EXPECT_EQ(control.Size(), 2);

    site.setUserMode(true);
    site.setEnabled(false);
    control.setStrVal(QStringLiteral("WXYZ12"));
    EXPECT_EQ(control.WordVal(0), 0x4142);
}

TEST(CursorTest, ValuePropertiesFollowElementAndBitIndex)
{
    Plctag control;
    control.setElementIndex(3);
    control.setValWord(0x1234);
    EXPECT_EQ(control.WordVal(3), 0x1234);
    control.setBitIndex(4);
    control.setValBit(true);
    EXPECT_TRUE(control.BitVal(3, 4));
    EXPECT_EQ(control.WordVal(3), 0x1234 | 0x10);
    control.setValBCDLong(87654321);
    EXPECT_EQ(control.BCDLong(3), 87654321);
    control.setValFloat(-2.25f);
    EXPECT_EQ(control.FloatVal(3), -2.25f);
    control.setElementIndex(-9); // stored unclamped
    EXPECT_EQ(control.ElementIndex(), -9);
    EXPECT_EQ(control.valLong(), control.LongVal(0));
}

} // namespace
} // namespace regaccess
