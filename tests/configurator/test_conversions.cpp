#include "core/fields/conversions.h"
#include "core/fields/date_text.h"
#include "core/fields/module_address.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

using namespace chronel;

namespace {

struct ClampCase {
    qint64 value, low, high, expected;
};
class ClampToRangeTest : public ::testing::TestWithParam<ClampCase> { };
TEST_P(ClampToRangeTest, Clamps)
{
    const auto& c = GetParam();
    EXPECT_EQ(ClampToRange(c.value, c.low, c.high), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Edges, ClampToRangeTest,
    ::testing::Values(ClampCase{9, 0, 6, 6}, ClampCase{-1, 0, 2, 0}, ClampCase{0, 0, 2, 0}, ClampCase{2, 0, 2, 2},
        ClampCase{1, 0, 2, 1}, ClampCase{256, 0, 255, 255}, ClampCase{-32768, 0, 255, 0},
        ClampCase{32767, -32768, 32767, 32767}));

struct FoldCase {
    qint32 value;
    qint16 word;
};
class ToRegisterWordTest : public ::testing::TestWithParam<FoldCase> { };
TEST_P(ToRegisterWordTest, FoldsIntoASignedWord)
{
    EXPECT_EQ(ToRegisterWord(GetParam().value), GetParam().word) << GetParam().value;
}
INSTANTIATE_TEST_SUITE_P(Edges, ToRegisterWordTest,
    ::testing::Values(FoldCase{0, 0}, FoldCase{20, 20}, FoldCase{32767, 32767}, FoldCase{32768, -32768},
        FoldCase{40000, qint16(40000 - 65536)}, FoldCase{65535, -1}, FoldCase{65536, -1}, FoldCase{70000, -1},
        FoldCase{2147483647, -1}, FoldCase{-3, 0}, FoldCase{-2147483647 - 1, 0}));

TEST(RegisterWord, FromRegisterWordInvertsEveryUnsignedValue)
{
    EXPECT_EQ(FromRegisterWord(-1), 65535);
    EXPECT_EQ(FromRegisterWord(20), 20);
    EXPECT_EQ(FromRegisterWord(-32768), 32768);
    EXPECT_EQ(quint16(ToRegisterWord(40000)), 0x9C40);
    for (qint32 v = 0; v <= 65535; ++v)
        ASSERT_EQ(FromRegisterWord(ToRegisterWord(v)), v);
}

struct HexCase {
    qint16 value;
    int digits;
    const char* expected;
};
class HexDigitsTest : public ::testing::TestWithParam<HexCase> { };
TEST_P(HexDigitsTest, LastDigitsOfThePaddedHex)
{
    const auto& c = GetParam();
    EXPECT_EQ(HexDigits(c.value, c.digits), QString::fromLatin1(c.expected));
}
INSTANTIATE_TEST_SUITE_P(Edges, HexDigitsTest,
    ::testing::Values(HexCase{10, 2, "0A"}, HexCase{-1, 2, "FF"}, HexCase{300, 2, "2C"}, HexCase{0, 2, "00"},
        HexCase{1, 4, "0001"}, HexCase{-1, 4, "FFFF"}, HexCase{-32768, 4, "8000"}, HexCase{0x1B, 1, "B"},
        HexCase{-1, 8, "0000FFFF"}, HexCase{255, 12, "0000FF"}, HexCase{5, 0, ""}));

TEST(ListTables, BaudTextsBothWays)
{
    const char* texts[] = {"300", "600", "1200", "2400", "4800", "9600", "19.2K", "38.4K", "57.6K", "115.5K"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(BaudTextToIndex(QString::fromLatin1(texts[i])), i);
        EXPECT_EQ(BaudIndexToText(i), QString::fromLatin1(texts[i]));
    }
    EXPECT_EQ(BaudTextToIndex(u"19200"), 5);
    EXPECT_EQ(BaudTextToIndex(u"19.2k"), 5);
    EXPECT_EQ(BaudTextToIndex(u" 300"), 5);
    EXPECT_EQ(BaudIndexToText(-1), QStringLiteral("9600"));
    EXPECT_EQ(BaudIndexToText(10), QStringLiteral("9600"));
    EXPECT_EQ(Baud232Items().size(), 7);
    EXPECT_EQ(Baud232Items().last(), QStringLiteral("19.2K"));
}

TEST(ListTables, ParityAndProtocolFallBacks)
{
    EXPECT_EQ(ParityTextToIndex(u"None"), 0);
    EXPECT_EQ(ParityTextToIndex(u"Even"), 1);
    EXPECT_EQ(ParityTextToIndex(u"Odd"), 2);
    EXPECT_EQ(ParityTextToIndex(u"even"), 1);
    EXPECT_EQ(ParityTextToIndex(u"odd"), 1);
    EXPECT_EQ(ParityIndexToText(0), QStringLiteral("None"));
    EXPECT_EQ(ParityIndexToText(2), QStringLiteral("Odd"));
    EXPECT_EQ(ParityIndexToText(3), QStringLiteral("Even"));
    EXPECT_EQ(ParityIndexToText(-1), QStringLiteral("Even"));
    EXPECT_EQ(ProtocolTextToIndex(u"RTU"), 0);
    EXPECT_EQ(ProtocolTextToIndex(u"ASCII"), 1);
    EXPECT_EQ(ProtocolTextToIndex(u"ascii"), 0);
    EXPECT_EQ(ProtocolIndexToText(1), QStringLiteral("ASCII"));
    EXPECT_EQ(ProtocolIndexToText(-1), QStringLiteral("RTU"));
    EXPECT_EQ(ProtocolIndexToText(2), QStringLiteral("RTU"));
}

struct IpCase {
    const char* a;
    const char* b;
    const char* c;
    const char* d;
    const char* host;
};
class GetIpTest : public ::testing::TestWithParam<IpCase> { };
TEST_P(GetIpTest, BuildsTheHostText)
{
    const auto& c = GetParam();
    const OctetFields ip{
        QString::fromLatin1(c.a), QString::fromLatin1(c.b), QString::fromLatin1(c.c), QString::fromLatin1(c.d)};
    EXPECT_EQ(GetIp(ip), QString::fromLatin1(c.host));
}
INSTANTIATE_TEST_SUITE_P(Fields, GetIpTest,
    ::testing::Values(IpCase{"10", "0", "0", "7", "10.0.0.7"}, IpCase{"192", "168", "16", "140", "192.168.16.140"},
        IpCase{" 127", " 0", " 0", " 1", "127.0.0.1"}, IpCase{"abc", "0", "0", "7", "0.0.0.7"},
        IpCase{"", "", "", "", "0.0.0.0"}, IpCase{"010", "1x", "-0", "7.0", "10.1.0.7"}));

// Both programs' --ip: the window's fields come from the octets, chronel-cli
// only asks whether the text is an address.
struct Ipv4Case {
    const char* text;
    const char* octets; // joined by "|", nullptr when the text is refused
};
class ParseIpv4Test : public ::testing::TestWithParam<Ipv4Case> { };
TEST_P(ParseIpv4Test, TakesFourDecimalOctetsAndNothingElse)
{
    const auto& c = GetParam();
    const std::optional<OctetFields> ip = ParseIpv4Address(QString::fromLatin1(c.text));
    if (!c.octets) {
        EXPECT_FALSE(ip.has_value()) << c.text;
        return;
    }
    ASSERT_TRUE(ip.has_value()) << c.text;
    EXPECT_EQ(QStringList(ip->begin(), ip->end()).join(QLatin1Char('|')), QString::fromLatin1(c.octets));
}
INSTANTIATE_TEST_SUITE_P(Addresses, ParseIpv4Test,
    ::testing::Values(Ipv4Case{"127.0.0.1", "127|0|0|1"}, Ipv4Case{"255.255.255.255", "255|255|255|255"},
        Ipv4Case{"010.000.0.7", "10|0|0|7"}, Ipv4Case{"127.0.0.256", nullptr}, Ipv4Case{"127.0.1", nullptr},
        Ipv4Case{"1.2.3.4.5", nullptr}, Ipv4Case{"1..2.3", nullptr}, Ipv4Case{"+1.2.3.4", nullptr},
        Ipv4Case{"-0.1.2.3", nullptr}, Ipv4Case{" 1.2.3.4", nullptr}, Ipv4Case{"1.2.3.4 ", nullptr},
        Ipv4Case{"0001.2.3.4", nullptr}, Ipv4Case{"a.b.c.d", nullptr}, Ipv4Case{"", nullptr}));

TEST(DateText, IsoInTheCLocaleShortDateElsewhere)
{
    const QDate date(2024, 3, 9);
    EXPECT_EQ(ShortDateText(date, QLocale::c()), QStringLiteral("2024-03-09"));
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(ShortDateText(date, german), german.toString(date, QLocale::ShortFormat));
    EXPECT_NE(ShortDateText(date, german), QStringLiteral("2024-03-09"));
}

} // namespace
