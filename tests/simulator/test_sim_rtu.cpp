// chronel-sim on Modbus RTU over a pseudo-terminal it creates, driven by a
// libmodbus RTU client and by raw frames for the addresses libmodbus cannot use.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include "sim_client.h"
#include "support/sim_process.h"

using namespace simtest;
using chronel::test::SimProcess;

namespace {

// Modbus CRC-16, checked below against the frame 01 03 00 00 00 0A C5 CD that
// every Modbus reference lists.
uint16_t Crc16(const std::vector<uint8_t>& b, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= b[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> Frame(std::vector<uint8_t> body)
{
    uint16_t crc = Crc16(body, body.size());
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    return body;
}

class SimRtu : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim_.start({"--no-tcp", "--rtu", "pty", "--baud", "19200"}));
        path_ = sim_.readLine();
        ASSERT_EQ(path_.rfind("/dev/", 0), 0u) << path_ << sim_.stderrText();
        client_.reset(modbus_new_rtu(path_.c_str(), 19200, 'E', 8, 1));
        ASSERT_TRUE(client_);
        modbus_set_slave(client_.get(), 1);
        modbus_set_response_timeout(client_.get(), 1, 0);
        ASSERT_EQ(modbus_connect(client_.get()), 0);
        fd_ = modbus_get_socket(client_.get());
    }

    // Writes a raw frame and collects what comes back within `ms`.
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& f, int ms = 400)
    {
        EXPECT_EQ(::write(fd_, f.data(), f.size()), static_cast<ssize_t>(f.size()));
        std::vector<uint8_t> got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            uint8_t buf[300];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    SimProcess sim_;
    std::string path_;
    Modbus client_;
    int fd_ = -1;
};

TEST(RtuCrc, MatchesTheReferenceFrame)
{
    auto f = Frame({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    EXPECT_EQ(f[6], 0xC5);
    EXPECT_EQ(f[7], 0xCD);
}

TEST_F(SimRtu, LibmodbusClientReadsAndWrites)
{
    auto cfg = ReadRegs(client_.get(), 1, 100);
    ASSERT_EQ(cfg.size(), 100u);
    EXPECT_EQ(cfg[48], 160);
    ASSERT_TRUE(WriteRegs(client_.get(), 101, {555}));
    EXPECT_EQ(ReadRegs(client_.get(), 101, 1), std::vector<uint16_t>{555});
    auto ev = DrainEvents(client_.get());
    ASSERT_GE(ev.size(), 3u);
    EXPECT_EQ(ev[0].kind, 6);
    uint16_t w[2];
    EXPECT_EQ(ExceptionOf(modbus_read_registers(client_.get(), 5000, 2, w)), 2);
}

TEST_F(SimRtu, Address255IsAnswered)
{
    auto reply = exchange(Frame({255, 3, 0, 48, 0, 2})); // registers 49, 50
    ASSERT_EQ(reply.size(), 9u);
    EXPECT_EQ(reply[0], 255);
    EXPECT_EQ(reply[1], 3);
    EXPECT_EQ(reply[2], 4);
    EXPECT_EQ(reply[3] << 8 | reply[4], 160);
    EXPECT_EQ(reply[5] << 8 | reply[6], 1);
    EXPECT_EQ(Crc16(reply, 7), reply[7] | reply[8] << 8);
}

TEST_F(SimRtu, OtherSlavesBadFramesAndBroadcasts)
{
    EXPECT_TRUE(exchange(Frame({7, 3, 0, 48, 0, 1})).empty()); // another slave's request
    auto bad = Frame({255, 3, 0, 48, 0, 1});
    bad.back() ^= 0x55;
    EXPECT_TRUE(exchange(bad).empty());
    EXPECT_TRUE(exchange({255, 3, 0}).empty()); // cut short
    // A broadcast write is carried out without a reply.
    EXPECT_TRUE(exchange(Frame({0, 6, 0, 100, 0x12, 0x34})).empty());
    EXPECT_EQ(ReadRegs(client_.get(), 101, 1), std::vector<uint16_t>{0x1234});
    auto stats = ReadRegs(client_.get(), 1501, 100);
    ASSERT_EQ(stats.size(), 100u);
    EXPECT_EQ(stats[79], 2); // the CRC error and the short frame
}

TEST_F(SimRtu, UnknownFunctionWithDataIsRefused)
{
    auto reply = exchange(Frame({255, 0x41, 1, 2, 3}));
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(reply[1], 0xC1);
    EXPECT_EQ(reply[2], 1);
}

} // namespace
