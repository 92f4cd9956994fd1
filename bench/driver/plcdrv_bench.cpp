// 100 reads of 125 holding registers over a pseudo-terminal from a libmodbus
// RTU slave: once by libmodbus's own RTU master, once through VexaPut, each
// request put when the one before has completed (as PLCTAG does). The driver
// keeps a 10 ms pause between two exchanges on one adapter, so its target is
// 1.2 x libmodbus plus those pauses. libmodbus is also run with the same
// pauses, since after each pause every thread on the path (the slave, the
// pseudo-terminal relay, the master) wakes from sleep and pays the
// scheduler's latency, which no back-to-back loop sees. A last case
// times one request put on an idle adapter, which must start at once rather
// than at the next 10 ms tick.
#include "driver/plcdrv.h"
#include "driver_harness.h"
#include "pty_peer.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <modbus.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

using namespace drivertest;
using std::chrono::milliseconds;

namespace {

constexpr int kReads = 100;
constexpr int kRegisters = 125;
constexpr int kUnit = 1;
constexpr double kPauseSeconds = 0.010;

struct Peer {
    PtyBridge bridge;
    LibmodbusRtuSlave slave{bridge.peerPath(), kUnit};
    IniFile ini;
};

Peer& ThePeer()
{
    static Peer instance;
    return instance;
}

// With `paced`, libmodbus keeps the driver's 10 ms between the end of one
// read and the start of the next, with the same kind of timed wait: then both
// pay the same wake-up latency after each pause.
void LibmodbusReads(benchmark::State& state, bool paced)
{
    modbus_t* ctx = modbus_new_rtu(ThePeer().bridge.driverPath().c_str(), 19200, 'N', 8, 1);
    if (ctx == nullptr || modbus_set_slave(ctx, kUnit) != 0 || modbus_connect(ctx) != 0) {
        state.SkipWithError("libmodbus master cannot open the port");
        return;
    }
    std::mutex mutex;
    std::condition_variable wake;
    std::uint16_t registers[kRegisters];
    for (auto _ : state) {
        for (int i = 0; i < kReads; ++i) {
            if (paced && i > 0) {
                std::unique_lock lock(mutex);
                wake.wait_until(lock, Clock::now() + milliseconds(10), [] { return false; });
            }
            if (modbus_read_registers(ctx, 0, kRegisters, registers) != kRegisters) {
                state.SkipWithError("libmodbus read failed");
                break;
            }
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

void BM_LibmodbusRtuMaster(benchmark::State& state) { LibmodbusReads(state, false); }
void BM_LibmodbusRtuMasterPaced(benchmark::State& state) { LibmodbusReads(state, true); }

// The driver is started once per process; the libmodbus master has closed
// the port by then (benchmarks run in registration order).
bool StartDriver()
{
    static const bool started = [] {
        ThePeer().ini.write(IniFile::general(0) + IniFile::ports({{1, ThePeer().bridge.driverPath()}}) +
            IniFile::serial(1, 1, 0, 1000));
        ::setenv("PLCDRV_INI", ThePeer().ini.pathString().c_str(), 1);
        VexaStart();
        return true;
    }();
    return started;
}

bool ReadThroughDriver(TestControl& control)
{
    control.readHolding(1, kUnit, 0, kRegisters);
    const std::size_t before = control.completions().size();
    return VexaPut(&control.packet(), 280) == 1 && control.waitForCompletions(before + 1, milliseconds(5000)) &&
        control.completions().back().status == 0 && control.packet().data[0] == 2 * kRegisters;
}

void BM_PlcdrvVexaPut(benchmark::State& state)
{
    StartDriver();
    TestControl control;
    for (auto _ : state) {
        for (int i = 0; i < kReads; ++i) {
            if (!ReadThroughDriver(control)) {
                state.SkipWithError("driver read failed");
                break;
            }
        }
    }
}

void BM_PlcdrvIdleAdapterOneRead(benchmark::State& state)
{
    StartDriver();
    TestControl control;
    for (auto _ : state) {
        // Let the adapter fall idle, well past its pause.
        std::this_thread::sleep_for(milliseconds(25));
        const auto start = Clock::now();
        if (!ReadThroughDriver(control)) {
            state.SkipWithError("driver read failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

BENCHMARK(BM_LibmodbusRtuMaster)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(3);
BENCHMARK(BM_LibmodbusRtuMasterPaced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(3);
BENCHMARK(BM_PlcdrvVexaPut)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(3);
BENCHMARK(BM_PlcdrvIdleAdapterOneRead)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

// Keeps the best (least disturbed) time per iteration of each benchmark, to
// set the driver beside libmodbus at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0 || run.error_occurred)
                continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string name = run.run_name.function_name;
            if (!best_.count(name) || seconds < best_[name])
                best_[name] = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (!best_.count("BM_LibmodbusRtuMaster") || !best_.count("BM_PlcdrvVexaPut"))
            return;
        const double libmodbus = best_["BM_LibmodbusRtuMaster"];
        const double driver = best_["BM_PlcdrvVexaPut"];
        const double pauses = (kReads - 1) * kPauseSeconds;
        const double target = 1.2 * libmodbus + kReads * kPauseSeconds;
        std::printf("\n%d reads of %d registers: libmodbus %.1f ms, PLCDRV %.1f ms (ratio %.2f)\n", kReads, kRegisters,
            libmodbus * 1e3, driver * 1e3, driver / libmodbus);
        std::printf("PLCDRV without its %d nominal pauses of 10 ms: %.1f ms (ratio %.2f)\n", kReads - 1,
            (driver - pauses) * 1e3, (driver - pauses) / libmodbus);
        std::printf("target 1.2 x libmodbus + %d x 10 ms = %.1f ms: %s\n", kReads, target * 1e3,
            driver <= target ? "met" : "missed");
        if (best_.count("BM_LibmodbusRtuMasterPaced")) {
            const double paced = best_["BM_LibmodbusRtuMasterPaced"];
            std::printf("libmodbus with the same %d pauses: %.1f ms; PLCDRV / paced libmodbus = %.3f; "
                        "PLCDRV beyond paced libmodbus: %.1f ms (%.0f us a read)\n",
                kReads - 1, paced * 1e3, driver / paced, (driver - paced) * 1e3, (driver - paced) * 1e6 / kReads);
        }
        if (best_.count("BM_PlcdrvIdleAdapterOneRead"))
            std::printf("one read on an idle adapter: %.2f ms\n", best_["BM_PlcdrvIdleAdapterOneRead"] * 1e3);
    }

private:
    std::map<std::string, double> best_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!ThePeer().bridge.ok() || !ThePeer().slave.ok()) {
        std::fprintf(stderr, "no pseudo-terminal or slave\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
