// POSIX sockets, poll and serial descriptors: the event loop is written against
// the POSIX API directly, libmodbus does the TCP framing and the serial set-up.
#include "server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rtu_frame.h"

namespace chronel::sim {
namespace {

constexpr int kTickMs = 50;
constexpr size_t kTcpHeader = 7; // MBAP: transaction, protocol, length, unit

int64_t MonotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Writes all of `data` to a possibly non-blocking descriptor, waiting at most
// one second in total.
bool WriteAll(int fd, const uint8_t* data, size_t len, bool socket)
{
    int64_t deadline = MonotonicMs() + 1000;
    size_t done = 0;
    while (done < len) {
        ssize_t n = socket ? ::send(fd, data + done, len - done, MSG_NOSIGNAL) : ::write(fd, data + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int64_t left = deadline - MonotonicMs();
            if (left <= 0)
                return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, static_cast<int>(left));
            continue;
        }
        return false;
    }
    return true;
}

// Reads exactly `len` bytes, waiting at most 200 ms for each piece.
bool ReadExact(int fd, uint8_t* out, size_t len)
{
    size_t done = 0;
    while (done < len) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 200);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        ssize_t n = ::recv(fd, out + done, len - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

Server::Server(ModuleModel& model, const SimOptions& options, std::ostream& log)
    : Server(std::vector<ModuleModel*>{&model}, options, log)
{
}

Server::Server(const std::vector<ModuleModel*>& models, const SimOptions& options, std::ostream& log)
    : options_(options), log_(log)
{
    for (size_t i = 0; i < models.size(); ++i) {
        int k = static_cast<int>(i) + 1;
        Unit u;
        u.model = models[i];
        u.address = ModuleAddress(options, k);
        if (!options.faultModule || *options.faultModule == k)
            u.faults = FaultInjector(options.faults);
        u.dead = std::find(options.deadModules.begin(), options.deadModules.end(), k) != options.deadModules.end();
        units_.push_back(std::move(u));
    }
}

Server::~Server()
{
    for (Unit& u : units_) {
        closeClients(u);
        if (u.listenFd >= 0)
            ::close(u.listenFd);
        if (u.tcpCtx) {
            modbus_set_socket(u.tcpCtx, -1);
            modbus_free(u.tcpCtx);
        }
    }
    if (rtuCtx_) {
        modbus_close(rtuCtx_);
        modbus_free(rtuCtx_);
    }
    ClosePseudoTerminal(pty_);
}

std::string Server::rtuPath() const { return pty_.masterFd >= 0 ? pty_.slavePath : options_.rtuPath.value_or(""); }

bool Server::openTcp(Unit& u, int port, std::string& error)
{
    in_addr probe{};
    if (::inet_pton(AF_INET, u.address.c_str(), &probe) != 1) {
        error = "invalid listen address " + u.address;
        return false;
    }
    u.tcpCtx = modbus_new_tcp(u.address.c_str(), port);
    if (!u.tcpCtx) {
        error = std::string("cannot create the TCP context: ") + modbus_strerror(errno);
        return false;
    }
    u.listenFd = modbus_tcp_listen(u.tcpCtx, options_.maxClients);
    if (u.listenFd < 0) {
        error = "cannot listen on TCP " + u.address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    modbus_set_byte_timeout(u.tcpCtx, 0, 200000);
    return true;
}

bool Server::open(std::string& error)
{
    if (options_.tcp) {
        // Every module on the port the first one got, so that "tcp-port 0" still
        // gives one port to announce.
        if (!openTcp(units_.front(), options_.tcpPort, error))
            return false;
        sockaddr_in bound{};
        socklen_t blen = sizeof bound;
        if (::getsockname(units_.front().listenFd, reinterpret_cast<sockaddr*>(&bound), &blen) == 0)
            boundPort_ = ntohs(bound.sin_port);
        for (size_t i = 1; i < units_.size(); ++i)
            if (!openTcp(units_[i], boundPort_, error))
                return false;
    }
    if (options_.rtuPath) {
        if (*options_.rtuPath == "pty") {
            if (!OpenPseudoTerminal(pty_, error))
                return false;
            serialFd_ = pty_.masterFd;
        } else {
            rtuCtx_ = modbus_new_rtu(options_.rtuPath->c_str(), options_.baud, options_.parity, 8, options_.stopBits);
            if (!rtuCtx_) {
                error = "cannot use serial device " + *options_.rtuPath + ": " + modbus_strerror(errno);
                return false;
            }
            if (modbus_connect(rtuCtx_) != 0) {
                error = "cannot open serial device " + *options_.rtuPath + ": " + std::strerror(errno);
                return false;
            }
            serialFd_ = modbus_get_socket(rtuCtx_);
        }
    }
    return true;
}

uint8_t Server::serialAddress() const
{
    if (options_.slaveAddress)
        return static_cast<uint8_t>(*options_.slaveAddress);
    int a = units_.front().model->rtuAddress();
    return static_cast<uint8_t>(a >= 1 && a <= 247 ? a : 1);
}

int Server::serialSilenceMs() const
{
    // Three and a half characters of 11 bits, but never below what a
    // pseudo-terminal or a USB adapter can keep together.
    int t = static_cast<int>(3.5 * 11 * 1000 / std::max(options_.baud, 1)) + 1;
    return std::max(t, 20);
}

void Server::closeClients(Unit& u)
{
    for (int fd : u.clients)
        ::close(fd);
    u.clients.clear();
    u.model->setOpenSockets(0);
}

void Server::restartModule(Unit& u)
{
    log_ << "chronel-sim: module " << (units_.size() > 1 ? u.address + " " : "") << "restart\n";
    closeClients(u);
    u.model->restart();
    u.model->recordError(err::EthernetReset);
}

bool Server::process(Unit& u, const uint8_t* pdu, size_t len, Link link, std::vector<uint8_t>& reply, bool& restart)
{
    FaultDecision d = u.faults.next();
    restart = d.restartAfter;
    if (options_.verbose) {
        if (units_.size() > 1)
            log_ << u.address << ' ';
        log_ << (link == Link::Tcp ? "tcp" : "rtu") << " request";
        for (size_t i = 0; i < std::min<size_t>(len, 8); ++i)
            log_ << ' ' << static_cast<int>(pdu[i]);
        log_ << (d.dropRequest ? " (dropped)" : d.dropReply ? " (no reply)" : "") << '\n';
    }
    if (d.dropRequest) {
        u.model->countDroppedPacket();
        return false;
    }
    reply = u.model->handleRequest(pdu, len, link);
    if (d.delayMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(d.delayMs));
    return !d.dropReply && !reply.empty();
}

void Server::acceptClient(Unit& u)
{
    int fd = modbus_tcp_accept(u.tcpCtx, &u.listenFd);
    if (fd < 0)
        return;
    u.clients.push_back(fd);
    u.model->setOpenSockets(static_cast<int>(u.clients.size()));
}

void Server::dropClient(Unit& u, int fd)
{
    auto it = std::find(u.clients.begin(), u.clients.end(), fd);
    if (it == u.clients.end())
        return; // already closed by a restart
    ::close(fd);
    u.clients.erase(it);
    u.model->setOpenSockets(static_cast<int>(u.clients.size()));
}

bool Server::drainDeadClient(int fd)
{
    // Requests are read and forgotten so the loop does not wake for them again.
    uint8_t buf[512];
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK));
}

bool Server::serveTcpClient(Unit& u, int fd)
{
    uint8_t adu[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(u.tcpCtx, fd);
    int rc = modbus_receive(u.tcpCtx, adu);
    if (rc < 0)
        return false;
    if (rc == 0)
        return true;
    size_t got = static_cast<size_t>(rc);
    if (got < kTcpHeader + 1)
        return false;
    size_t declared = static_cast<size_t>(adu[4] << 8 | adu[5]); // unit + PDU
    uint16_t protocol = static_cast<uint16_t>(adu[2] << 8 | adu[3]);
    // A frame whose header disagrees with its body leaves the stream without
    // a known boundary: give up the connection as a device would.
    if (protocol != 0 || declared < 2 || 6 + declared > sizeof adu || 6 + declared < got) {
        u.model->countDroppedPacket();
        return false;
    }
    if (6 + declared > got) {
        // A function libmodbus has no layout for: the header says how long it is.
        if (!ReadExact(fd, adu + got, 6 + declared - got))
            return false;
        got = 6 + declared;
    }
    std::vector<uint8_t> reply;
    bool restart = false;
    if (process(u, adu + kTcpHeader, got - kTcpHeader, Link::Tcp, reply, restart)) {
        std::vector<uint8_t> out(adu, adu + kTcpHeader);
        out[4] = static_cast<uint8_t>((reply.size() + 1) >> 8);
        out[5] = static_cast<uint8_t>((reply.size() + 1) & 0xFF);
        out.insert(out.end(), reply.begin(), reply.end());
        if (!WriteAll(fd, out.data(), out.size(), true))
            return false;
    }
    if (restart)
        restartModule(u); // closes this connection too
    return true;
}

void Server::serveSerialFrame(const std::vector<uint8_t>& frame)
{
    Unit& u = units_.front();
    if (u.dead)
        return;
    if (!RtuCrcValid(frame)) {
        u.model->countDroppedPacket();
        return;
    }
    uint8_t address = frame[0];
    // 255 is the address the configurator uses for "the module on this line".
    bool broadcast = address == 0;
    if (!broadcast && address != 255 && address != serialAddress())
        return;
    std::vector<uint8_t> reply;
    bool restart = false;
    if (process(u, frame.data() + 1, frame.size() - 3, Link::Serial, reply, restart) && !broadcast) {
        std::vector<uint8_t> out = RtuFrame(address, reply);
        WriteAll(serialFd_, out.data(), out.size(), false);
    }
    if (restart)
        restartModule(u);
}

void Server::flushSerial(bool silence)
{
    while (!serialBuf_.empty()) {
        auto need = RtuRequestLength(serialBuf_);
        size_t take = 0;
        if (need && *need > kRtuMaxFrame) {
            serialBuf_.clear(); // not a request we could ever answer; wait for the next frame
            units_.front().model->countDroppedPacket();
            return;
        }
        if (need && *need > 0 && *need <= serialBuf_.size()) {
            take = *need;
        } else if (silence && need && *need == 0) {
            take = std::min(serialBuf_.size(), kRtuMaxFrame); // no fixed layout: silence ends it
        } else if (silence) {
            serialBuf_.clear(); // a frame cut short
            units_.front().model->countDroppedPacket();
            return;
        } else {
            return;
        }
        std::vector<uint8_t> frame(serialBuf_.begin(), serialBuf_.begin() + static_cast<ptrdiff_t>(take));
        serialBuf_.erase(serialBuf_.begin(), serialBuf_.begin() + static_cast<ptrdiff_t>(take));
        serveSerialFrame(frame);
    }
}

void Server::readSerial()
{
    uint8_t buf[512];
    for (;;) {
        ssize_t n = ::read(serialFd_, buf, sizeof buf);
        if (n > 0) {
            if (serialBuf_.size() + static_cast<size_t>(n) > 4 * kRtuMaxFrame)
                serialBuf_.clear();
            serialBuf_.insert(serialBuf_.end(), buf, buf + n);
            lastSerialByteMs_ = MonotonicMs();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    flushSerial(false);
}

void Server::run(int stopFd, const std::function<void()>& idle)
{
    // What each polled descriptor belongs to: a unit's listener or one of its clients.
    struct Slot {
        size_t unit;
        bool listener;
    };
    std::vector<pollfd> fds;
    std::vector<Slot> slots;
    for (;;) {
        fds.clear();
        slots.clear();
        fds.push_back({stopFd, POLLIN, 0});
        size_t serialIndex = fds.size();
        if (serialFd_ >= 0)
            fds.push_back({serialFd_, POLLIN, 0});
        size_t unitBase = fds.size();
        for (size_t i = 0; i < units_.size(); ++i) {
            const Unit& u = units_[i];
            if (u.listenFd >= 0 && u.clients.size() < static_cast<size_t>(options_.maxClients)) {
                fds.push_back({u.listenFd, POLLIN, 0});
                slots.push_back({i, true});
            }
            for (int fd : u.clients) {
                fds.push_back({fd, POLLIN, 0});
                slots.push_back({i, false});
            }
        }

        int timeout = kTickMs;
        if (!serialBuf_.empty()) {
            int64_t left = lastSerialByteMs_ + serialSilenceMs() - MonotonicMs();
            timeout = static_cast<int>(std::clamp<int64_t>(left, 0, kTickMs));
        }
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) {
            log_ << "chronel-sim: poll failed: " << std::strerror(errno) << '\n';
            return;
        }
        if (fds[0].revents)
            return;
        for (Unit& u : units_)
            u.model->tick();

        if (r > 0 && serialFd_ >= 0 && (fds[serialIndex].revents & POLLIN))
            readSerial();
        if (!serialBuf_.empty() && MonotonicMs() - lastSerialByteMs_ >= serialSilenceMs())
            flushSerial(true);

        if (r > 0) {
            // Clients first, then new connections, so that accepting cannot
            // shift a client that was just found ready.
            for (size_t i = unitBase; i < fds.size(); ++i) {
                const Slot& slot = slots[i - unitBase];
                Unit& u = units_[slot.unit];
                int fd = fds[i].fd;
                if (slot.listener || !fds[i].revents)
                    continue;
                if (std::find(u.clients.begin(), u.clients.end(), fd) == u.clients.end())
                    continue; // closed by a restart in this pass
                bool keep = u.dead ? drainDeadClient(fd) : serveTcpClient(u, fd);
                if (!keep)
                    dropClient(u, fd);
            }
            for (size_t i = unitBase; i < fds.size(); ++i) {
                const Slot& slot = slots[i - unitBase];
                if (slot.listener && (fds[i].revents & POLLIN))
                    acceptClient(units_[slot.unit]);
            }
        }
        if (idle)
            idle();
    }
}

} // namespace chronel::sim
