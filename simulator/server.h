// The simulator's transports: Modbus TCP clients (several at once, through
// libmodbus) for one or more modules, each on its own address, and one Modbus
// RTU line (the first module's), served from one poll loop that feeds every
// request to its module's model.
//
// Thread safety: none; run() owns the calling thread until stopFd is readable.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <modbus/modbus.h>

#include "fault_injector.h"
#include "module_model.h"
#include "pseudo_terminal.h"
#include "sim_options.h"

namespace chronel::sim {

class Server {
public:
    Server(ModuleModel& model, const SimOptions& options, std::ostream& log);
    // Module k (0-based) of `models` listens on moduleAddress(options, k + 1).
    Server(const std::vector<ModuleModel*>& models, const SimOptions& options, std::ostream& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the configured transports; false with a message when one cannot be opened.
    bool open(std::string& error);
    int tcpPort() const { return boundPort_; }
    std::string rtuPath() const;

    // Serves until `stopFd` becomes readable. `idle` runs after every loop pass.
    void run(int stopFd, const std::function<void()>& idle);

private:
    // One simulated module on the network: its model, fault schedule and sockets.
    struct Unit {
        ModuleModel* model = nullptr;
        std::string address;
        FaultInjector faults{FaultOptions{}};
        bool dead = false; // accepts connections, never answers
        modbus_t* tcpCtx = nullptr;
        int listenFd = -1;
        std::vector<int> clients;
    };

    bool openTcp(Unit& u, int port, std::string& error);
    void acceptClient(Unit& u);
    bool serveTcpClient(Unit& u, int fd); // false: close the connection
    bool drainDeadClient(int fd);         // false: the peer has gone
    void dropClient(Unit& u, int fd);
    void readSerial();
    void flushSerial(bool silence);
    void serveSerialFrame(const std::vector<uint8_t>& frame);
    // The fault schedule and the model; returns false when no reply is to be sent.
    bool process(Unit& u, const uint8_t* pdu, size_t len, Link link, std::vector<uint8_t>& reply, bool& restart);
    void restartModule(Unit& u);
    void closeClients(Unit& u);
    int serialSilenceMs() const;
    uint8_t serialAddress() const;

    const SimOptions& options_;
    std::ostream& log_;
    std::vector<Unit> units_; // never empty; the first one owns the serial line

    int boundPort_ = 0;

    modbus_t* rtuCtx_ = nullptr;
    PseudoTerminal pty_;
    int serialFd_ = -1;
    std::vector<uint8_t> serialBuf_;
    int64_t lastSerialByteMs_ = 0;
};

} // namespace chronel::sim
