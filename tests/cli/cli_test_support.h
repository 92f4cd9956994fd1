#pragma once
// What the chronel-cli tests run against: the real chronel-cli and
// chronel-sim programs started as child processes (stopped by pid, every
// wait bounded; the simulator through the tests' common starter), and
// libmodbus as an independent client that sets up and
// inspects the simulated module over Modbus TCP on loopback.
#include "support/sim_process.h"

#include <modbus.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace clitest {

using Env = std::map<std::string, std::string>;

struct RunResult {
    int exitCode = -1; // 128 + signal when killed
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct RunOptions {
    int timeoutMs = 30000;
    std::string interruptOnOutput; // SIGINT once stdout holds this text
    bool stderrOnTerminal = false; // stderr a pseudo-terminal instead of a pipe
    // SIGINT once this says so, after the program's first output; asked
    // every 50 ms (a run that ends when what it should do is done, with the
    // time-out as its cap).
    std::function<bool()> interruptWhen;
    int interruptSignal = SIGINT; // what interruptWhen sends
    // Told the child's pid as soon as it runs (for a peer that kills it at
    // a chosen moment).
    std::function<void(pid_t)> started;
};

// Runs `program` with `args` and the environment changed by `env` (an empty
// value removes the variable); every wait is bounded by the time-out.
RunResult Run(
    const std::string& program, const std::vector<std::string>& args, const Env& env, const RunOptions& options = {});

// chronel-cli in the C locale (dates yyyy-MM-dd), with PLCTAG_TCP_PORT = `port`
// when it is not 0 and PLCDRV_INI removed unless `env` sets it.
RunResult RunCli(const std::vector<std::string>& args, int port, const Env& env = {}, const RunOptions& options = {});

// The rows of the journal at `location` (a file or a URL) that `where` (an
// SQL condition) selects; -1 when it cannot be read.
int JournalRowCount(const std::string& location, const std::string& where = {});

std::vector<std::string> Lines(const std::string& text);
bool Contains(const std::string& text, const std::string& part);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// A chronel-sim process.
using Sim = chronel::test::SimProcess;

// A Modbus TCP client on the simulator, unit 255; register numbers are the
// configurator's 1-based numbers.
class ModbusPeer {
public:
    ModbusPeer(const std::string& host, int port);
    ~ModbusPeer();
    ModbusPeer(const ModbusPeer&) = delete;
    ModbusPeer& operator=(const ModbusPeer&) = delete;

    bool connected() const { return connected_; }
    std::vector<std::uint16_t> read(int firstRegister, int count);
    bool write(int firstRegister, const std::vector<std::uint16_t>& words);
    bool coil(int coilNumber);

    // A text of `chars` characters in registers: two per register, the first
    // in the low byte, zero-filled.
    bool writeText(int firstRegister, const std::string& text, int chars);
    // The text read back: up to the first zero byte, trailing blanks dropped.
    std::string readText(int firstRegister, int chars);

private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

// The records of a settings file by key, each as its further fields with
// the quotes of texts removed ("Point  3" → {"False", "20", …}).
using SettingsRecords = std::map<std::string, std::vector<std::string>>;
SettingsRecords ParseSettings(const std::string& text);
// The file with the record `key` replaced by `fields` (written as given,
// texts in their quotes).
std::string ReplaceRecord(const std::string& text, const std::string& key, const std::string& fields);

// A directory for one test's files, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// An Intel-HEX file: data records of 16 bytes for `data` from address 0,
// then the end-of-file record.
std::string HexFileText(const std::vector<std::uint8_t>& data);

// A PLCDRV.INI whose adapter 1 is the serial port `device` (as COM1 through
// [Ports]), Modbus RTU, 9600 baud, even parity, 8 data bits, one stop bit.
std::string SerialIniText(const std::string& device);
// The same with adapter k + 1 on COMk+1 = devices[k].
std::string SerialIniText(const std::vector<std::string>& devices);

} // namespace clitest
