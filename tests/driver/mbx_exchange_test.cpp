// A Modbus Plus read built from a request packet, exchanged through mpbridge
// and the stand-in MBX driver with a Modbus TCP server, and written back into
// the packet.
#include "driver/mbx_message.h"
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "mpbridge/mpbridge.h"
#include "support/modbus_server.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

using chronel::test::CountingModbusServer;
using chronel::test::CountingRegisterValue;
using chronel::test::kCountingRegisters;
using chronel::test::ModbusServer;

namespace {

plcdrv::RequestPacket ReadRequest(int address, int count)
{
    plcdrv::RequestPacket packet{};
    packet.adapter = 1;
    const std::uint8_t route[5] = {255, 0, 0, 0, 0};
    std::copy(route, route + 5, packet.route);
    packet.functionCode = 0x03;
    packet.data[0] = static_cast<std::uint8_t>(address >> 8);
    packet.data[1] = static_cast<std::uint8_t>(address);
    packet.data[2] = static_cast<std::uint8_t>(count >> 8);
    packet.data[3] = static_cast<std::uint8_t>(count);
    packet.pduLength = 5;
    packet.status = 99;
    return packet;
}

class ModbusPlusExchange : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in MBX driver must be on LD_LIBRARY_PATH";
        ASSERT_EQ(MBXInitCard(3), 1);
    }
    void TearDown() override { MBXStopCard(3); }

    CountingModbusServer server;
    SimConfigFile config{SimConfigFile::device(3, server.port())};
};

TEST_F(ModbusPlusExchange, ReadReachesTheServerAndThePacket)
{
    auto packet = ReadRequest(20, 100);
    auto message = plcdrv::BuildMessage(plcdrv::ModbusPlusKind, packet);
    auto& mbx = static_cast<plcdrv::MbxMessage&>(*message);
    const int status = mbx.exchange(3, 2000);
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(mbx.complete());
    EXPECT_EQ(server.lastUnit(), 255);
    EXPECT_EQ(plcdrv::StoreReply(mbx, status, false, packet), 0);
    EXPECT_EQ(packet.status, 99); // Modbus Plus leaves the status field alone
    ASSERT_EQ(packet.data[0], 200);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ((packet.data[1 + 2 * i] << 8) | packet.data[2 + 2 * i], CountingRegisterValue(20 + i));
}

TEST_F(ModbusPlusExchange, ExceptionFromTheServerReachesThePacket)
{
    auto packet = ReadRequest(kCountingRegisters - 1, 2);
    auto message = plcdrv::BuildMessage(plcdrv::ModbusPlusKind, packet);
    auto& mbx = static_cast<plcdrv::MbxMessage&>(*message);
    ASSERT_EQ(mbx.exchange(3, 2000), 0);
    EXPECT_EQ(plcdrv::StoreReply(mbx, 0, false, packet), 0);
    EXPECT_EQ(packet.functionCode, 0x83);
    EXPECT_EQ(packet.data[0], 2);
}

TEST_F(ModbusPlusExchange, CardNotOpenGivesMinusOne)
{
    auto packet = ReadRequest(0, 1);
    auto message = plcdrv::BuildMessage(plcdrv::ModbusPlusKind, packet);
    auto& mbx = static_cast<plcdrv::MbxMessage&>(*message);
    EXPECT_EQ(mbx.exchange(7, 2000), -1);
    EXPECT_FALSE(mbx.complete());
    EXPECT_EQ(mbx.result(), -1);
    EXPECT_EQ(plcdrv::StoreReply(mbx, mbx.result(), false, packet), -1);
    EXPECT_EQ(server.requestsServed(), 0);
}

} // namespace
