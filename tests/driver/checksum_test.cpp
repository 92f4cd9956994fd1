// CRC-16 and LRC against independent references: published vectors,
// libmodbus's RTU master (frames it writes to a pseudo-terminal) and
// pymodbus's RTU and ASCII framers.
#include "driver/ascii_message.h"
#include "driver/message_factory.h"
#include "driver/modbus_checksum.h"
#include "driver/rtu_message.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char pair[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

struct CrcVector {
    const char* source;
    Bytes data;
    std::uint16_t crc; // register value; its low byte is sent first
};

class CrcVectors : public testing::TestWithParam<CrcVector> { };

TEST_P(CrcVectors, Match)
{
    const CrcVector& v = GetParam();
    EXPECT_EQ(plcdrv::ModbusCrc16(v.data.data(), v.data.size()), v.crc) << v.source;
}

INSTANTIATE_TEST_SUITE_P(Published, CrcVectors,
    testing::Values(
        CrcVector{"read 10 holding registers of slave 1 (wire: C5 CD)", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},
        CrcVector{"write register 1 of slave 1 (wire: 98 0B)", {0x01, 0x06, 0x00, 0x01, 0x00, 0x03}, 0x0B98},
        CrcVector{"CRC-16/MODBUS check value of \"123456789\"", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
        CrcVector{"empty input leaves the initial value", {}, 0xFFFF}));

TEST(Lrc, PublishedAsciiExample)
{
    const Bytes data{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};
    EXPECT_EQ(plcdrv::ModbusLrc(data.data(), data.size()), 0x7E);
    // The sum of the data and its LRC is zero modulo 256.
    const Bytes wraps{0xFF, 0xFF, 0x02};
    EXPECT_EQ(plcdrv::ModbusLrc(wraps.data(), wraps.size()), 0x00);
}

// libmodbus computes the CRC of every RTU frame it sends; let it send raw
// frames into a pseudo-terminal and compare the CRC bytes it appended.
TEST(CrcAgainstLibmodbus, RandomFrames)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    modbus_t* ctx = modbus_new_rtu(slave.c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);

    std::mt19937 random(20240611);
    for (int round = 0; round < 60; ++round) {
        Bytes frame(2 + random() % 253);
        for (auto& b : frame)
            b = static_cast<std::uint8_t>(random());
        ASSERT_EQ(modbus_send_raw_request(ctx, frame.data(), static_cast<int>(frame.size())),
            static_cast<int>(frame.size() + 2));
        Bytes wire;
        while (wire.size() < frame.size() + 2) {
            pollfd p{master, POLLIN, 0};
            ASSERT_GT(poll(&p, 1, 2000), 0) << "libmodbus frame did not arrive";
            std::uint8_t buffer[600];
            const ssize_t n = read(master, buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            wire.insert(wire.end(), buffer, buffer + n);
        }
        ASSERT_EQ(wire.size(), frame.size() + 2);
        const std::uint16_t crc = plcdrv::ModbusCrc16(frame.data(), frame.size());
        EXPECT_EQ(wire[frame.size()], crc & 0xFF) << Hex(frame);
        EXPECT_EQ(wire[frame.size() + 1], crc >> 8) << Hex(frame);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    close(master);
}

// The same PDUs framed by pymodbus and by our RTU and ASCII messages.
TEST(FramesAgainstPymodbus, RandomPdus)
{
    std::mt19937 random(7);
    std::vector<std::pair<int, Bytes>> requests;
    for (int i = 0; i < 40; ++i) {
        Bytes pdu(1 + random() % 60);
        for (auto& b : pdu)
            b = static_cast<std::uint8_t>(random());
        pdu[0] &= 0x7F; // a request function code
        if (pdu[0] == 0)
            pdu[0] = 3;
        requests.emplace_back(static_cast<int>(random() % 248), pdu);
    }
    requests.emplace_back(17, Bytes{0x03, 0x00, 0x6B, 0x00, 0x03});

    char inputName[] = "/tmp/pymodbus-in-XXXXXX";
    const int fd = mkstemp(inputName);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream input(inputName);
        for (const auto& [unit, pdu] : requests)
            input << unit << ' ' << Hex(pdu) << '\n';
    }
    const std::string command = std::string("/usr/bin/python3 ") + PYMODBUS_FRAMES_SCRIPT + " < " + inputName;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    std::remove(inputName);
    ASSERT_EQ(status, 0) << output;

    std::istringstream lines(output);
    for (const auto& [unit, pdu] : requests) {
        std::string rtuExpected, asciiExpected;
        ASSERT_TRUE(lines >> rtuExpected >> asciiExpected);
        plcdrv::RequestPacket packet{};
        packet.route[0] = static_cast<std::uint8_t>(unit);
        packet.functionCode = pdu[0];
        packet.pduLength = static_cast<std::int32_t>(pdu.size());
        std::copy(pdu.begin() + 1, pdu.end(), packet.data);

        const auto rtu = plcdrv::BuildMessage(plcdrv::RtuKind, packet);
        EXPECT_EQ(Hex(Bytes(rtu->frame(), rtu->frame() + rtu->frameLength())), rtuExpected);
        const auto ascii = plcdrv::BuildMessage(plcdrv::AsciiKind, packet);
        const std::string asciiFrame(reinterpret_cast<const char*>(ascii->frame()), ascii->frameLength());
        EXPECT_EQ(asciiFrame, asciiExpected + "\r\n");
    }
}

} // namespace
