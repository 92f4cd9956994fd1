// Modbus Plus adapters in the engine: requests put into the driver go
// through mpbridge and the stand-in MBX driver (build/lib/mbxsim on
// LD_LIBRARY_PATH) to a libmodbus Modbus TCP server and complete like serial
// ones, except that the status comes from the bridge and is not written into
// the packet.
#include "driver/driver_app.h"
#include "driver_harness.h"
#include "mpbridge/mpbridge.h"
#include "support/modbus_server.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

using namespace drivertest;
using plcdrv::DriverApp;
using std::chrono::milliseconds;

using chronel::test::CountingModbusServer;
using chronel::test::CountingRegisterValue;
using chronel::test::kCountingRegisters;
using chronel::test::ModbusServer;

namespace {

constexpr int kCard = 2;
constexpr auto kWait = milliseconds(5000);
// The stand-in's error number for a server that does not answer in time.
constexpr int kStandInTimeout = 7;

class ModbusPlusAdapterTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in MBX driver must be on LD_LIBRARY_PATH";
    }

    void startDriver(const std::string& iniText, plcdrv::StartupDisplayFactory display = nullptr)
    {
        ini_.write(iniText);
        app_ = std::make_unique<DriverApp>(DriverApp::Environment{
            [this](const QString& text) { reports_.push_back(text.toStdString()); }, std::move(display)});
        ASSERT_TRUE(app_->start(ini_.path()));
    }

    int readAndWait(TestControl& control, int start, int count, int unit = 1)
    {
        control.readHolding(1, unit, start, count);
        control.packet().status = 0x7777;
        const std::size_t before = control.completions().size();
        if (app_->put(&control.packet(), 280) != 1)
            return -1000;
        if (!control.waitForCompletions(before + 1, kWait))
            return -2000;
        return control.completions().back().status;
    }

    IniFile ini_;
    std::vector<std::string> reports_;
    std::unique_ptr<DriverApp> app_;
};

TEST_F(ModbusPlusAdapterTest, ReadsAndExceptionsReachThePacketWithoutItsStatusField)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(kCard, server.port()));
    startDriver(IniFile::general(0) + IniFile::modbusPlus(1, kCard));
    ASSERT_EQ(app_->runningAdapters(), std::vector<int>{1});

    TestControl control;
    ASSERT_EQ(readAndWait(control, 10, 125, 9), 0);
    EXPECT_EQ(control.packet().status, 0x7777);
    EXPECT_EQ(server.lastUnit(), 9);
    ASSERT_EQ(control.packet().data[0], 250);
    for (int i = 0; i < 125; ++i)
        ASSERT_EQ(control.replyWord(i), CountingRegisterValue(10 + i)) << i;

    ASSERT_EQ(readAndWait(control, kCountingRegisters, 2), 0);
    EXPECT_EQ(control.packet().functionCode, 0x83);
    EXPECT_EQ(control.packet().data[0], 2);
    EXPECT_EQ(control.packet().status, 0x7777);
}

TEST_F(ModbusPlusAdapterTest, BridgeErrorIsPassedOnAsTheStatus)
{
    CountingModbusServer silent(ModbusServer::Answers::Never);
    SimConfigFile config(SimConfigFile::device(kCard, silent.port()));
    startDriver(IniFile::general(0) + IniFile::modbusPlus(1, kCard, 300));
    TestControl control;
    EXPECT_EQ(readAndWait(control, 0, 1), kStandInTimeout);
    EXPECT_EQ(control.packet().status, 0x7777);
}

TEST_F(ModbusPlusAdapterTest, CardThatDoesNotOpenDropsTheAdapterSilently)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(kCard, server.port()));
    startDriver(IniFile::general(0) + IniFile::modbusPlus(1, kCard + 5) + IniFile::modbusPlus(2, kCard));
    EXPECT_EQ(app_->runningAdapters(), std::vector<int>{2});
    EXPECT_TRUE(reports_.empty());
    TestControl control;
    control.readHolding(1, 1, 0, 1);
    EXPECT_EQ(app_->put(&control.packet(), 280), 0);
}

TEST_F(ModbusPlusAdapterTest, UnloadClosesTheCard)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(kCard, server.port()));
    startDriver(IniFile::general(0) + IniFile::modbusPlus(1, kCard));
    ASSERT_EQ(app_->runningAdapters(), std::vector<int>{1});
    app_.reset();
    // Closing a card that is not open reports 0.
    EXPECT_EQ(MBXStopCard(kCard), 0);
}

TEST_F(ModbusPlusAdapterTest, StatusDisplayNamesTheCardAndShowsNoPortText)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(kCard, server.port()));
    std::vector<std::string> events;
    struct Recorder final : plcdrv::StartupDisplay {
        explicit Recorder(std::vector<std::string>& e) : events(e) { }
        ~Recorder() override { events.push_back("destroy"); }
        void setCaption(const QString& c) override { events.push_back("caption " + c.toStdString()); }
        void setStatusText(const QString& t) override { events.push_back("status " + t.toStdString()); }
        std::vector<std::string>& events;
    };
    startDriver(IniFile::modbusPlus(3, kCard), [&] { return std::make_unique<Recorder>(events); });
    EXPECT_EQ(events, (std::vector<std::string>{"caption Starting Adapter 3 As MBX Device", "destroy"}));
}

} // namespace
