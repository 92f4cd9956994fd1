// Command line of chronel-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "event_generator.h"
#include "fault_injector.h"
#include "module_model.h"

namespace chronel::sim {

struct SimOptions {
    bool help = false;
    bool tcp = true;
    std::string listenAddress = "127.0.0.1";
    int tcpPort = 502; // 0 = any free port, announced on stdout
    int maxClients = 16;
    std::optional<std::string> rtuPath; // "pty" creates a pseudo-terminal
    int baud = 9600;
    char parity = 'E';
    int stopBits = 1;
    std::optional<int> slaveAddress; // serial address besides 255; default: register 50
    std::string eventsText = "none";
    GeneratorPlan events;
    uint64_t seed = 1;
    std::optional<int> bufferType;
    TimeSource timeSource = TimeSource::Gps;
    FaultOptions faults;
    std::vector<std::pair<int, uint8_t>> exceptions;
    std::optional<std::string> statePath; // a folder when modules > 1
    bool verbose = false;
    int modules = 1;                // module k listens on listenAddress + k - 1
    std::optional<int> faultModule; // the faults apply to this module only
    std::vector<int> deadModules;   // accept connections, never answer
};

// Returns false with a message in `error` for an unknown option or a value
// out of its bounds.
bool ParseOptions(const std::vector<std::string>& args, SimOptions& out, std::string& error);
std::string HelpText();

// Module k's (1-based) address: the listen address with k - 1 added to its last
// octet. parseOptions has checked that it stays within the range.
std::string ModuleAddress(const SimOptions& o, int k);
// Module k's seed: the first module keeps --seed itself.
uint64_t ModuleSeed(const SimOptions& o, int k);
// Module k's state file, when there is one.
std::optional<std::string> ModuleStatePath(const SimOptions& o, int k);

} // namespace chronel::sim
