// A Modbus Plus read of the Module ID register, built by the driver core and
// exchanged through mpbridge and the stand-in MBX driver with a chronel-sim
// process; the same register read directly over Modbus TCP with libmodbus is
// the reference.
#include "driver/mbx_message.h"
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "mpbridge/mpbridge.h"
#include "sim_config_file.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

extern char** environ;

namespace {

// chronel-sim on an ephemeral loopback port, stopped by its pid.
class SimulatorProcess {
public:
    SimulatorProcess()
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(CHRONEL_SIM_PATH), const_cast<char*>("--listen"),
                        const_cast<char*>("127.0.0.1"), const_cast<char*>("--tcp-port"), const_cast<char*>("0"),
                        nullptr};
        if (posix_spawn(&pid_, CHRONEL_SIM_PATH, &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The simulator announces "tcp-port N" once it listens.
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && port_ == 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
            const auto at = text.find("tcp-port ");
            if (at != std::string::npos && text.find('\n', at) != std::string::npos)
                port_ = std::stoi(text.substr(at + 9));
        }
        close(out[0]);
    }
    ~SimulatorProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

TEST(ModbusPlusToChronelSim, ModuleIdMatchesADirectTcpRead)
{
    ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in MBX driver must be on LD_LIBRARY_PATH";
    SimulatorProcess sim;
    ASSERT_GT(sim.port(), 0) << "chronel-sim did not announce its port";
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
    auto message = plcdrv::buildMessage(plcdrv::ModbusPlusKind, packet);
    auto& mbx = static_cast<plcdrv::MbxMessage&>(*message);
    const int status = mbx.exchange(1, 2000);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(plcdrv::storeReply(mbx, status, false, packet), 0);
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
