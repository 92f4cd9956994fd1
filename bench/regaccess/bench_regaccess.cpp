// One run, three ways of reading the same 125 holding registers over
// loopback Modbus TCP: (a) the control's Trigger, (b) libmodbus's
// modbus_read_registers against the same libmodbus server, (c) a raw socket
// ping-pong of the same frame sizes, the floor. Prints (a)/(b) and (a)/(c).
#include "support/modbus_server.h"

#include "regaccess/plctag.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int Registers = 125;
constexpr std::size_t RequestFrame = 12;                  // MBAP 7 + function, address, count
constexpr std::size_t ReplyFrame = 7 + 2 + 2 * Registers; // MBAP 7 + function, count, data

chronel::test::ModbusServer* server = nullptr;

void BM_PlctagTrigger(benchmark::State& state)
{
    regaccess::Plctag control;
    control.setAdapter(0);
    control.setHost(QStringLiteral("127.0.0.1"));
    control.setRoutePath(QStringLiteral("255.0.0.0.0"));
    control.setFunction(0);
    control.setRegType(regaccess::Plctag::HoldRegs_4xxxx);
    control.setAddress(1);
    control.setSize(Registers);
    int failures = 0;
    QObject::connect(&control, &regaccess::Plctag::OnErrorEvent, [&failures](int) { ++failures; });
    for (auto _ : state)
        benchmark::DoNotOptimize(control.Trigger());
    if (failures != 0)
        state.SkipWithError("Trigger reported errors");
}

void BM_LibmodbusReadRegisters(benchmark::State& state)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", server->port());
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        state.SkipWithError("libmodbus cannot connect");
        modbus_free(ctx);
        return;
    }
    modbus_set_slave(ctx, 255);
    std::uint16_t registers[Registers];
    for (auto _ : state) {
        if (modbus_read_registers(ctx, 0, Registers, registers) != Registers) {
            state.SkipWithError("modbus_read_registers failed");
            break;
        }
        benchmark::DoNotOptimize(registers);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

// Answers every 12-byte frame with a 259-byte frame; nothing else.
class PingPongServer {
public:
    PingPongServer()
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listenFd_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~PingPongServer()
    {
        ::shutdown(listenFd_, SHUT_RDWR);
        thread_.join();
        ::close(listenFd_);
    }
    std::uint16_t port() const { return port_; }

private:
    void run()
    {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            return;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::uint8_t request[RequestFrame];
        std::uint8_t reply[ReplyFrame] = {};
        for (;;) {
            std::size_t got = 0;
            while (got < RequestFrame) {
                const ssize_t n = ::recv(fd, request + got, RequestFrame - got, 0);
                if (n <= 0) {
                    ::close(fd);
                    return;
                }
                got += static_cast<std::size_t>(n);
            }
            ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
        }
    }

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

void BM_RawSocketPingPong(benchmark::State& state)
{
    PingPongServer pong;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(pong.port());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("cannot connect");
        ::close(fd);
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::uint8_t request[RequestFrame] = {0, 0, 0, 0, 0, 6, 255, 3, 0, 0, 0, Registers};
    std::uint8_t reply[ReplyFrame];
    for (auto _ : state) {
        ::send(fd, request, sizeof request, MSG_NOSIGNAL);
        std::size_t got = 0;
        while (got < ReplyFrame) {
            const ssize_t n = ::recv(fd, reply + got, ReplyFrame - got, 0);
            if (n <= 0) {
                state.SkipWithError("ping-pong peer closed");
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
    }
    ::close(fd);
}

BENCHMARK(BM_PlctagTrigger)->UseRealTime();
BENCHMARK(BM_LibmodbusReadRegisters)->UseRealTime();
BENCHMARK(BM_RawSocketPingPong)->UseRealTime();

// Console output plus the ratios of the three figures at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // With --benchmark_repetitions the medians count, else the single run.
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (single || median) {
                realTime_[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuTime_[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nRead of %d holding registers over loopback Modbus TCP:\n", Registers);
        printRatios("real time", realTime_);
        printRatios("CPU time of the calling thread", cpuTime_);
    }

private:
    static void printRatios(const char* what, std::map<std::string, double>& times)
    {
        const double a = times["BM_PlctagTrigger"];
        const double b = times["BM_LibmodbusReadRegisters"];
        const double c = times["BM_RawSocketPingPong"];
        if (a <= 0 || b <= 0 || c <= 0)
            return;
        std::printf("  %s: (a) Trigger / (b) modbus_read_registers = %.2f (target <= 1.20), "
                    "(a) / (c) raw socket ping-pong = %.2f\n",
            what, a / b, a / c);
    }

    std::map<std::string, double> realTime_;
    std::map<std::string, double> cpuTime_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write("[Adapter.Object.1]\nType=2\nEnabled=0\n");
    file.close();
    // An adapter file is normally older than the session that uses it.
    std::filesystem::last_write_time(
        QFile::encodeName(ini).toStdString(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ::setenv("PLCDRV_INI", QFile::encodeName(ini).constData(), 1);

    chronel::test::ModbusServer modbusServer;
    server = &modbusServer;
    ::setenv("PLCTAG_TCP_PORT", std::to_string(modbusServer.port()).c_str(), 1);
    modbusServer.withMapping([](modbus_mapping_t& m) {
        for (int i = 0; i < Registers; ++i)
            m.tab_registers[i] = static_cast<std::uint16_t>(i * 3);
    });

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
