// The adapter table against real PLCDRV.INI files: the editor's defaults,
// values it must not take as numbers, what a save keeps, and files written by
// the editor read back by the driver's own configuration code.
#include "driver/adapter_config.h"
#include "drvsetup/adapter_table.h"
#include "mpbridge/mpbridge.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>

namespace {

using drvsetup::AdapterRecord;
using drvsetup::AdapterTable;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

class AdapterTableFile : public testing::Test {
protected:
    QString path(const QString& name = QStringLiteral("PLCDRV.INI")) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(AdapterTableFile, MissingFileGivesEditorDefaults)
{
    AdapterTable table;
    table.record(3).enabled = 1;
    table.readAll(path());
    for (int i = 0; i < drvsetup::kAdapterCount; ++i)
        EXPECT_EQ(table.record(i), AdapterRecord{}) << "adapter " << i;
    EXPECT_EQ(table.record(0).comIndex, 1);
    EXPECT_EQ(table.firstEnabled(), -1);
}

// A numeric value reads as the driver reads it: its leading number, 0 when
// it does not start with one, the editor's default when empty.
struct ValueCase {
    const char* key;
    const char* text;
    int expected;
    int AdapterRecord::*field;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.key << "=" << c.text; }

class NumericValue : public testing::TestWithParam<ValueCase> { };

TEST_P(NumericValue, ReadsAsNumberOrDefault)
{
    const ValueCase& c = GetParam();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("PLCDRV.INI"));
    WriteFile(file, QByteArray("[Adapter.Object.2]\n") + c.key + "=" + c.text + "\n");
    AdapterTable table;
    table.readAll(file);
    EXPECT_EQ(table.record(1).*c.field, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, NumericValue,
    testing::Values(ValueCase{"Type", "2", 2, &AdapterRecord::deviceType},
        ValueCase{"Type", "serial", 0, &AdapterRecord::deviceType}, ValueCase{"COM:", "4", 4, &AdapterRecord::comIndex},
        ValueCase{"COM:", "3 ports", 3, &AdapterRecord::comIndex},
        ValueCase{"COM:", "COM3", 0, &AdapterRecord::comIndex}, ValueCase{"COM:", "", 1, &AdapterRecord::comIndex},
        ValueCase{"LinkSpeed", "  5  ", 5, &AdapterRecord::linkSpeed},
        ValueCase{"LinkSpeed", "9600", 9600, &AdapterRecord::linkSpeed},
        ValueCase{"LinkSpeed", "3.5", 3, &AdapterRecord::linkSpeed},
        ValueCase{"NodeID", "+17", 17, &AdapterRecord::slaveId},
        ValueCase{"NodeID", "99999999999", 2147483647, &AdapterRecord::slaveId},
        ValueCase{"MBXDeviceNumber", "-1", -1, &AdapterRecord::cardNumber},
        ValueCase{"MBXDeviceNumber", "0x10", 0, &AdapterRecord::cardNumber},
        ValueCase{"Enabled", "yes", 0, &AdapterRecord::enabled},
        ValueCase{"Enabled", "1 ;modem", 1, &AdapterRecord::enabled},
        ValueCase{"Enabled", "1", 1, &AdapterRecord::enabled}));

// Values that are not whole numbers, in every adapter: a save after a change
// to one adapter leaves the lines of the seven others as they were.
TEST_F(AdapterTableFile, SaveLeavesTheAdaptersNotChangedAsTheyWere)
{
    auto file = [](const QByteArray& thirdSpeed) {
        QByteArray text;
        for (int n = 1; n <= drvsetup::kAdapterCount; ++n)
            text += "[Adapter.Object." + QByteArray::number(n) +
                "]\n"
                "Enabled=1 ;modem\n"
                "Type=0\n"
                "COM:=" +
                QByteArray::number(n + 1) +
                " ports\n"
                "LinkProtocol=1 (ASCII)\n"
                "LinkSpeed=" +
                (n == 3 ? thirdSpeed : QByteArray("7 fast")) +
                "\n"
                "LinkParity=2\n"
                "LinkDataBits=1\n"
                "LinkStopBits=0\n"
                "NodeID=17 bench\n"
                "MBXDeviceName=\n"
                "MBXDeviceNumber=0 none\n";
        return text;
    };
    WriteFile(path(), file("7 fast"));
    AdapterTable table;
    table.readAll(path());
    table.record(2).linkSpeed = 3;
    ASSERT_TRUE(table.writeAll(path(), path()));
    EXPECT_EQ(ReadFile(path()).toStdString(), file("3").toStdString());
}

TEST_F(AdapterTableFile, SaveKeepsEveryLineItDoesNotOwn)
{
    const QByteArray original = "; adapters of the test bench\r\n"
                                "[GENERAL]\r\n"
                                "DialogShow=0\r\n"
                                "\r\n"
                                "[Ports]\r\n"
                                "COM1=/dev/ttyUSB0\r\n"
                                "\r\n"
                                "[Adapter.Object.1]\r\n"
                                "LinkTimeOut=750\r\n"
                                "Enabled=0\r\n"
                                "AdapterPollRate=250\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "Key=Value\r\n";
    WriteFile(path(), original);
    AdapterTable table;
    table.readAll(path());
    table.record(0).enabled = 1;
    table.record(0).comIndex = 0;
    table.record(6).deviceType = drvsetup::MbxDevice;
    table.record(6).cardName = QStringLiteral("Bench_Card");
    table.record(6).cardNumber = 3;
    ASSERT_TRUE(table.writeAll(path(), path()));

    const QByteArray saved = ReadFile(path());
    for (const char* kept :
        {"; adapters of the test bench\r\n", "[GENERAL]\r\nDialogShow=0\r\n", "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n",
            "LinkTimeOut=750\r\n", "AdapterPollRate=250\r\n", "[Other]\r\nKey=Value\r\n"})
        EXPECT_TRUE(saved.contains(kept)) << kept;
    EXPECT_FALSE(saved.contains("\n\n")) << "line endings of the file are kept";

    AdapterTable reread;
    reread.readAll(path());
    for (int i = 0; i < drvsetup::kAdapterCount; ++i)
        EXPECT_EQ(reread.record(i), table.record(i)) << "adapter " << i;
}

TEST_F(AdapterTableFile, NewFileHoldsElevenKeysPerAdapterInOrder)
{
    AdapterTable table;
    table.record(7).cardName = QStringLiteral("Card_7");
    ASSERT_TRUE(table.writeAll(QString(), path()));
    const QString saved = QString::fromUtf8(ReadFile(path()));
    for (int n = 1; n <= 8; ++n)
        EXPECT_TRUE(saved.contains(QStringLiteral("[Adapter.Object.%1]\n").arg(n))) << n;
    const QString section8 = saved.mid(saved.indexOf(QStringLiteral("[Adapter.Object.8]")));
    EXPECT_EQ(section8,
        QStringLiteral("[Adapter.Object.8]\nEnabled=0\nType=0\nCOM:=1\nLinkProtocol=0\nLinkSpeed=0\n"
                       "LinkParity=0\nLinkDataBits=0\nLinkStopBits=0\nNodeID=0\n"
                       "MBXDeviceName=Card_7\nMBXDeviceNumber=0\n"));
    EXPECT_TRUE(QFileInfo(path()).permissions() & QFileDevice::ReadOther);
}

// PLCDRV.INI read from the system-wide directory is saved as the user's own
// file; the sections the editor does not own must come along, or the driver
// (which then reads the user's file) would lose its "Ports" and "GENERAL".
TEST_F(AdapterTableFile, FirstSaveOfSystemFileCarriesItsOtherSections)
{
    const QString system = path(QStringLiteral("system.ini"));
    const QString user = path(QStringLiteral("user/PLCDRV.INI"));
    const QByteArray systemText = "[GENERAL]\nDialogShow=0\n[Ports]\nCOM3=/dev/ttyACM0\n[Adapter.Object.1]\n"
                                  "Enabled=1\nType=0\nCOM:=2\n";
    WriteFile(system, systemText);
    AdapterTable table;
    table.readAll(system);
    EXPECT_EQ(table.record(0).comIndex, 2);
    table.record(0).linkSpeed = 3;
    ASSERT_TRUE(table.writeAll(system, user));

    EXPECT_EQ(ReadFile(system), systemText);
    const QByteArray saved = ReadFile(user);
    EXPECT_TRUE(saved.contains("[Ports]\nCOM3=/dev/ttyACM0\n"));
    EXPECT_TRUE(saved.contains("[GENERAL]\nDialogShow=0\n"));
    plcdrv::AdapterConfig config(user, [](const QString& text) { ADD_FAILURE() << text.toStdString(); });
    EXPECT_EQ(config.comPortDevice(3), QStringLiteral("/dev/ttyACM0"));
    plcdrv::AdapterLink link;
    ASSERT_EQ(config.configure(1, link), 1);
    EXPECT_EQ(link.comNumber, 3);
    EXPECT_EQ(link.baudRateIndex, 3);
}

TEST_F(AdapterTableFile, FailedSaveReportsAndKeepsTheOldFile)
{
    // A directory where the file should be: nothing can replace it.
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("PLCDRV.INI")));
    AdapterTable table;
    EXPECT_FALSE(table.writeAll(QString(), path()));
    EXPECT_TRUE(QFileInfo(path()).isDir());

    // A regular file where a directory of the path should be.
    WriteFile(path(QStringLiteral("plain")), "x");
    EXPECT_FALSE(table.writeAll(QString(), path(QStringLiteral("plain/PLCDRV.INI"))));
    EXPECT_EQ(ReadFile(path(QStringLiteral("plain"))), QByteArray("x"));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("plain")})
        << "no scratch file is left behind";
}

TEST_F(AdapterTableFile, SaveThroughLinkWritesTheLinkedFile)
{
    const QString real = path(QStringLiteral("real.ini"));
    WriteFile(real, "[Ports]\nCOM1=/dev/ttyUSB1\n");
    ASSERT_TRUE(QFile::link(real, path()));
    AdapterTable table;
    table.record(2).enabled = 1;
    ASSERT_TRUE(table.writeAll(path(), path()));
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_TRUE(ReadFile(real).contains("COM1=/dev/ttyUSB1"));
    EXPECT_TRUE(ReadFile(real).contains("[Adapter.Object.3]\nEnabled=1\n"));
}

struct ConflictCase {
    const char* name;
    std::vector<AdapterRecord> others; // adapters 1, 2, ... ; adapter 0 is the one selected
    int comIndex;
    int conflict;
};

void PrintTo(const ConflictCase& c, std::ostream* os) { *os << c.name; }

class ComPortConflict : public testing::TestWithParam<ConflictCase> { };

TEST_P(ComPortConflict, NamesTheLowestConflictingAdapter)
{
    const ConflictCase& c = GetParam();
    AdapterTable table;
    table.record(0).enabled = 1;
    table.record(0).comIndex = c.comIndex;
    for (std::size_t i = 0; i < c.others.size(); ++i)
        table.record(static_cast<int>(i) + 1) = c.others[i];
    EXPECT_EQ(table.comPortConflict(0, c.comIndex), c.conflict);
}

AdapterRecord SerialOn(int com, int enabled = 1, int type = drvsetup::SerialDevice)
{
    AdapterRecord r;
    r.enabled = enabled;
    r.deviceType = type;
    r.comIndex = com;
    return r;
}

INSTANTIATE_TEST_SUITE_P(Cases, ComPortConflict,
    testing::Values(ConflictCase{"OtherEnabledSerialSamePort", {SerialOn(0)}, 0, 1},
        ConflictCase{"OtherOnAnotherPort", {SerialOn(1)}, 0, -1},
        ConflictCase{"OtherDisabled", {SerialOn(0, 0)}, 0, -1},
        ConflictCase{"OtherIsModbusPlus", {SerialOn(0, 1, drvsetup::MbxDevice)}, 0, -1},
        ConflictCase{"LowestOfSeveral", {SerialOn(5), SerialOn(0, 0), SerialOn(0), SerialOn(0)}, 0, 3},
        ConflictCase{"SelectedItselfDoesNotCount", {}, 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Files written by the editor, read back by the driver: the values the user
// chose are the values the driver starts with.
struct RoundTripCase {
    const char* name;
    AdapterRecord record;
    int configured; // result of the driver's configure (the adapter number or 0)
    std::function<void(const plcdrv::AdapterLink&)> verify;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class DriverReadsEditorFile : public testing::TestWithParam<RoundTripCase> { };

TEST_P(DriverReadsEditorFile, SameValues)
{
    const RoundTripCase& c = GetParam();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("PLCDRV.INI"));
    AdapterTable table;
    table.record(4) = c.record;
    ASSERT_TRUE(table.writeAll(QString(), file));

    QStringList messages;
    plcdrv::AdapterConfig config(file, [&](const QString& text) { messages << text; });
    EXPECT_EQ(config.enabled(5), c.record.enabled != 0);
    for (int n : {1, 2, 3, 4, 6, 7, 8})
        EXPECT_FALSE(config.enabled(n)) << n;
    plcdrv::AdapterLink link;
    EXPECT_EQ(config.configure(5, link), c.configured);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    if (c.configured != 0) {
        EXPECT_EQ(link.adapterType, c.record.deviceType);
        c.verify(link);
    }

    AdapterTable reread;
    reread.readAll(file);
    EXPECT_EQ(reread.record(4), c.record);
}

AdapterRecord Serial(int com, int speed, int parity, int dataBits, int stopBits, int protocol, int node)
{
    AdapterRecord r;
    r.enabled = 1;
    r.comIndex = com;
    r.linkSpeed = speed;
    r.parity = parity;
    r.dataBits = dataBits;
    r.stopBits = stopBits;
    r.protocol = protocol;
    r.slaveId = node;
    return r;
}

AdapterRecord Card(int number, const char* name)
{
    AdapterRecord r;
    r.enabled = 1;
    r.deviceType = drvsetup::MbxDevice;
    r.cardNumber = number;
    r.cardName = QString::fromUtf8(name);
    return r;
}

AdapterRecord Disabled(AdapterRecord r)
{
    r.enabled = 0;
    return r;
}

AdapterRecord TcpIp()
{
    AdapterRecord r;
    r.deviceType = drvsetup::TcpIpDevice;
    return r;
}

INSTANTIATE_TEST_SUITE_P(Cases, DriverReadsEditorFile,
    testing::Values(RoundTripCase{"RtuCom1At9600Even8Data1Stop", Serial(0, 3, 2, 1, 0, 0, 17), 5,
                        [](const plcdrv::AdapterLink& l) {
                            EXPECT_EQ(l.comNumber, 1);
                            EXPECT_EQ(l.baudRateIndex, 3);
                            EXPECT_EQ(l.parity, plcdrv::EvenParity);
                            EXPECT_EQ(l.dataBits, 8);
                            EXPECT_EQ(l.stopBits, plcdrv::OneStopBit);
                            EXPECT_EQ(l.messageKind, 0);
                            EXPECT_EQ(l.nodeId, 17);
                        }},
        RoundTripCase{"AsciiCom24At115200Odd7Data2Stop", Serial(23, 7, 1, 0, 1, 1, 247), 5,
            [](const plcdrv::AdapterLink& l) {
                EXPECT_EQ(l.comNumber, 24);
                EXPECT_EQ(l.baudRateIndex, 7);
                EXPECT_EQ(l.parity, plcdrv::OddParity);
                EXPECT_EQ(l.dataBits, 7);
                EXPECT_EQ(l.stopBits, plcdrv::TwoStopBits);
                EXPECT_EQ(l.messageKind, 1);
                EXPECT_EQ(l.nodeId, 247);
            }},
        RoundTripCase{"ModbusPlusCard", Card(3, "Bench_Card"), 5,
            [](const plcdrv::AdapterLink& l) {
                EXPECT_EQ(l.cardNumber, 3);
                EXPECT_EQ(l.messageKind, 2);
            }},
        RoundTripCase{"TcpIpIsStoredDisabled", TcpIp(), 0, nullptr},
        RoundTripCase{"DisabledSerialStillCarriesItsSettings", Disabled(Serial(4, 1, 0, 0, 0, 0, 0)), 5,
            [](const plcdrv::AdapterLink& l) { EXPECT_EQ(l.comNumber, 5); }}),
    [](const auto& info) { return std::string(info.param.name); });

// MBXSelectDevice in a process without a QApplication (a command-line tool,
// a driver test): no dialog can appear, so it returns at once as a cancel.
TEST(SelectDeviceWithoutApplication, ReturnsWithOutputsUntouched)
{
    SimConfigFile sim(SimConfigFile::device(2, 1502, "Bench Card"));
    ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in MBX driver must be on LD_LIBRARY_PATH";
    int device = 77;
    char name[64];
    std::memset(name, '#', sizeof name);
    MBXSelectDevice(&device, name);
    EXPECT_EQ(device, 77);
    EXPECT_EQ(std::string(name, sizeof name), std::string(64, '#'));
}

} // namespace
