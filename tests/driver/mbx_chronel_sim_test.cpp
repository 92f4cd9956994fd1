// A Modbus Plus read of the Module ID register, built by the driver core and
// exchanged through mpbridge and the stand-in MBX driver with a chronel-sim
// process; the same register read directly over Modbus TCP with libmodbus is
// the reference.
#include "driver/mbx_message.h"
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "mpbridge/mpbridge.h"
#include "support/sim_config_file.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>
#include <modbus.h>

namespace {

TEST(ModbusPlusToChronelSim, ModuleIdMatchesADirectTcpRead)
{
    ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in MBX driver must be on LD_LIBRARY_PATH";
    chronel::test::SimProcess sim;
    ASSERT_GT(sim.startTcp(), 0) << "chronel-sim did not announce its port";
    SimConfigFile config(SimConfigFile::device(1, sim.port()));
    ASSERT_EQ(MBXInitCard(1), 1);

    // Register 101 (protocol address 100), unit 255, as the configurator asks.
    plcdrv::RequestPacket packet{};
    packet.adapter = 1;
    packet.route[0] = 255;
    packet.functionCode = 0x03;
    const std::uint8_t request[4] = {0x00, 100, 0x00, 0x01};
    std::copy(request, request + 4, packet.data);
    packet.pduLength = 5;
    auto message = plcdrv::BuildMessage(plcdrv::ModbusPlusKind, packet);
    auto& mbx = static_cast<plcdrv::MbxMessage&>(*message);
    const int status = mbx.exchange(1, 2000);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(plcdrv::StoreReply(mbx, status, false, packet), 0);
    ASSERT_EQ(packet.functionCode, 0x03);
    ASSERT_EQ(packet.data[0], 2);
    const int viaModbusPlus = (packet.data[1] << 8) | packet.data[2];
    EXPECT_EQ(MBXStopCard(1), 1);

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 255);
    ASSERT_EQ(modbus_connect(ctx), 0);
    std::uint16_t direct = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 100, 1, &direct), 1);
    modbus_close(ctx);
    modbus_free(ctx);
    EXPECT_EQ(viaModbusPlus, direct);
}

} // namespace
