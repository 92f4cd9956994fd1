#pragma once
// chronel-sim on a loopback port of its own, the window's model on real
// PLCTAG controls talking Modbus TCP to it, and a libmodbus client that
// reads and writes the simulated module's registers independently of the
// configurator. The module address is 127.0.0.1 before any request.
#include "core/fields/module_address.h"
#include "core/link/plctag_factory.h"
#include "core/model/chronel_model.h"
#include "core/transfer/transfer.h"
#include "regaccess/plctag.h"
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <modbus.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace chronel::test {

// One request as the simulator logged it.
struct LoggedRequest {
    int function = 0;
    int address = 0;       // register number (protocol address + 1)
    int count = 0;         // words; 0 for functions without a count
    std::vector<int> data; // the first logged data bytes of a write

    bool operator==(const LoggedRequest& o) const
    {
        return function == o.function && address == o.address && count == o.count;
    }
};

inline std::ostream& operator<<(std::ostream& os, const LoggedRequest& r)
{
    return os << "fc" << r.function << '@' << r.address << 'x' << r.count;
}

// "tcp request 3 0 0 0 100": function, then the PDU bytes that follow.
inline std::vector<LoggedRequest> ParseRequestLog(const std::string& log)
{
    std::vector<LoggedRequest> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        const std::string prefix = "tcp request ";
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::istringstream bytes(line.substr(prefix.size()));
        std::vector<int> b;
        int v = 0;
        while (bytes >> v)
            b.push_back(v);
        if (b.size() < 5)
            continue;
        LoggedRequest r;
        r.function = b[0];
        r.address = (b[1] << 8 | b[2]) + 1;
        r.count = b[3] << 8 | b[4];
        if (b.size() > 6)
            r.data.assign(b.begin() + 6, b.end());
        out.push_back(r);
    }
    return out;
}

// Only the configuration reads and writes (functions 3 and 16), without the
// time setup's status reads at register 200.
inline std::vector<LoggedRequest> TransferRequests(const std::vector<LoggedRequest>& all)
{
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : all) {
        if (r.function == 16 || (r.function == 3 && r.address != 200))
            out.push_back(r);
    }
    return out;
}

inline std::vector<LoggedRequest> UploadReads()
{
    std::vector<LoggedRequest> r{{3, 1, 100, {}}, {3, 101, 1, {}}};
    for (int a = 301; a <= 1389; a += 64)
        r.push_back({3, a, 64, {}});
    return r;
}

inline std::vector<LoggedRequest> DownloadWrites()
{
    std::vector<LoggedRequest> r{{16, 1491, 1, {}}, {16, 1, 60, {}}, {16, 101, 1, {}}};
    for (int a = 301; a <= 1389; a += 64)
        r.push_back({16, a, 64, {}});
    return r;
}

// Registers of the simulated module through libmodbus, unit 255.
class ModuleRegisters {
public:
    explicit ModuleRegisters(int port)
    {
        ctx_ = modbus_new_tcp("127.0.0.1", port);
        if (ctx_) {
            modbus_set_slave(ctx_, 255);
            modbus_set_response_timeout(ctx_, 2, 0);
            if (modbus_connect(ctx_) != 0) {
                modbus_free(ctx_);
                ctx_ = nullptr;
            }
        }
    }
    ~ModuleRegisters()
    {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    ModuleRegisters(const ModuleRegisters&) = delete;
    ModuleRegisters& operator=(const ModuleRegisters&) = delete;

    bool connected() const { return ctx_ != nullptr; }

    // Registers `first` … `first` + count − 1 (1-based); empty on failure.
    std::vector<quint16> read(int first, int count)
    {
        std::vector<quint16> words;
        for (int done = 0; ctx_ && done < count;) {
            const int n = std::min(100, count - done);
            std::vector<uint16_t> part(std::size_t(n), 0);
            if (modbus_read_registers(ctx_, first - 1 + done, n, part.data()) != n)
                return {};
            words.insert(words.end(), part.begin(), part.end());
            done += n;
        }
        return words;
    }
    bool write(int first, const std::vector<quint16>& words)
    {
        for (std::size_t done = 0; ctx_ && done < words.size();) {
            const int n = int(std::min<std::size_t>(100, words.size() - done));
            std::vector<uint16_t> part(words.begin() + long(done), words.begin() + long(done) + n);
            if (modbus_write_registers(ctx_, first - 1 + int(done), n, part.data()) != n)
                return false;
            done += std::size_t(n);
        }
        return ctx_ != nullptr;
    }

private:
    modbus_t* ctx_ = nullptr;
};

// Two characters per register, the first in the low byte, zero-filled.
inline std::vector<quint16> TextWords(const std::string& text, int words)
{
    std::vector<quint16> out(std::size_t(words), 0);
    for (std::size_t i = 0; i < text.size() && i < std::size_t(2 * words); ++i)
        out[i / 2] |= quint16(quint8(text[i])) << (i % 2 ? 8 : 0);
    return out;
}

inline std::string WordsText(const std::vector<quint16>& words, std::size_t first, std::size_t count)
{
    std::string s;
    for (std::size_t i = first; i < first + count && i < words.size(); ++i) {
        s += char(words[i] & 0xFF);
        s += char(words[i] >> 8);
    }
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

inline int PollInterval(Channel& channel)
{
    auto* control = qobject_cast<regaccess::Plctag*>(channel.control());
    return control ? control->pollInterval() : -1;
}

struct TransferRig {
    QTemporaryDir dir;
    SimProcess sim;
    int port = -1;
    std::unique_ptr<ChronelModel> model;
    std::unique_ptr<Transfer> transfer;
    std::vector<UserMessage> messages;
    std::string log; // the simulator's request log so far

    // Starts the simulator with `args` (verbose: every request is logged)
    // and the model with its channels on adapter 0 as a TCP/IP adapter.
    bool start(std::vector<std::string> args = {}, bool startUp = true, int pollMs = 10)
    {
        args.push_back("--verbose");
        port = sim.startTcp(args);
        if (port <= 0 || !dir.isValid())
            return false;
        const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("[Adapter.Object.1]\r\nType=2\r\nEnabled=0\r\nHost=127.0.0.1\r\n");
        file.close();
        ::setenv("PLCDRV_INI", QFile::encodeName(ini).constData(), 1);
        ::setenv("PLCTAG_TCP_PORT", std::to_string(port).c_str(), 1);
        model = std::make_unique<ChronelModel>(PlctagControlFactory());
        model->settings().ConfigTcpipIp = {
            QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
        if (startUp)
            model->startUp();
        transfer = std::make_unique<Transfer>(*model, [this](const UserMessage& m) { messages.push_back(m); });
        transfer->setPollInterval(pollMs);
        return true;
    }

    ~TransferRig()
    {
        if (model) {
            for (int i = 0; i < ChannelCount; ++i)
                model->channels()[ChannelId(i)].AutoPoll(0);
        }
        transfer.reset();
        model.reset();
        sim.stop();
    }

    Channel& read() { return model->channels().modConfigRead(); }
    Channel& write() { return model->channels().modConfigWrite(); }
    Channel& eventScan() { return model->channels().modEventScan(); }
    Channel& timeSetup() { return model->channels().modTimeSetup(); }

    // Waits until `sequence` has ended; queued messages are delivered too.
    bool waitEnd(TransferSequence& sequence, int timeoutMs = 20000)
    {
        const bool ended = QTest::qWaitFor([&] { return !sequence.running(); }, timeoutMs);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return ended;
    }

    // The requests logged since the simulator started.
    std::vector<LoggedRequest> requests()
    {
        log += sim.stderrText();
        return ParseRequestLog(log);
    }
};

} // namespace chronel::test
