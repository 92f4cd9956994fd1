#include "driver/number_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DecimalCase {
    std::string text;
    int value;
};

class NumberTextDecimal : public testing::TestWithParam<DecimalCase> { };

TEST_P(NumberTextDecimal, LeadingNumber)
{
    EXPECT_EQ(plcdrv::NumberText().decimal(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, NumberTextDecimal,
    testing::Values(DecimalCase{"255.0.0.0.0", 255}, DecimalCase{"17", 17}, DecimalCase{"  -4x", -4},
        DecimalCase{"+12", 12}, DecimalCase{"", 0}, DecimalCase{"abc", 0}, DecimalCase{"0017", 17},
        // Only the first 31 characters count.
        DecimalCase{std::string(30, '0') + "12", 1}, DecimalCase{std::string(31, ' ') + "5", 0},
        // Saturates instead of overflowing.
        DecimalCase{"99999999999999999999", 2147483647}, DecimalCase{"-99999999999", -2147483647 - 1}));

struct HexCase {
    std::string text;
    std::uint32_t value;
};

class NumberTextHex : public testing::TestWithParam<HexCase> { };

TEST_P(NumberTextHex, FourBitsPerCharacter)
{
    EXPECT_EQ(plcdrv::NumberText().hexadecimal(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, NumberTextHex,
    testing::Values(HexCase{"83", 0x83}, HexCase{"7e", 0x7E}, HexCase{"7E", 0x7E}, HexCase{"FF", 0xFF},
        HexCase{"0A", 0x0A}, HexCase{"", 0},
        // Characters that are no digit count as 0.
        HexCase{"G1", 0x01}, HexCase{"0x1F", 0x001F}, HexCase{" 9", 0x09}, HexCase{"123456789", 0x23456789}));

} // namespace
