// Adapter settings from PLCDRV.INI files: every default, check, order and
// message, read through the platform's profile functions from a temporary
// file named by PLCDRV_INI.
#include "driver/adapter_config.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace {

using plcdrv::AdapterConfig;
using plcdrv::AdapterLink;

class IniFile {
public:
    explicit IniFile(const QString& text)
    {
        path_ = dir_.filePath(QStringLiteral("PLCDRV.INI"));
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly))
            file.write(text.toUtf8());
        qputenv("PLCDRV_INI", path_.toLocal8Bit());
    }
    ~IniFile() { qunsetenv("PLCDRV_INI"); }
    const QString& path() const { return path_; }

private:
    QTemporaryDir dir_;
    QString path_;
};

struct ConfigCase {
    const char* name;
    std::string ini;
    int adapter;
    int result; // adapter number, or 0 when dropped
    QStringList messages;
    std::function<void(const AdapterLink&)> verify;
};

void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class AdapterConfiguration : public testing::TestWithParam<ConfigCase> { };

TEST_P(AdapterConfiguration, Configure)
{
    const ConfigCase& c = GetParam();
    IniFile ini(QString::fromStdString(c.ini));
    QStringList shown;
    const AdapterConfig config(AdapterConfig::defaultIniPath(), [&](const QString& text) { shown << text; });
    AdapterLink link;
    EXPECT_EQ(config.configure(c.adapter, link), c.result);
    EXPECT_EQ(shown, c.messages);
    if (c.result != 0) {
        EXPECT_EQ(link.adapterNumber, c.adapter);
    }
    if (c.verify)
        c.verify(link);
}

const char* const kGoodSerial1 = "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkSpeed=0\nLinkParity=0\n"
                                 "LinkDataBits=0\nLinkStopBits=0\nLinkProtocol=0\n";

std::vector<ConfigCase> Cases()
{
    std::vector<ConfigCase> all;
    all.push_back({"SerialWithEveryKey",
        "[GENERAL]\nDialogShow=0\n[Adapter.Object.2]\nEnabled=1\nType=0\nCOM:=23\nLinkSpeed=3\n"
        "LinkParity=2\nLinkDataBits=1\nLinkStopBits=1\nLinkProtocol=1\nNodeID=17\nAdapterPollRate=250\n"
        "LinkTimeOut=750\nLinkAssertRTS=1\nLinkRTSLeadTime=20\nLinkRTSLagTime=30\nMBXDeviceNumber=9\n",
        2, 2, {}, [](const AdapterLink& l) {
            EXPECT_EQ(l.adapterType, plcdrv::SerialAdapter);
            EXPECT_EQ(l.showStatusWindow, 0);
            EXPECT_EQ(l.comNumber, 24);
            EXPECT_EQ(l.baudRateIndex, 3);
            EXPECT_EQ(l.parity, plcdrv::EvenParity);
            EXPECT_EQ(l.dataBits, 8);
            EXPECT_EQ(l.stopBits, plcdrv::TwoStopBits);
            EXPECT_EQ(l.messageKind, 1);
            EXPECT_EQ(l.nodeId, 17);
            EXPECT_EQ(l.pollRate, 250u);
            EXPECT_EQ(l.replyTimeoutMs, 750u);
            EXPECT_EQ(l.assertRts, 1);
            EXPECT_EQ(l.rtsLeadTime, 20);
            EXPECT_EQ(l.rtsLagTime, 30);
            EXPECT_EQ(l.cardNumber, -1); // not read for serial ports
        }});
    all.push_back({"SerialDefaults", kGoodSerial1, 1, 1, {}, [](const AdapterLink& l) {
                       EXPECT_EQ(l.showStatusWindow, 1);
                       EXPECT_EQ(l.comNumber, 1);
                       EXPECT_EQ(l.parity, plcdrv::NoParity);
                       EXPECT_EQ(l.dataBits, 7);
                       EXPECT_EQ(l.stopBits, plcdrv::OneStopBit);
                       EXPECT_EQ(l.pollRate, 10u);
                       EXPECT_EQ(l.replyTimeoutMs, 5000u);
                       EXPECT_EQ(l.nodeId, -1);
                       EXPECT_EQ(l.assertRts, 0);
                       EXPECT_EQ(l.rtsLeadTime, 0);
                       EXPECT_EQ(l.rtsLagTime, 0);
                   }});
    all.push_back({"MissingFile", "", 1, 0, {"Device Type Assigned to Adapter 1 is Invalid!"}, {}});
    all.push_back({"TypeMissing", "[Adapter.Object.5]\nEnabled=1\n", 5, 0,
        {"Device Type Assigned to Adapter 5 is Invalid!"}, {}});
    all.push_back({"TypeThree", "[Adapter.Object.6]\nEnabled=1\nType=3\n", 6, 0,
        {"Device Type Assigned to Adapter 6 is Invalid!"}, {}});
    all.push_back({"TypeNegative", "[Adapter.Object.6]\nEnabled=1\nType=-2\n", 6, 0,
        {"Device Type Assigned to Adapter 6 is Invalid!"}, {}});
    all.push_back({"TcpIpDroppedSilently", "[Adapter.Object.2]\nEnabled=1\nType=2\nHost=127.0.0.1\n", 2, 0, {}, {}});
    all.push_back({"ComValue24GivesCom25", "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=24\nLinkSpeed=3\n", 1, 0,
        {"COM:25 Port Assigned to Adapter 1 Invalid!"}, {}});
    all.push_back({"ComMissingGivesCom0", "[Adapter.Object.3]\nEnabled=1\nType=0\nLinkSpeed=3\n", 3, 0,
        {"COM:0 Port Assigned to Adapter 3 Invalid!"}, {}});
    all.push_back({"ComHugeDoesNotOverflow", "[Adapter.Object.3]\nEnabled=1\nType=0\nCOM:=2147483647\n", 3, 0,
        {"COM:2147483648 Port Assigned to Adapter 3 Invalid!"}, {}});
    all.push_back({"LinkSpeedEight", "[Adapter.Object.4]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=8\nLinkProtocol=9\n", 4,
        0, {"Link Speed Assigned to Async Adapter 4 is Invalid!"}, {}});
    all.push_back({"LinkSpeedMissing", "[Adapter.Object.4]\nEnabled=1\nType=0\nCOM:=1\n", 4, 0,
        {"Link Speed Assigned to Async Adapter 4 is Invalid!"}, {}});
    all.push_back({"ParityThree", "[Adapter.Object.7]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=3\n", 7, 0,
        {"Parity Assigned to Async Adapter 7 is Invalid!"}, {}});
    all.push_back({"ParityMissing", "[Adapter.Object.7]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\n", 7, 0,
        {"Parity Assigned to Async Adapter 7 is Invalid!"}, {}});
    all.push_back(
        {"DataBitsTwo", "[Adapter.Object.8]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=2\n", 8,
            0, {"DataBits Assigned to Async Adapter 8 is Invalid!"}, {}});
    all.push_back({"DataBitsMissing", "[Adapter.Object.8]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\n", 8,
        0, {"DataBits Assigned to Async Adapter 8 is Invalid!"}, {}});
    all.push_back({"StopBitsTwo",
        "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=1\n"
        "LinkStopBits=2\n",
        1, 0, {"StopBits Assigned to Async Adapter 1 is Invalid!"}, {}});
    all.push_back({"StopBitsMissing",
        "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=1\n", 1, 0,
        {"StopBits Assigned to Async Adapter 1 is Invalid!"}, {}});
    all.push_back({"ProtocolThree",
        "[Adapter.Object.2]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=1\n"
        "LinkStopBits=0\nLinkProtocol=3\n",
        2, 0, {"Protocol Assigned to Async Adapter 2 is Invalid!"}, {}});
    all.push_back({"ProtocolMissing",
        "[Adapter.Object.2]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=1\n"
        "LinkStopBits=0\n",
        2, 0, {"Protocol Assigned to Async Adapter 2 is Invalid!"}, {}});
    all.push_back({"SerialWithModbusPlusProtocolPasses",
        "[Adapter.Object.2]\nEnabled=1\nType=0\nCOM:=1\nLinkSpeed=7\nLinkParity=1\nLinkDataBits=1\n"
        "LinkStopBits=0\nLinkProtocol=2\n",
        2, 2, {}, [](const AdapterLink& l) { EXPECT_EQ(l.messageKind, 2); }});
    all.push_back({"ModbusPlusWithoutCardNumber", "[Adapter.Object.3]\nEnabled=1\nType=1\nCOM:=99\n", 3, 3, {},
        [](const AdapterLink& l) {
            EXPECT_EQ(l.adapterType, plcdrv::ModbusPlusAdapter);
            EXPECT_EQ(l.cardNumber, -1);
            EXPECT_EQ(l.messageKind, 2);
            EXPECT_EQ(l.comNumber, -1);
        }});
    all.push_back({"ModbusPlusCard",
        "[Adapter.Object.1]\nEnabled=1\nType=1\nMBXDeviceNumber=3\nLinkProtocol=0\n"
        "LinkTimeOut=1200\n",
        1, 1, {}, [](const AdapterLink& l) {
            EXPECT_EQ(l.cardNumber, 3);
            EXPECT_EQ(l.messageKind, 2);
            EXPECT_EQ(l.replyTimeoutMs, 1200u);
        }});
    for (auto [text, expected] : {std::pair{"5", 10u}, {"5000", 1000u}, {"-1", 1000u}, {"10", 10u}, {"1000", 1000u}}) {
        const unsigned want = expected;
        all.push_back({"PollRate", std::string(kGoodSerial1) + "AdapterPollRate=" + text + "\n", 1, 1, {},
            [want](const AdapterLink& l) { EXPECT_EQ(l.pollRate, want); }});
    }
    all.push_back({"TimeOutHasNoLimit", "[Adapter.Object.1]\nEnabled=1\nType=1\nLinkTimeOut=-1\n", 1, 1, {},
        [](const AdapterLink& l) { EXPECT_EQ(l.replyTimeoutMs, 4294967295u); }});
    all.push_back({"OtherSectionsDoNotCount", "[Adapter.Object.1]\nEnabled=1\nType=1\n[Adapter.Object.2]\nType=0\n", 2,
        0, {"COM:0 Port Assigned to Adapter 2 Invalid!"}, {}});
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Files, AdapterConfiguration, testing::ValuesIn(Cases()), [](const testing::TestParamInfo<ConfigCase>& info) {
        return std::string(info.param.name) + "_" + std::to_string(info.index);
    });

TEST(AdapterEnabled, ReadsEnabledWithDefaultZero)
{
    IniFile ini(QStringLiteral("[Adapter.Object.1]\nEnabled=1\n[Adapter.Object.2]\nEnabled=0\n"
                               "[Adapter.Object.4]\nEnabled=7\nType=2\n[Adapter.Object.9]\nEnabled=1\n"));
    const AdapterConfig config(AdapterConfig::defaultIniPath(), {});
    std::vector<int> enabled;
    for (int n = 1; n <= 9; ++n)
        if (config.enabled(n))
            enabled.push_back(n);
    EXPECT_EQ(enabled, (std::vector<int>{1, 4, 9}));
}

TEST(AdapterEnabled, MissingFileEnablesNothing)
{
    QTemporaryDir dir;
    const AdapterConfig config(dir.filePath(QStringLiteral("PLCDRV.INI")), {});
    for (int n = 1; n <= 8; ++n)
        EXPECT_FALSE(config.enabled(n)) << n;
}

TEST(ComPortMapping, PortsSectionElseTtyS)
{
    IniFile ini(QStringLiteral("[Ports]\nCOM1=/dev/ttyUSB0\nCOM3 = /dev/ttyACM1 \nCOM4=\n"));
    const AdapterConfig config(ini.path(), {});
    EXPECT_EQ(config.comPortDevice(1), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(config.comPortDevice(2), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(config.comPortDevice(3), QStringLiteral("/dev/ttyACM1"));
    EXPECT_EQ(config.comPortDevice(4), QStringLiteral("/dev/ttyS3"));
    EXPECT_EQ(config.comPortDevice(24), QStringLiteral("/dev/ttyS23"));
}

TEST(ConfigMessages, GoThroughTheMessageBoxToStderrWithoutAGui)
{
    IniFile ini(QStringLiteral("[Adapter.Object.1]\nEnabled=1\nType=9\n"));
    const AdapterConfig config(ini.path());
    AdapterLink link;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config.configure(1, link), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Device Type Assigned to Adapter 1 is Invalid!"), std::string::npos) << err;
}

} // namespace
