// chronel-sim serving several modules at once (--modules), each on its own
// loopback address, driven over Modbus TCP by libmodbus clients.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "sim_client.h"
#include "support/sim_process.h"

using namespace simtest;
using chronel::test::SimProcess;

namespace {

Modbus ConnectAt(const std::string& address, int port, int timeoutMs = 1000)
{
    Modbus c(modbus_new_tcp(address.c_str(), port));
    if (!c)
        return nullptr;
    modbus_set_slave(c.get(), 255);
    modbus_set_response_timeout(c.get(), 0, static_cast<uint32_t>(timeoutMs) * 1000);
    if (modbus_connect(c.get()) != 0)
        return nullptr;
    return c;
}

bool EventsAvailable(modbus_t* c)
{
    uint8_t avail = 0;
    return modbus_read_bits(c, 0, 1, &avail) == 1 && avail;
}

TEST(SimSite, ModulesAnswerIndependently)
{
    SimProcess sim;
    int port = sim.startTcp({"--modules", "3"});
    ASSERT_GT(port, 0) << sim.stderrText();
    Modbus m[3];
    for (int k = 0; k < 3; ++k) {
        m[k] = ConnectAt("127.0.0." + std::to_string(k + 1), port);
        ASSERT_TRUE(m[k]) << k + 1;
    }
    // Module ID, register 101: written on two modules, the third keeps the factory value.
    ASSERT_TRUE(WriteRegs(m[0].get(), 101, {71}));
    ASSERT_TRUE(WriteRegs(m[1].get(), 101, {72}));
    EXPECT_EQ(ReadRegs(m[0].get(), 101, 1), std::vector<uint16_t>{71});
    EXPECT_EQ(ReadRegs(m[1].get(), 101, 1), std::vector<uint16_t>{72});
    EXPECT_EQ(ReadRegs(m[2].get(), 101, 1), std::vector<uint16_t>{1});

    // Each has its own start-up events: emptying one buffer leaves the others full.
    ASSERT_TRUE(EventsAvailable(m[1].get()));
    EXPECT_FALSE(DrainEvents(m[1].get()).empty());
    EXPECT_FALSE(EventsAvailable(m[1].get()));
    EXPECT_TRUE(EventsAvailable(m[0].get()));
    EXPECT_TRUE(EventsAvailable(m[2].get()));
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimSite, DeadModuleAcceptsButNeverAnswersAndFaultsStayWithTheirModule)
{
    SimProcess sim;
    int port = sim.startTcp({"--modules", "3", "--dead", "2", "--fault-module", "3", "--exception", "101:6"});
    ASSERT_GT(port, 0) << sim.stderrText();
    Modbus dead = ConnectAt("127.0.0.2", port, 300);
    ASSERT_TRUE(dead); // the connection is accepted
    EXPECT_TRUE(ReadRegs(dead.get(), 101, 1).empty());
    EXPECT_EQ(errno, ETIMEDOUT);

    Modbus first = ConnectAt("127.0.0.1", port);
    Modbus third = ConnectAt("127.0.0.3", port);
    ASSERT_TRUE(first);
    ASSERT_TRUE(third);
    EXPECT_EQ(ReadRegs(first.get(), 101, 1), std::vector<uint16_t>{1});
    uint16_t w = 0;
    EXPECT_EQ(ExceptionOf(modbus_read_registers(third.get(), 100, 1, &w)), 6);
    EXPECT_EQ(ReadRegs(third.get(), 49, 1), std::vector<uint16_t>{160}); // outside the fault: answered
}

TEST(SimSite, StateFolderKeepsOneFilePerModule)
{
    namespace fs = std::filesystem;
    fs::path dir = testing::TempDir() + "chronel_sim_site_" + std::to_string(::getpid());
    fs::remove_all(dir);
    for (int run = 0; run < 2; ++run) {
        SimProcess sim;
        int port = sim.startTcp({"--modules", "2", "--state", dir.string()});
        ASSERT_GT(port, 0) << sim.stderrText();
        Modbus second = ConnectAt("127.0.0.2", port);
        Modbus first = ConnectAt("127.0.0.1", port);
        ASSERT_TRUE(second);
        ASSERT_TRUE(first);
        if (run == 0) {
            ASSERT_TRUE(WriteRegs(first.get(), 101, {41}));
            ASSERT_TRUE(WriteRegs(second.get(), 101, {42}));
        } else {
            EXPECT_EQ(ReadRegs(first.get(), 101, 1), std::vector<uint16_t>{41});
            EXPECT_EQ(ReadRegs(second.get(), 101, 1), std::vector<uint16_t>{42});
        }
        EXPECT_EQ(sim.stop(SIGTERM), 0);
    }
    EXPECT_TRUE(fs::exists(dir / "module-127.0.0.1.state"));
    EXPECT_TRUE(fs::exists(dir / "module-127.0.0.2.state"));
    fs::remove_all(dir);
}

TEST(SimSite, BadModuleOptionsAreRefused)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c :
        {Case{{"--modules", "0"}, "--modules needs a number"}, Case{{"--modules", "257"}, "--modules needs a number"},
            Case{{"--modules", "3", "--listen", "127.0.0.253"}, "run past .254"},
            Case{{"--modules", "2", "--listen", "192.168.1.10"}, "needs a 127.x --listen address"},
            Case{{"--modules", "2", "--dead", "3"}, "--dead 3 names no module"},
            Case{{"--modules", "2", "--fault-module", "3"}, "--fault-module 3 names no module"}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(c.args));
        EXPECT_EQ(sim.waitExit(), 2) << c.args[1];
        EXPECT_NE(sim.stderrText().find(c.message), std::string::npos) << c.args[1];
    }
}

} // namespace
