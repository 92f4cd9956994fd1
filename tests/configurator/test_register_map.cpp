#include "core/fields/text_rule.h"
#include "core/model/register_map.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace chronel;

namespace {

constexpr qint16 Sentinel = 0x5A5A;

// Words of the 60-word block write that a download leaves as they were: the
// MAC, the unused word 47, version, Modbus address and the unused 55 … 59.
constexpr int NotSetWords[] = {19, 20, 21, 22, 23, 24, 47, 48, 49, 55, 56, 57, 58, 59};

bool NotSet(int i) { return std::find(std::begin(NotSetWords), std::end(NotSetWords), i) != std::end(NotSetWords); }

ConfigBlock BlockWith(std::initializer_list<std::pair<int, qint16>> words)
{
    ConfigBlock block{};
    for (const auto& [index, value] : words)
        block[std::size_t(index)] = value;
    return block;
}

ModuleSettings Uploaded(const ConfigBlock& block)
{
    ModuleSettings s;
    ConfigBlockToSettings(block, s);
    return s;
}

std::array<qint16, ConfigBlockWriteWords> Downloaded(const ModuleSettings& s, QList<FieldClamp>* clamps = nullptr)
{
    std::array<qint16, ConfigBlockWriteWords> words;
    words.fill(Sentinel);
    const QList<FieldClamp> c = SettingsToConfigBlock(s, words);
    if (clamps)
        *clamps = c;
    return words;
}

// --- Upload: one word in, one screen field out --------------------------------

struct UploadCase {
    const char* what;
    int word;
    qint16 value;
    std::function<QString(const ModuleSettings&)> field;
    const char* shown;
};

class UploadTest : public ::testing::TestWithParam<UploadCase> { };

TEST_P(UploadTest, WordToScreen)
{
    const auto& c = GetParam();
    EXPECT_EQ(c.field(Uploaded(BlockWith({{c.word, c.value}}))), QString::fromUtf8(c.shown)) << c.what;
}

QString Num(int v) { return QString::number(v); }

INSTANTIATE_TEST_SUITE_P(Words, UploadTest,
    ::testing::Values(UploadCase{"event delay ×10", 4, 50, [](auto& s) { return s.ConfigEventDelay; }, " 500"},
        UploadCase{"negative offset", 1, -5, [](auto& s) { return s.TsToGpsOffset; }, "-5"},
        UploadCase{"zero offset", 2, 0, [](auto& s) { return s.TsToIrigOffset; }, " 0"},
        UploadCase{"version 1.60", 48, 160, [](auto& s) { return s.ConfigVersion; }, "1.60"},
        UploadCase{"version -0.05", 48, -5, [](auto& s) { return s.ConfigVersion; }, "-0.05"},
        UploadCase{"version 0.00", 48, 0, [](auto& s) { return s.ConfigVersion; }, "0.00"},
        UploadCase{"version lowest", 48, -32768, [](auto& s) { return s.ConfigVersion; }, "-327.68"},
        UploadCase{"modbus address", 49, 255, [](auto& s) { return s.ConfigModbusAddress; }, " 255"},
        UploadCase{"octet 256", 26, 256, [](auto& s) { return s.ConfigTcpipIp[0]; }, " 255"},
        UploadCase{"octet -1", 33, -1, [](auto& s) { return s.ConfigTcpipSubnet[3]; }, " 0"},
        UploadCase{"gateway", 35, 17, [](auto& s) { return s.ConfigTcpipGateway[1]; }, " 17"},
        UploadCase{"232 baud 9 clamps to 19.2K", 13, 9, [](auto& s) { return Num(s.ConfigModbus232Baud); }, "6"},
        UploadCase{"485 baud 9 is 115.5K", 16, 9, [](auto& s) { return Num(s.ConfigModbus485Baud); }, "9"},
        UploadCase{"485 baud 12 clamps", 16, 12, [](auto& s) { return Num(s.ConfigModbus485Baud); }, "9"},
        UploadCase{"parity -1 clamps", 14, -1, [](auto& s) { return Num(s.ConfigModbus232Parity); }, "0"},
        UploadCase{"parity 3 clamps", 17, 3, [](auto& s) { return Num(s.ConfigModbus485Parity); }, "2"},
        UploadCase{"protocol -1 clamps", 52, -1, [](auto& s) { return Num(s.ConfigModbus232Protocol); }, "0"},
        UploadCase{"protocol 4 clamps", 53, 4, [](auto& s) { return Num(s.ConfigModbus485Protocol); }, "1"},
        UploadCase{"buffer type 3", 3, 3, [](auto& s) { return Num(s.ConfigEventBufferType); }, "3"},
        UploadCase{"buffer type 7 chooses none", 3, 7, [](auto& s) { return Num(s.ConfigEventBufferType); }, "-1"},
        UploadCase{"buffer type -1 chooses none", 3, -1, [](auto& s) { return Num(s.ConfigEventBufferType); }, "-1"},
        UploadCase{"DST location 5", 5, 5, [](auto& s) { return Num(s.TsDstLocation); }, "5"},
        UploadCase{"DST location -1", 5, -1, [](auto& s) { return Num(s.TsDstLocation); }, "-1"},
        UploadCase{"DST location 6 chooses none", 5, 6, [](auto& s) { return Num(s.TsDstLocation); }, "-1"},
        UploadCase{"DST location -2 chooses none", 5, -2, [](auto& s) { return Num(s.TsDstLocation); }, "-1"},
        UploadCase{"DST stop hour", 11, 3, [](auto& s) { return s.TsDstStopHour; }, " 3"},
        UploadCase{"sync master any nonzero", 0, -1, [](auto& s) { return Num(int(s.ConfigSyncMaster)); }, "1"},
        UploadCase{"lock 2 checks", 54, 2, [](auto& s) { return Num(int(s.ConfigLock)); }, "1"},
        UploadCase{"ieee 0 unchecks", 50, 0, [](auto& s) { return Num(int(s.TsIeee1344)); }, "0"},
        UploadCase{"mode 1 BootP", 25, 1, [](auto& s) { return Num(int(s.ConfigTcpipMode)); }, "2"},
        UploadCase{"mode 2 DHCP", 25, 2, [](auto& s) { return Num(int(s.ConfigTcpipMode)); }, "3"},
        UploadCase{"mode 7 Manual", 25, 7, [](auto& s) { return Num(int(s.ConfigTcpipMode)); }, "1"},
        UploadCase{"comm 1 Half", 51, 1, [](auto& s) { return Num(int(s.ConfigTcpipEthernetComm)); }, "2"},
        UploadCase{"comm 5 Full", 51, 5, [](auto& s) { return Num(int(s.ConfigTcpipEthernetComm)); }, "1"}));

TEST(Upload, MacShowsEachLowByte)
{
    const ConfigBlock block = BlockWith({{19, 0}, {20, 10}, {21, 27}, {22, 300}, {23, -1}, {24, 1}});
    EXPECT_EQ(Uploaded(block).ConfigTcpipMac, QStringLiteral("00 : 0A : 1B : 2C : FF : 01"));
}

TEST(Upload, ModuleNameByTheTextRule)
{
    ConfigBlock block{};
    WriteRegisterText(block, 76, 16, u"Substation 7");
    EXPECT_EQ(Uploaded(block).ConfigModuleName, QStringLiteral("Substation 7"));
}

struct SpeedCase {
    qint16 word;
    TcpipSpeed before;
    TcpipSpeed after;
};
class UploadSpeedTest : public ::testing::TestWithParam<SpeedCase> { };
TEST_P(UploadSpeedTest, ChoosesOrLeavesTheSpeed)
{
    ModuleSettings s;
    s.chooseTcpipSpeed(GetParam().before);
    ConfigBlockToSettings(BlockWith({{46, GetParam().word}}), s);
    EXPECT_EQ(s.ConfigTcpipSpeed, GetParam().after);
}
INSTANTIATE_TEST_SUITE_P(Words, UploadSpeedTest,
    ::testing::Values(SpeedCase{0, TcpipSpeed::Mbps10, TcpipSpeed::AutoNegotiate},
        SpeedCase{1, TcpipSpeed::None, TcpipSpeed::Mbps10},
        SpeedCase{2, TcpipSpeed::AutoNegotiate, TcpipSpeed::Mbps100},
        SpeedCase{3, TcpipSpeed::AutoNegotiate, TcpipSpeed::Mbps100},
        SpeedCase{4, TcpipSpeed::Mbps10, TcpipSpeed::Mbps10},
        SpeedCase{-1, TcpipSpeed::AutoNegotiate, TcpipSpeed::AutoNegotiate},
        SpeedCase{7, TcpipSpeed::None, TcpipSpeed::None}));

// --- Download ---------------------------------------------------------------------

TEST(Download, EventDelayTenthsRoundedHalfToEven)
{
    ModuleSettings s;
    const std::initializer_list<std::pair<const char*, int>> cases = {
        {"505", 50}, {"515", 52}, {"500", 50}, {" 504.9", 50}, {"5", 0}, {"15", 2}, {"abc", 0}, {"-25", -2}};
    for (const auto& [typed, word] : cases) {
        s.ConfigEventDelay = QString::fromLatin1(typed);
        EXPECT_EQ(Downloaded(s)[4], word) << typed;
    }
}

TEST(Download, OctetsClampedWithoutMarks)
{
    ModuleSettings s;
    s.ConfigTcpipIp = {QStringLiteral("300"), QStringLiteral("-4"), QStringLiteral("x"), QStringLiteral("7.5")};
    s.ConfigTcpipSubnet = {QStringLiteral("255"), QStringLiteral("255"), QStringLiteral("255"), QStringLiteral("0")};
    s.ConfigTcpipGateway = {QStringLiteral("70000"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    QList<FieldClamp> clamps;
    const auto w = Downloaded(s, &clamps);
    EXPECT_EQ(w[26], 255);
    EXPECT_EQ(w[27], 0);
    EXPECT_EQ(w[28], 0);
    EXPECT_EQ(w[29], 8);
    EXPECT_EQ(w[33], 0);
    EXPECT_EQ(w[34], 255);
    for (const FieldClamp& c : clamps)
        EXPECT_FALSE(c.control.startsWith(QLatin1String("txtConfigTcpip"))) << qPrintable(c.control);
}

TEST(Download, ModuleNameCutAndZeroFilled)
{
    ModuleSettings s;
    s.ConfigModuleName = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    auto w = Downloaded(s);
    EXPECT_EQ(ReadRegisterText(w, 76, 16), QStringLiteral("ABCDEFGHIJKLMNOP"));
    s.ConfigModuleName = QStringLiteral("AB");
    w = Downloaded(s);
    EXPECT_EQ(quint16(w[38]), 0x4241);
    for (int i = 39; i <= 45; ++i)
        EXPECT_EQ(w[std::size_t(i)], 0) << i;
}

TEST(Download, NoChoiceSendsMinusOneOrZeroOrNothing)
{
    const ModuleSettings s; // nothing chosen anywhere
    const auto w = Downloaded(s);
    EXPECT_EQ(w[52], -1); // protocol lists
    EXPECT_EQ(w[53], -1);
    EXPECT_EQ(w[13], -1);       // baud list
    EXPECT_EQ(w[5], -1);        // DST location
    EXPECT_EQ(w[25], 0);        // IP mode
    EXPECT_EQ(w[51], 0);        // duplex
    EXPECT_EQ(w[3], Sentinel);  // event buffer type: not set
    EXPECT_EQ(w[46], Sentinel); // speed: not set
}

TEST(Download, WordsWithoutADownloadRuleKeepTheBufferContent)
{
    ModuleSettings s;
    s.ConfigEventBufferType = 1;
    s.chooseTcpipSpeed(TcpipSpeed::Mbps100);
    s.ConfigTcpipMac = QStringLiteral("00 : 11 : 22 : 33 : 44 : 55");
    s.ConfigVersion = QStringLiteral("1.60");
    s.ConfigModbusAddress = QStringLiteral("9");
    const auto w = Downloaded(s);
    for (int i : NotSetWords)
        EXPECT_EQ(w[std::size_t(i)], Sentinel) << "word " << i;
    for (int i = -1; i <= ConfigBlockWriteWords; ++i)
        EXPECT_EQ(DownloadSetsWord(i), i >= 0 && i < ConfigBlockWriteWords && !NotSet(i)) << "word " << i;
    EXPECT_EQ(w[3], 1);
    EXPECT_EQ(w[46], Speed100Code);
}

TEST(Download, GreyBoxSendsZero)
{
    ModuleSettings s;
    s.ConfigLock = Check::Grey;
    s.ConfigSyncMaster = Check::Checked;
    const auto w = Downloaded(s);
    EXPECT_EQ(w[54], 0);
    EXPECT_EQ(w[0], 1);
}

struct ClampCase {
    QString ModuleSettings::*member;
    const char* control;
    const char* typed;
    int word;
    qint16 sent;
    const char* shown;
};
class DownloadClampTest : public ::testing::TestWithParam<ClampCase> { };
TEST_P(DownloadClampTest, OutOfRangeNumbersAreClampedAndReported)
{
    const auto& c = GetParam();
    ModuleSettings s;
    s.*c.member = QString::fromLatin1(c.typed);
    QList<FieldClamp> clamps;
    const auto w = Downloaded(s, &clamps);
    EXPECT_EQ(w[std::size_t(c.word)], c.sent);
    ASSERT_EQ(clamps.size(), 1);
    EXPECT_EQ(clamps[0].control, QString::fromLatin1(c.control));
    EXPECT_EQ(clamps[0].shown, QString::fromLatin1(c.shown));
    EXPECT_TRUE(clamps[0].note().contains(QString::fromLatin1(c.typed)));
}
INSTANTIATE_TEST_SUITE_P(Fields, DownloadClampTest,
    ::testing::Values(ClampCase{&ModuleSettings::TsToGpsOffset, "txtTsToGpsOffset", "40000", 1, 32767, " 32767"},
        ClampCase{&ModuleSettings::TsToIrigOffset, "txtTsToIrigOffset", "-40000", 2, -32768, "-32768"},
        ClampCase{&ModuleSettings::TsDstStartMonth, "txtTsDstStartMonth", "1e9", 6, 32767, " 32767"},
        ClampCase{&ModuleSettings::TsDstStopHour, "txtTsDstStopHour", "32767.5", 11, 32767, " 32767"},
        ClampCase{&ModuleSettings::ConfigModbus232Delay, "txtConfigModbus232Delay", "99999", 15, 32767, " 32767"},
        ClampCase{&ModuleSettings::ConfigModbus485Delay, "txtConfigModbus485Delay", "-99999", 18, -32768, "-32768"},
        ClampCase{&ModuleSettings::ConfigEventDelay, "txtConfigEventDelay", "400000", 4, 32767, " 327670"}));

TEST(ModuleId, NumberRuleBothWays)
{
    EXPECT_EQ(ModuleIdFromWord(7), QStringLiteral(" 7"));
    EXPECT_EQ(ModuleIdFromWord(-7), QStringLiteral("-7"));
    EXPECT_EQ(ModuleIdToWord(QStringLiteral(" 7")).value, 7);
    EXPECT_EQ(ModuleIdToWord(QStringLiteral("2.5")).value, 2);
    EXPECT_TRUE(ModuleIdToWord(QStringLiteral("40000")).clamped);
    for (int v = -32768; v <= 32767; v += 97)
        ASSERT_EQ(ModuleIdToWord(ModuleIdFromWord(qint16(v))).value, v);
}

// --- Round trips ---------------------------------------------------------------

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) { }
    int in(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    qint16 word() { return qint16(in(-32768, 32767)); }
    template <typename T> T pick(std::initializer_list<T> values)
    {
        return *(values.begin() + in(0, int(values.size()) - 1));
    }
    // A text the text rule gives back unchanged: no outer blanks, Latin-1
    // characters, any length up to `chars`.
    QString text(int chars)
    {
        QString t;
        const int length = in(0, chars);
        for (int i = 0; i < length; ++i) {
            const bool edge = i == 0 || i == length - 1;
            char16_t c = char16_t(pick({in(0x21, 0x7E), in(0xA1, 0xFF), edge ? 0x41 : 0x20}));
            t += QChar(c);
        }
        return t;
    }

private:
    std::mt19937 rng_;
};

ConfigBlock RandomConfigBlock(Generator& g)
{
    ConfigBlock w{};
    for (auto& x : w)
        x = g.word(); // words without a rule carry anything
    w[0] = qint16(g.in(0, 1));
    w[3] = qint16(g.in(0, 3));
    w[5] = qint16(g.in(-1, 5));
    w[12] = qint16(g.in(0, 1));
    w[13] = qint16(g.in(0, 6));
    w[14] = qint16(g.in(0, 2));
    w[16] = qint16(g.in(0, 9));
    w[17] = qint16(g.in(0, 2));
    w[25] = qint16(g.in(0, 2));
    for (int i = 26; i <= 37; ++i)
        w[std::size_t(i)] = qint16(g.in(0, 255));
    WriteRegisterText(w, 76, 16, g.text(16));
    w[46] = g.pick<qint16>({0, 1, Speed100Code});
    w[50] = qint16(g.in(0, 1));
    w[51] = qint16(g.in(0, 1));
    w[52] = qint16(g.in(0, 1));
    w[53] = qint16(g.in(0, 1));
    w[54] = qint16(g.in(0, 1));
    return w;
}

class ConfigRoundTrip : public ::testing::TestWithParam<unsigned> { };

TEST_P(ConfigRoundTrip, BlockToScreenToBlockReproducesEveryDownloadWord)
{
    Generator g(GetParam());
    const ConfigBlock block = RandomConfigBlock(g);
    QList<FieldClamp> clamps;
    const auto written = Downloaded(Uploaded(block), &clamps);
    EXPECT_TRUE(clamps.isEmpty());
    for (int i = 0; i < ConfigBlockWriteWords; ++i) {
        if (!NotSet(i)) {
            EXPECT_EQ(written[std::size_t(i)], block[std::size_t(i)]) << "word " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ConfigRoundTrip, ::testing::Range(1u, 201u));

TEST(ConfigRoundTrip, ExtremeWords)
{
    for (qint16 v : {qint16(-32768), qint16(-1), qint16(0), qint16(1), qint16(32767)}) {
        ConfigBlock block = BlockWith({{3, 2}, {46, 0}});
        for (int i : {1, 2, 4, 6, 7, 8, 9, 10, 11, 15, 18})
            block[std::size_t(i)] = v;
        const auto written = Downloaded(Uploaded(block));
        for (int i : {1, 2, 4, 6, 7, 8, 9, 10, 11, 15, 18})
            EXPECT_EQ(written[std::size_t(i)], v) << "word " << i;
    }
}

TEST(ConfigRoundTrip, Speed2IsSentBackAs100MbpsCode)
{
    const auto written = Downloaded(Uploaded(BlockWith({{46, 2}})));
    EXPECT_EQ(written[46], Speed100Code);
}

// --- Point blocks -----------------------------------------------------------------

TEST(PointBlocks, StartsAndIndexes)
{
    EXPECT_EQ(PointBlockRegister(0), 301);
    EXPECT_EQ(PointBlockRegister(2), 429);
    EXPECT_EQ(PointBlockRegister(10), 941);
    EXPECT_EQ(PointBlockRegister(14), 1197);
    EXPECT_EQ(PointBlockRegister(17), 1389);
    EXPECT_EQ(PointBlockRegister(17) + PointBlockWords - 1, 1452);
    for (int b = 0; b < PointBlockCount; ++b)
        EXPECT_EQ(PointBlockIndex(PointBlockRegister(b)), b);
    for (int reg : {1, 101, 300, 302, 364, 1453, 1491, -64})
        EXPECT_EQ(PointBlockIndex(reg), -1) << reg;
}

TEST(PointBlocks, UnknownStartTouchesNothing)
{
    PointTable table{};
    FillPointDefaults(table);
    const PointTable before = table;
    PointBlock words;
    words.fill(Sentinel);
    EXPECT_FALSE(PointBlockToTable(302, words, table));
    EXPECT_EQ(table, before);
    EXPECT_FALSE(TableToPointBlock(1453, table, words));
    EXPECT_EQ(words[0], Sentinel);
}

TEST(PointBlocks, ColumnsLandInTheirWords)
{
    PointTable table{};
    FillPointDefaults(table);
    table[0].SsPcFilter = 40000;
    table[31].SsPcDebounce = 65535;
    table[5].SsPcChatter = -7;
    table[9].SsPcDisabled = true;
    table[6].SsPcDescription = QStringLiteral("Breaker 52A");
    table[11].SsPcOff = QStringLiteral("Open");
    table[31].SsPcOn = QStringLiteral("Closed");

    PointBlock w{};
    ASSERT_TRUE(TableToPointBlock(301, table, w));
    EXPECT_EQ(quint16(w[0]), 0x9C40);
    EXPECT_EQ(w[63], -1);
    EXPECT_EQ(w[1], 20);
    ASSERT_TRUE(TableToPointBlock(365, table, w));
    EXPECT_EQ(w[5], -7);
    EXPECT_EQ(w[32 + 9], -1);
    EXPECT_EQ(w[32 + 8], 0);
    ASSERT_TRUE(TableToPointBlock(493, table, w)); // points 4 … 7
    EXPECT_EQ(ReadRegisterText(w, 32 * 2, 32), QStringLiteral("Breaker 52A"));
    EXPECT_EQ(ReadRegisterText(w, 0, 32), QStringLiteral("Point  5"));
    ASSERT_TRUE(TableToPointBlock(1005, table, w)); // off texts 8 … 15
    EXPECT_EQ(ReadRegisterText(w, 16 * 3, 16), QStringLiteral("Open"));
    ASSERT_TRUE(TableToPointBlock(1389, table, w)); // on texts 24 … 31
    EXPECT_EQ(ReadRegisterText(w, 16 * 7, 16), QStringLiteral("Closed"));
}

TEST(PointBlocks, UploadRules)
{
    PointTable table{};
    PointBlock w{};
    w[0] = -1;
    w[32] = qint16(40000 - 65536);
    ASSERT_TRUE(PointBlockToTable(301, w, table));
    EXPECT_EQ(table[0].SsPcFilter, 65535);
    EXPECT_EQ(table[0].SsPcDebounce, 40000);

    w = {};
    w[32] = 1; // any value but 0xFFFF counts as enabled
    w[33] = -1;
    w[2] = -32768;
    ASSERT_TRUE(PointBlockToTable(365, w, table));
    EXPECT_FALSE(table[0].SsPcDisabled);
    EXPECT_TRUE(table[1].SsPcDisabled);
    EXPECT_EQ(table[2].SsPcChatter, -32768);

    w = {};
    const char padded[] = "Feeder 3                        "; // blanks instead of zero bytes
    for (int i = 0; i < 32; ++i)
        SetRegisterByte(w, 32 + i, quint8(padded[i]));
    SetRegisterByte(w, 64, 'X');
    SetRegisterByte(w, 65, 0);
    SetRegisterByte(w, 66, 'Y');
    ASSERT_TRUE(PointBlockToTable(877, w, table)); // points 28 … 31
    EXPECT_EQ(table[29].SsPcDescription, QStringLiteral("Feeder 3"));
    EXPECT_EQ(table[30].SsPcDescription, QStringLiteral("X"));
    EXPECT_EQ(table[28].SsPcDescription, QString());
}

class PointRoundTrip : public ::testing::TestWithParam<unsigned> { };

TEST_P(PointRoundTrip, EveryBlockReproducesItsWords)
{
    Generator g(GetParam());
    PointTable table{};
    for (int b = 0; b < PointBlockCount; ++b) {
        PointBlock block{};
        if (b == 0) {
            for (auto& x : block)
                x = g.word();
        } else if (b == 1) {
            for (int i = 0; i < 32; ++i) {
                block[std::size_t(i)] = g.word();
                block[std::size_t(32 + i)] = g.pick<qint16>({0, -1});
            }
        } else {
            const int chars = b < 10 ? 32 : 16;
            for (int q = 0; q < 64 * 2 / chars; ++q)
                WriteRegisterText(block, q * chars, chars, g.text(chars));
        }
        const int reg = PointBlockRegister(b);
        ASSERT_TRUE(PointBlockToTable(reg, block, table));
        PointBlock back;
        back.fill(Sentinel);
        ASSERT_TRUE(TableToPointBlock(reg, table, back));
        EXPECT_EQ(back, block) << "block at " << reg;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, PointRoundTrip, ::testing::Range(1u, 51u));

} // namespace
