// mpbridge bound to the stand-in MBX driver (build/lib/mbxsim on
// LD_LIBRARY_PATH), exchanging with a libmodbus Modbus TCP server.
#include "mpbridge/mbxapi.h"
#include "mpbridge/mpbridge.h"
#include "support/modbus_server.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

using chronel::test::CountingModbusServer;
using chronel::test::CountingRegisterValue;
using chronel::test::kCountingRegisters;
using chronel::test::ModbusServer;

namespace {

// Stand-in error numbers, as its header defines them.
constexpr int kConnectFailed = 6;
constexpr int kTimeout = 7;

// The stand-in as mpbridge loaded it; the test does not link it, so that the
// bridge's own run-time loading is what puts it into the process.
template <typename Fn> Fn StandIn(const char* name)
{
    static void* lib = dlopen("libmbxapi.so", RTLD_NOW | RTLD_NOLOAD);
    return lib ? reinterpret_cast<Fn>(dlsym(lib, name)) : nullptr;
}

int Calls(const char* name)
{
    static auto* count = StandIn<int (*)(const char*)>("mbxsim_call_count");
    return count ? count(name) : -1;
}

std::vector<std::uint8_t> ReadHoldingPdu(int address, int count)
{
    return {0x03, std::uint8_t(address >> 8), std::uint8_t(address), std::uint8_t(count >> 8), std::uint8_t(count)};
}

class MpbridgeTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (int device : {1, 2, 3, 4})
            MBXStopCard(device);
    }

    int send(int device, std::vector<std::uint8_t> pdu, std::array<unsigned char, 512>& frame, int unit = 1,
        int timeout = 2000)
    {
        frame.fill(0xCD);
        std::memcpy(frame.data(), pdu.data(), pdu.size());
        const unsigned short routing[5] = {static_cast<unsigned short>(unit), 0, 0, 0, 0};
        return MBXSendPacket(device, routing, frame.data(), static_cast<int>(pdu.size()), timeout);
    }
};

TEST_F(MpbridgeTest, DriverIsAvailableAndExportsItsCounter)
{
    EXPECT_EQ(MBXDriverAvailable(), 0);
    ASSERT_GE(Calls("MbxOpen"), 0) << "stand-in not loaded";
}

TEST_F(MpbridgeTest, InitTwiceOpensOnce)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(3, server.port()));
    const int opens = Calls("MbxOpen");
    const int paths = Calls("MbxOpenMp");
    EXPECT_EQ(MBXInitCard(3), 1);
    EXPECT_EQ(MBXInitCard(3), 1);
    EXPECT_EQ(Calls("MbxOpen"), opens + 1);
    EXPECT_EQ(Calls("MbxOpenMp"), paths + 1);
}

TEST_F(MpbridgeTest, SendBeforeInitReturnsMinusOneAndCallsNothing)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(3, server.port()));
    const int writes = Calls("MbxWriteMpCmdWait");
    const int reads = Calls("MbxReadMpReply");
    std::array<unsigned char, 512> frame{};
    EXPECT_EQ(send(3, ReadHoldingPdu(0, 1), frame), -1);
    EXPECT_EQ(Calls("MbxWriteMpCmdWait"), writes);
    EXPECT_EQ(Calls("MbxReadMpReply"), reads);
    EXPECT_EQ(server.requestsServed(), 0);
}

TEST_F(MpbridgeTest, StopClosesPathAndCardOnceAndRefusesAClosedCard)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(2, server.port()));
    EXPECT_EQ(MBXStopCard(2), 0);
    ASSERT_EQ(MBXInitCard(2), 1);
    const int closes = Calls("MbxClose");
    const int pathCloses = Calls("MbxCloseMp");
    EXPECT_EQ(MBXStopCard(2), 1);
    EXPECT_EQ(Calls("MbxClose"), closes + 1);
    EXPECT_EQ(Calls("MbxCloseMp"), pathCloses + 1);
    EXPECT_EQ(MBXStopCard(2), 0);
    std::array<unsigned char, 512> frame{};
    EXPECT_EQ(send(2, ReadHoldingPdu(0, 1), frame), -1);
}

TEST_F(MpbridgeTest, FailedOpenLeavesNoCardBehind)
{
    SimConfigFile config(SimConfigFile::device(1, 1));
    const int closes = Calls("MbxClose");
    EXPECT_EQ(MBXInitCard(4), 0); // not in the device list
    EXPECT_EQ(Calls("MbxClose"), closes);
    EXPECT_EQ(MBXStopCard(4), 0);
    std::array<unsigned char, 512> frame{};
    EXPECT_EQ(send(4, ReadHoldingPdu(0, 1), frame), -1);
}

TEST_F(MpbridgeTest, ReadsHoldingRegistersThroughTheStandIn)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(1, server.port()));
    ASSERT_EQ(MBXInitCard(1), 1);
    std::array<unsigned char, 512> frame{};
    ASSERT_EQ(send(1, ReadHoldingPdu(10, 4), frame, 255), 0);
    EXPECT_EQ(server.lastUnit(), 255);
    EXPECT_EQ(frame[0], 0x03);
    ASSERT_EQ(frame[1], 8);
    for (int i = 0; i < 4; ++i) {
        const int value = (frame[2 + 2 * i] << 8) | frame[3 + 2 * i];
        EXPECT_EQ(value, CountingRegisterValue(10 + i));
    }
}

TEST_F(MpbridgeTest, ExceptionReplyIsPassedBackAsIs)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(1, server.port()));
    ASSERT_EQ(MBXInitCard(1), 1);
    std::array<unsigned char, 512> frame{};
    ASSERT_EQ(send(1, ReadHoldingPdu(kCountingRegisters, 1), frame), 0);
    EXPECT_EQ(frame[0], 0x83);
    EXPECT_EQ(frame[1], 0x02);
}

TEST_F(MpbridgeTest, DriverErrorsAreReturnedUnchanged)
{
    CountingModbusServer silent(ModbusServer::Answers::Never);
    SimConfigFile config(SimConfigFile::device(1, silent.port()) + "[Device 2]\nEndpoint=127.0.0.1:1\n");
    ASSERT_EQ(MBXInitCard(1), 1);
    ASSERT_EQ(MBXInitCard(2), 1);
    std::array<unsigned char, 512> frame{};
    EXPECT_EQ(send(1, ReadHoldingPdu(0, 1), frame, 1, 200), kTimeout);
    EXPECT_EQ(send(2, ReadHoldingPdu(0, 1), frame, 1, 200), kConnectFailed);
}

TEST_F(MpbridgeTest, RefusesUnusableArguments)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(1, server.port()));
    ASSERT_EQ(MBXInitCard(1), 1);
    std::array<unsigned char, 512> frame{};
    const unsigned short routing[5] = {1, 0, 0, 0, 0};
    EXPECT_EQ(MBXSendPacket(1, nullptr, frame.data(), 5, 100), -1);
    EXPECT_EQ(MBXSendPacket(1, routing, nullptr, 5, 100), -1);
    EXPECT_EQ(MBXSendPacket(1, routing, frame.data(), 513, 100), -1);
    EXPECT_EQ(server.requestsServed(), 0);
}

// Exchanges on two cards from two threads: each reply must belong to its own
// request, which holds only while the bridge runs one exchange at a time.
TEST_F(MpbridgeTest, ConcurrentExchangesOnTwoCardsKeepTheirReplies)
{
    CountingModbusServer server;
    SimConfigFile config(SimConfigFile::device(1, server.port()) + SimConfigFile::device(2, server.port()));
    ASSERT_EQ(MBXInitCard(1), 1);
    ASSERT_EQ(MBXInitCard(2), 1);
    std::atomic<int> failures{0};
    auto worker = [&](int device) {
        std::array<unsigned char, 512> frame{};
        for (int i = 0; i < 50; ++i) {
            const int address = (device * 50 + i) % kCountingRegisters;
            frame.fill(0);
            const auto pdu = ReadHoldingPdu(address, 1);
            std::memcpy(frame.data(), pdu.data(), pdu.size());
            const unsigned short routing[5] = {1, 0, 0, 0, 0};
            if (MBXSendPacket(device, routing, frame.data(), 5, 2000) != 0 || frame[1] != 2 ||
                ((frame[2] << 8) | frame[3]) != CountingRegisterValue(address))
                ++failures;
        }
    };
    std::thread a(worker, 1), b(worker, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(server.requestsServed(), 100);
}

// The stand-in's device description enumeration, as the device dialog uses it.
class MbxSimEnumeration : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(openEnum && closeEnum && next && read) << "stand-in not loaded"; }
    MbxOpenDeviceDescriptionEnumFn openEnum = StandIn<MbxOpenDeviceDescriptionEnumFn>("MbxOpenDeviceDescriptionEnum");
    MbxCloseDeviceDescriptionEnumFn closeEnum =
        StandIn<MbxCloseDeviceDescriptionEnumFn>("MbxCloseDeviceDescriptionEnum");
    MbxDeviceDescriptionEnumNextFn next = StandIn<MbxDeviceDescriptionEnumNextFn>("MbxDeviceDescriptionEnumNext");
    MbxReadDeviceDescriptionAFn read = StandIn<MbxReadDeviceDescriptionAFn>("MbxReadDeviceDescriptionA");
};

TEST_F(MbxSimEnumeration, ListsDevicesWithTheirTexts)
{
    SimConfigFile config(SimConfigFile::device(3, 1502, "A B C") + SimConfigFile::device(5, 1503, "Logical", false) +
        "[Device 7]\nName=" + std::string(80, 'x') + "\n");
    MbxEnumHandle handle = 0;
    ASSERT_EQ(openEnum(&handle), 0);
    std::vector<std::pair<int, int>> seen; // device, physical
    std::string longName;
    do {
        char texts[4][64];
        int32_t lengths[4] = {64, 64, 64, 64};
        int32_t physical = 0, device = -1;
        ASSERT_EQ(read(handle, &physical, &device, texts[0], &lengths[0], texts[1], &lengths[1], texts[2], &lengths[2],
                      texts[3], &lengths[3]),
            0);
        seen.emplace_back(device, physical);
        if (device == 3) {
            EXPECT_STREQ(texts[0], "Modbus Plus");
            EXPECT_STREQ(texts[2], "A B C");
            EXPECT_EQ(lengths[2], 5);
        }
        if (device == 7)
            longName = texts[2];
    } while (next(handle) == 0);
    EXPECT_EQ(closeEnum(handle), 0);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{3, 1}, {5, 0}, {7, 1}}));
    EXPECT_EQ(longName, std::string(63, 'x'));

    // By number, without an enumeration.
    char texts[4][64];
    int32_t lengths[4] = {64, 64, 64, 64};
    int32_t physical = 0, device = 5;
    ASSERT_EQ(read(0, &physical, &device, texts[0], &lengths[0], texts[1], &lengths[1], texts[2], &lengths[2], texts[3],
                  &lengths[3]),
        0);
    EXPECT_EQ(physical, 0);
    EXPECT_STREQ(texts[3], "Chronel test bench");
}

TEST_F(MbxSimEnumeration, EmptyListDoesNotOpen)
{
    SimConfigFile config("# no devices\n");
    MbxEnumHandle handle = 0;
    EXPECT_NE(openEnum(&handle), 0);
}

} // namespace
