// The whole stack over a serial line: the configurator's upload and download
// sequences on real PLCTAG controls, handed by PLCTAG to libPLCDRV.so for
// adapter 1, a serial Modbus RTU adapter on the pseudo-terminal of
// chronel-sim. The simulated module is prepared and checked through its
// Modbus TCP side with libmodbus, apart from the configurator.
//
// PLCTAG starts the driver once per process, so this program holds one test.
#include "core/link/plctag_factory.h"
#include "core/model/chronel_model.h"
#include "core/transfer/transfer.h"
#include "driver_harness.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace chronel;
using namespace drivertest;
using std::chrono::milliseconds;

namespace {

constexpr int kModuleNameRegister = 39;       // 8 registers of text
constexpr int kPointDescriptions = 301 + 128; // 16 registers per point

// Two characters per register, the first in the low byte, zero-filled.
std::vector<std::uint16_t> TextWords(const std::string& text, int words)
{
    std::vector<std::uint16_t> out(static_cast<std::size_t>(words), 0);
    for (std::size_t i = 0; i < text.size() && i < 2 * out.size(); ++i)
        out[i / 2] |= static_cast<std::uint16_t>(static_cast<std::uint8_t>(text[i]) << (i % 2 ? 8 : 0));
    return out;
}

// The simulated module's registers over Modbus TCP, unit 255.
class ModuleOverTcp {
public:
    explicit ModuleOverTcp(int port) : ctx_(modbus_new_tcp("127.0.0.1", port))
    {
        if (ctx_ && (modbus_set_slave(ctx_, 255) != 0 || modbus_connect(ctx_) != 0)) {
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~ModuleOverTcp()
    {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    bool ok() const { return ctx_ != nullptr; }
    bool write(int reg, const std::vector<std::uint16_t>& words)
    {
        return modbus_write_registers(ctx_, reg - 1, static_cast<int>(words.size()), words.data()) ==
            static_cast<int>(words.size());
    }
    std::vector<std::uint16_t> read(int reg, int count)
    {
        std::vector<std::uint16_t> words(static_cast<std::size_t>(count));
        if (modbus_read_registers(ctx_, reg - 1, count, words.data()) != count)
            return {};
        return words;
    }

private:
    modbus_t* ctx_;
};

int CountLines(const std::string& text, const std::string& prefix)
{
    int count = 0;
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            ++count;
    }
    return count;
}

TEST(WholeStack, ConfiguratorUploadsAndDownloadsOverASerialRtuAdapter)
{
    chronel::test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--tcp-port", "0", "--rtu", "pty", "--baud", "19200", "--parity", "N", "--verbose"}));
    const std::string ptyPath = sim.readLine();
    ASSERT_EQ(ptyPath.rfind("/dev/", 0), 0u) << ptyPath << sim.stderrText();
    const std::string portLine = sim.readLine();
    ASSERT_EQ(portLine.rfind("tcp-port ", 0), 0u) << portLine;
    ModuleOverTcp module(std::stoi(portLine.substr(9)));
    ASSERT_TRUE(module.ok());
    ASSERT_TRUE(module.write(kModuleNameRegister, TextWords("Serial Yard 3", 8)));
    ASSERT_TRUE(module.write(kPointDescriptions, TextWords("Breaker over RTU", 16)));

    // Adapter 1 (the channels' Adapter 0): COM1 at 19200 baud, 8N1, RTU.
    IniFile ini(IniFile::general(0) + IniFile::ports({{1, ptyPath}}) + IniFile::serial(1, 1, 0, 1000, 4));
    ::setenv("PLCDRV_INI", ini.pathString().c_str(), 1);

    ChronelModel model(PlctagControlFactory());
    model.settings().ConfigTcpipIp = {
        QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
    model.startUp();
    std::vector<UserMessage> messages;
    Transfer transfer(model, [&](const UserMessage& m) { messages.push_back(m); });
    transfer.setPollInterval(10);

    transfer.startUpload();
    ASSERT_TRUE(RunUntil([&] { return !transfer.upload().running(); }, milliseconds(60000)));
    EXPECT_EQ(transfer.upload().outcome(), TransferOutcome::Finished);
    EXPECT_EQ(transfer.upload().TransferErrorCount(), 0);
    EXPECT_EQ(model.settings().ConfigModuleName, QStringLiteral("Serial Yard 3"));
    EXPECT_EQ(model.points()[0].SsPcDescription, QStringLiteral("Breaker over RTU"));

    model.settings().ConfigModuleName = QStringLiteral("Sent over RTU");
    model.points()[5].SsPcDescription = QStringLiteral("Point six");
    model.points()[5].SsPcFilter = 4321;
    model.loadPointPage();
    transfer.startDownload();
    ASSERT_TRUE(RunUntil([&] { return !transfer.download().running(); }, milliseconds(60000)));
    EXPECT_EQ(transfer.download().outcome(), TransferOutcome::Finished);
    EXPECT_EQ(transfer.download().TransferErrorCount(), 0);
    EXPECT_EQ(module.read(kModuleNameRegister, 8), TextWords("Sent over RTU", 8));
    EXPECT_EQ(module.read(kPointDescriptions + 16 * 5, 16), TextWords("Point six", 16));
    EXPECT_EQ(module.read(301 + 5, 1), std::vector<std::uint16_t>{4321});
    EXPECT_TRUE(messages.empty());

    for (int i = 0; i < ChannelCount; ++i)
        model.channels()[ChannelId(i)].AutoPoll(0);

    // Everything the configurator sent went over the serial line: 20 reads
    // and 21 writes at least (the scans share the adapter); the TCP side saw
    // only this test's own five requests.
    const std::string log = sim.stderrText();
    EXPECT_GE(CountLines(log, "rtu request 3 "), 20);
    EXPECT_GE(CountLines(log, "rtu request 16 "), 21);
    EXPECT_EQ(CountLines(log, "tcp request "), 5);
}

} // namespace
