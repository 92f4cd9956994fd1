#include "sim_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include <arpa/inet.h>

namespace chronel::sim {
namespace {

constexpr size_t kMaxInjectedExceptions = 16;

bool ToInt(const std::string& s, long long lo, long long hi, long long& v)
{
    const char* b = s.data();
    const char* e = b + s.size();
    auto [p, ec] = std::from_chars(b, e, v);
    return ec == std::errc() && p == e && v >= lo && v <= hi;
}

// The four octets of a dotted IPv4 address.
bool Octets(const std::string& address, std::array<uint8_t, 4>& out)
{
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1)
        return false;
    std::memcpy(out.data(), &a.s_addr, 4); // network order: first octet first
    return true;
}

} // namespace

std::string ModuleAddress(const SimOptions& o, int k)
{
    std::array<uint8_t, 4> b{};
    if (k <= 1 || !Octets(o.listenAddress, b))
        return o.listenAddress;
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
        std::to_string(b[3] + k - 1);
}

uint64_t ModuleSeed(const SimOptions& o, int k) { return k <= 1 ? o.seed : o.seed + static_cast<uint64_t>(k); }

std::optional<std::string> ModuleStatePath(const SimOptions& o, int k)
{
    if (!o.statePath || o.modules <= 1)
        return o.statePath;
    return *o.statePath + "/module-" + ModuleAddress(o, k) + ".state";
}

std::string HelpText()
{
    return R"(Usage: chronel-sim [options]

Simulates a Chronel SER module on Modbus TCP and/or Modbus RTU, with the
configuration, point, event, status, statistics and flash registers of the
real module.

Transports:
  --tcp-port N          Modbus TCP port (default 502). 0 picks a free port.
                        The port in use is printed on stdout as "tcp-port N".
  --listen ADDR         IPv4 address to listen on (default 127.0.0.1).
  --modules N           Serve N independent modules, 1-256 (default 1). Module
                        K listens on ADDR with K-1 added to its last octet
                        (127.0.0.1, 127.0.0.2, ...), all on the same port; ADDR
                        must then be a 127.x address and the last one at most
                        .254. Each has its own registers, clock, events and
                        state; module K>1 is seeded with --seed + K. The RTU
                        line is module 1's.
  --no-tcp              Do not serve Modbus TCP.
  --max-clients N       Simultaneous TCP clients, 1-256 (default 16).
  --rtu PATH            Serve Modbus RTU on the serial device PATH.
  --rtu pty             Create a pseudo-terminal and serve RTU on it; the path
                        of its slave end is printed on stdout as the first line.
  --baud N              Serial speed (default 9600).
  --parity N|E|O        Serial parity (default E).
  --stop-bits 1|2       Serial stop bits (default 1).
  --slave N             Serial slave address 1-247 answered besides 255
                        (default: the module's Modbus address, register 50).
                        Address 0 is a broadcast: carried out, never answered.
                        On TCP every unit identifier is answered.

Module behaviour:
  --events none         No input changes (default).
  --events random:RATE  Random input changes, RATE per second (0-1000].
  --events script:FILE  Timed input changes, one per line "SECONDS POINT STATE"
                        (point 1-32, state 0 or 1, '#' comments); a line
                        "repeat SECONDS" replays the script with that period.
  --seed N              Seed of the random generator (default 1).
  --buffer-type 0-3     Set the event buffer type (register 4) at start.
  --time-source S       gps (default), irig, ser or internal.
  --state FILE          Load the configuration, point table and flash from
                        FILE and save them back (atomically) when they change
                        and at exit. A missing FILE starts a factory module.
                        With --modules N>1, FILE is a folder (created if
                        missing) holding one module-ADDRESS.state per module.

Fault injection (all off by default):
  --drop-request-every N  Ignore every N-th request (nothing is carried out).
  --drop-reply-every N    Carry out every N-th request but send no reply.
  --delay-ms N            Delay every reply by N ms (at most 10000).
  --exception REG:CODE    Answer every request whose register or coil range
                        covers REG (1-based) with exception CODE (1-255).
                        May be given up to 16 times.
  --reset-every N         Restart the module after every N-th request: events,
                        statistics and test mode are lost, TCP connections
                        are closed, the configuration is kept.
  N is 1-1000000 for the "-every" options.
  --fault-module K        Apply the faults above to module K only (default:
                        to every module).
  --dead K                Module K accepts connections but never answers. May
                        be given more than once.

Other:
  --verbose             Log every request on stderr.
  --help                Show this text.

SIGINT and SIGTERM stop the simulator cleanly (state saved first). The exit
status is 0 after a clean stop, 1 when a port or device cannot be opened or
the state file cannot be read, and 2 for a bad command line.
)";
}

bool ParseOptions(const std::vector<std::string>& args, SimOptions& o, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto number = [&](long long lo, long long hi, long long& n) {
            std::string v;
            if (!value(v))
                return false;
            if (!ToInt(v, lo, hi, n)) {
                error = a + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
                return false;
            }
            return true;
        };
        long long n = 0;
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--tcp-port") {
            if (!number(0, 65535, n))
                return false;
            o.tcpPort = static_cast<int>(n);
        } else if (a == "--listen") {
            if (!value(o.listenAddress))
                return false;
        } else if (a == "--no-tcp") {
            o.tcp = false;
        } else if (a == "--max-clients") {
            if (!number(1, 256, n))
                return false;
            o.maxClients = static_cast<int>(n);
        } else if (a == "--rtu") {
            if (!value(v))
                return false;
            o.rtuPath = v;
        } else if (a == "--baud") {
            if (!number(50, 4000000, n))
                return false;
            o.baud = static_cast<int>(n);
        } else if (a == "--parity") {
            if (!value(v))
                return false;
            if (v != "N" && v != "E" && v != "O") {
                error = "--parity needs N, E or O";
                return false;
            }
            o.parity = v[0];
        } else if (a == "--stop-bits") {
            if (!number(1, 2, n))
                return false;
            o.stopBits = static_cast<int>(n);
        } else if (a == "--slave") {
            if (!number(1, 247, n))
                return false;
            o.slaveAddress = static_cast<int>(n);
        } else if (a == "--events") {
            if (!value(o.eventsText))
                return false;
            auto plan = ParseGeneratorPlan(o.eventsText, error);
            if (!plan) {
                error = "--events: " + error;
                return false;
            }
            o.events = *plan;
        } else if (a == "--seed") {
            if (!number(0, INT64_MAX, n))
                return false;
            o.seed = static_cast<uint64_t>(n);
        } else if (a == "--buffer-type") {
            if (!number(0, 3, n))
                return false;
            o.bufferType = static_cast<int>(n);
        } else if (a == "--time-source") {
            if (!value(v))
                return false;
            if (v == "gps")
                o.timeSource = TimeSource::Gps;
            else if (v == "irig")
                o.timeSource = TimeSource::IrigB;
            else if (v == "ser")
                o.timeSource = TimeSource::Ser;
            else if (v == "internal")
                o.timeSource = TimeSource::Internal;
            else {
                error = "--time-source needs gps, irig, ser or internal";
                return false;
            }
        } else if (a == "--drop-request-every") {
            if (!number(1, 1000000, n))
                return false;
            o.faults.dropRequestEvery = static_cast<uint32_t>(n);
        } else if (a == "--drop-reply-every") {
            if (!number(1, 1000000, n))
                return false;
            o.faults.dropReplyEvery = static_cast<uint32_t>(n);
        } else if (a == "--delay-ms") {
            if (!number(0, 10000, n))
                return false;
            o.faults.delayMs = static_cast<uint32_t>(n);
        } else if (a == "--reset-every") {
            if (!number(1, 1000000, n))
                return false;
            o.faults.resetEvery = static_cast<uint32_t>(n);
        } else if (a == "--exception") {
            if (!value(v))
                return false;
            auto colon = v.find(':');
            long long reg = 0, code = 0;
            if (colon == std::string::npos || !ToInt(v.substr(0, colon), 1, 65536, reg) ||
                !ToInt(v.substr(colon + 1), 1, 255, code)) {
                error = "--exception needs REG:CODE with REG 1-65536 and CODE 1-255";
                return false;
            }
            if (o.exceptions.size() >= kMaxInjectedExceptions) {
                error = "--exception may be given at most 16 times";
                return false;
            }
            o.exceptions.emplace_back(static_cast<int>(reg), static_cast<uint8_t>(code));
        } else if (a == "--state") {
            if (!value(v))
                return false;
            o.statePath = v;
        } else if (a == "--modules") {
            if (!number(1, 256, n))
                return false;
            o.modules = static_cast<int>(n);
        } else if (a == "--fault-module") {
            if (!number(1, 256, n))
                return false;
            o.faultModule = static_cast<int>(n);
        } else if (a == "--dead") {
            if (!number(1, 256, n))
                return false;
            o.deadModules.push_back(static_cast<int>(n));
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            error = "unknown option " + a + " (see --help)";
            return false;
        }
    }
    if (!o.help && !o.tcp && !o.rtuPath) {
        error = "--no-tcp without --rtu leaves nothing to serve";
        return false;
    }
    if (o.help)
        return true;
    if (o.faultModule && *o.faultModule > o.modules) {
        error = "--fault-module " + std::to_string(*o.faultModule) + " names no module (there are " +
            std::to_string(o.modules) + ")";
        return false;
    }
    for (int k : o.deadModules) {
        if (k > o.modules) {
            error = "--dead " + std::to_string(k) + " names no module (there are " + std::to_string(o.modules) + ")";
            return false;
        }
    }
    if (o.modules > 1) {
        std::array<uint8_t, 4> b{};
        if (!Octets(o.listenAddress, b) || b[0] != 127) {
            error = "--modules above 1 needs a 127.x --listen address, not " + o.listenAddress;
            return false;
        }
        if (b[3] + o.modules - 1 > 254) {
            error = "--modules " + std::to_string(o.modules) + " from " + o.listenAddress + " would run past .254";
            return false;
        }
    }
    return true;
}

} // namespace chronel::sim
