// Program + Verify of a full 0x7A000-byte image through real controls
// against chronel-sim on 127.0.0.1. The sequence sends one modFlash request
// per 10 ms poll tick, so its floor is (number of requests) × 10 ms; the
// benchmark reports the wall time beside that floor, and beside the time the
// same requests take sent back to back by a libmodbus client (the transport
// and the simulator alone).
#include "core/flash/flash_model.h"
#include "regaccess/control_factory.h"
#include "regaccess/plctag.h"

#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace chronel;

constexpr double PollSeconds = FlashPollInterval / 1000.0;

// chronel-sim on a free loopback port for the life of the benchmark.
struct Simulator {
    QProcess process;
    std::uint16_t port = 0;

    bool start()
    {
        process.start(QStringLiteral(CHRONEL_SIM_PATH),
            {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--listen"),
                QStringLiteral("127.0.0.1")});
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 50 && port == 0; ++i) {
            if (!process.canReadLine() && !process.waitForReadyRead(100))
                continue;
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("tcp-port "))
                port = std::uint16_t(line.mid(9).toUInt());
        }
        return port != 0;
    }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
};

// A firmware file of `size` bytes from position 0 in 32-byte data records
// with extended segment address records, bytes never 0xFF.
QByteArray FirmwareHex(quint32 size)
{
    auto record = [](quint8 type, quint16 address, const QByteArray& data) {
        QByteArray bytes;
        bytes.append(char(data.size())).append(char(address >> 8)).append(char(address & 0xFF)).append(char(type));
        bytes.append(data);
        quint8 sum = 0;
        for (char c : bytes)
            sum = quint8(sum + quint8(c));
        bytes.append(char(quint8(-sum)));
        return ":" + bytes.toHex().toUpper() + "\r\n";
    };
    QRandomGenerator random(42);
    QByteArray text;
    for (quint32 position = 0; position < size; position += 32) {
        if (position % 0x10000 == 0) {
            const quint16 segment = quint16(position >> 4);
            text += record(2, 0, QByteArray(1, char(segment >> 8)) + char(segment & 0xFF));
        }
        QByteArray data(int(std::min<quint32>(32, size - position)), Qt::Uninitialized);
        for (char& b : data)
            b = char(random.bounded(0xFF));
        text += record(0, quint16(position & 0xFFFF), data);
    }
    return text + ":00000001FF\r\n";
}

struct Setup {
    QTemporaryDir dir;
    Simulator sim;
    std::unique_ptr<QObject> owner;
    std::unique_ptr<ChannelSet> channels;
    std::unique_ptr<FlashModel> model;

    bool start(benchmark::State& state)
    {
        if (!dir.isValid() || !sim.start()) {
            state.SkipWithError("chronel-sim did not start");
            return false;
        }
        QFile ini(dir.filePath(QStringLiteral("PLCDRV.INI")));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write("[Adapter.Object.1]\nType=2\nEnabled=0\n");
        ini.close();
        ::setenv("PLCDRV_INI", QFile::encodeName(ini.fileName()).constData(), 1);
        ::setenv("PLCTAG_TCP_PORT", std::to_string(sim.port).c_str(), 1);

        owner = std::make_unique<QObject>();
        channels = std::make_unique<ChannelSet>(
            [](const QString& name, QObject* parent) -> QObject* { return regaccess::createControl(name, parent); },
            owner.get());
        for (int i = 0; i < ChannelCount; ++i)
            (*channels)[ChannelId(i)].setHost(QStringLiteral("127.0.0.1"));
        model = std::make_unique<FlashModel>(*channels, [] { return QStringLiteral("127.0.0.1"); });

        QFile hex(dir.filePath(QStringLiteral("fw.hex")));
        if (!hex.open(QIODevice::WriteOnly))
            return false;
        hex.write(FirmwareHex(FlashProgramLimit));
        hex.close();
        const QString path = hex.fileName();
        if (!model->loadFile([path] { return path; })) {
            state.SkipWithError("the image did not load");
            return false;
        }
        // The scan polls would share the module with the measurement.
        StopScanPolls(*channels);
        return true;
    }
};

void ProgramAndVerifyFullImage(benchmark::State& state)
{
    Setup s;
    if (!s.start(state))
        return;
    for (auto _ : state) {
        std::optional<FlashSequence::Outcome> outcome;
        QEventLoop loop;
        QObject::connect(&s.model->sequence(), &FlashSequence::finished, &loop, [&](FlashSequence::Outcome o) {
            outcome = o;
            loop.quit();
        });
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        s.model->program();
        if (!outcome)
            loop.exec();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        StopScanPolls(*s.channels);
        if (outcome != FlashSequence::Outcome::VerifyOk) {
            state.SkipWithError("the sequence did not end with Verify OK");
            return;
        }
        state.SetIterationTime(seconds);
        const double requests = s.model->sequence().completedRequests();
        state.counters["requests"] = requests;
        state.counters["floor_s"] = requests * PollSeconds;
        state.counters["wall_s"] = seconds;
        state.counters["wall_per_floor"] = seconds / (requests * PollSeconds);
    }
}
BENCHMARK(ProgramAndVerifyFullImage)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The same module traffic (nine erase blocks, 3904 block writes, 3905 block
// reads and a progress write after each) from libmodbus, without any poll.
void SameRequestsBackToBackLibmodbus(benchmark::State& state)
{
    Simulator sim;
    if (!sim.start()) {
        state.SkipWithError("chronel-sim did not start");
        return;
    }
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port);
    modbus_set_slave(ctx, 255);
    if (modbus_connect(ctx) != 0) {
        state.SkipWithError("no connection");
        modbus_free(ctx);
        return;
    }
    const quint32 blocks = FlashProgramLimit / FlashBlockBytes;
    std::uint16_t words[64];
    std::uint16_t progress[2] = {0, 0};
    int failures = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        for (std::uint16_t sector = 0; sector < FlashSectorCount; ++sector) {
            const std::uint16_t erase[5] = {0x0000, 0x5555, 0xAAAA, 0xFFFF, sector};
            failures += modbus_write_registers(ctx, FlashEraseRegister - 1, 5, erase) != 5;
            failures += modbus_write_registers(ctx, FlashProgressRegister - 1, 2, progress) != 2;
        }
        for (quint32 b = 0; b < blocks; ++b) {
            for (int k = 0; k < 64; ++k)
                words[k] = std::uint16_t(b + k);
            failures += modbus_write_registers(ctx, FlashBlockRegister(b * 128) - 1, 64, words) != 64;
            failures += modbus_write_registers(ctx, FlashProgressRegister - 1, 2, progress) != 2;
        }
        for (quint32 b = 0; b <= blocks; ++b) {
            failures += modbus_read_registers(ctx, FlashBlockRegister(b * 128) - 1, 64, words) != 64;
            failures += modbus_write_registers(ctx, FlashProgressRegister - 1, 2, progress) != 2;
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        state.counters["requests"] = double(FlashSectorCount + 2 * blocks + 1);
        state.counters["wall_s"] = seconds;
    }
    state.counters["failures"] = failures;
    modbus_close(ctx);
    modbus_free(ctx);
}
BENCHMARK(SameRequestsBackToBackLibmodbus)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
