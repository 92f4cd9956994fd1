// The simulator's transports: Modbus TCP clients (several at once, through
// libmodbus) and one Modbus RTU line, served from one poll loop that feeds
// every request to the module model.
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
    struct Client {
        int fd = -1;
    };

    void acceptClient();
    bool serveTcpClient(int fd); // false: close the connection
    void readSerial();
    void flushSerial(bool silence);
    void serveSerialFrame(const std::vector<uint8_t>& frame);
    // The fault schedule and the model; returns false when no reply is to be sent.
    bool process(const uint8_t* pdu, size_t len, Link link, std::vector<uint8_t>& reply, bool& restart);
    void restartModule();
    void closeClients();
    int serialSilenceMs() const;
    uint8_t serialAddress() const;

    ModuleModel& model_;
    const SimOptions& options_;
    std::ostream& log_;
    FaultInjector faults_;

    modbus_t* tcpCtx_ = nullptr;
    int listenFd_ = -1;
    int boundPort_ = 0;
    std::vector<Client> clients_;

    modbus_t* rtuCtx_ = nullptr;
    PseudoTerminal pty_;
    int serialFd_ = -1;
    std::vector<uint8_t> serialBuf_;
    int64_t lastSerialByteMs_ = 0;
};

} // namespace chronel::sim
