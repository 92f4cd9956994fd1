#include "core/fields/text_rule.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <array>

using namespace chronel;

namespace {

TEST(TextRule, FirstCharacterInTheLowByteZeroFilled)
{
    std::array<qint16, 8> block;
    block.fill(0x7777);
    WriteRegisterText(block, 0, 16, u"AB");
    EXPECT_EQ(quint16(block[0]), 0x4241); // 'A' low, 'B' high
    for (std::size_t i = 1; i < block.size(); ++i)
        EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(ReadRegisterText(block, 0, 16), QStringLiteral("AB"));
}

TEST(TextRule, DownloadStripsBlanksAndCutsToTheFieldLength)
{
    std::array<qint16, 8> block{};
    WriteRegisterText(block, 0, 16, u"   ABCDEFGHIJKLMNOPQRST  ");
    EXPECT_EQ(ReadRegisterText(block, 0, 16), QStringLiteral("ABCDEFGHIJKLMNOP"));
    WriteRegisterText(block, 0, 16, u"odd");
    EXPECT_EQ(quint16(block[1]), quint16('d')); // third character low, zero high
}

TEST(TextRule, UploadStopsAtZeroAndDropsTrailingBlanks)
{
    std::array<qint16, 8> block{};
    const char padded[] = "Pump 3          ";
    for (int i = 0; i < 16; ++i)
        SetRegisterByte(block, i, quint8(padded[i]));
    EXPECT_EQ(ReadRegisterText(block, 0, 16), QStringLiteral("Pump 3"));
    SetRegisterByte(block, 2, 0);
    EXPECT_EQ(ReadRegisterText(block, 0, 16), QStringLiteral("Pu"));
}

TEST(TextRule, FullLengthTextHasNoTerminator)
{
    std::array<qint16, 8> block{};
    WriteRegisterText(block, 0, 16, u"0123456789ABCDEF");
    EXPECT_EQ(ReadRegisterText(block, 0, 16), QStringLiteral("0123456789ABCDEF"));
}

TEST(TextRule, OddOffsetsAndNonLatin1)
{
    std::array<qint16, 4> block{};
    WriteRegisterText(block, 1, 3, QString::fromUtf8("é€x"));
    EXPECT_EQ(RegisterByte(block, 0), 0);
    EXPECT_EQ(RegisterByte(block, 1), 0xE9);
    EXPECT_EQ(RegisterByte(block, 2), quint8('?'));
    EXPECT_EQ(ReadRegisterText(block, 1, 3), QString::fromUtf8("é?x"));
}

TEST(TextRule, NeverTouchesBytesOutsideTheBlock)
{
    std::array<qint16, 6> storage;
    storage.fill(0x5555);
    const std::span<qint16> block(storage.data() + 1, 4);
    WriteRegisterText(block, 4, 32, u"ABCDEFGHIJ");
    EXPECT_EQ(storage[0], 0x5555);
    EXPECT_EQ(storage[5], 0x5555);
    EXPECT_EQ(ReadRegisterText(block, 4, 32), QStringLiteral("ABCD"));
    WriteRegisterText(block, -3, 4, u"ZZZZ");
    EXPECT_EQ(storage[0], 0x5555);
    EXPECT_EQ(ReadRegisterText(block, 100, 4), QString());
}

} // namespace
