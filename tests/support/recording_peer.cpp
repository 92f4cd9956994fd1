#include "recording_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace chronel::test {

namespace {

int Word(const std::uint8_t* p) { return p[0] << 8 | p[1]; }

} // namespace

RecordingPeer::RecordingPeer(std::uint16_t port, PeerMemory memory) : memory_(memory)
{
    mapping_ = modbus_mapping_new(memory.coils, memory.inputs, memory.holdings, memory.inputRegisters);
    if (!mapping_ || ::pipe(wakeFds_) != 0)
        return;
    ctx_ = modbus_new_tcp("127.0.0.1", port);
    if (!ctx_)
        return;
    // libmodbus answers a request it finds malformed (a count out of range, an
    // unknown function) only after sleeping its response time-out to flush the
    // line: 500 ms by default, as long as a client's whole budget. Nothing is
    // left to flush here, so the exception goes out at once.
    modbus_set_response_timeout(ctx_, 0, 1000);
    listenFd_ = modbus_tcp_listen(ctx_, 4);
    if (listenFd_ < 0)
        return;
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

RecordingPeer::~RecordingPeer()
{
    stop_ = true;
    if (wakeFds_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] auto n = ::write(wakeFds_[1], &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    for (int fd : wakeFds_) {
        if (fd >= 0)
            ::close(fd);
    }
    if (ctx_)
        modbus_free(ctx_);
    if (mapping_)
        modbus_mapping_free(mapping_);
}

std::vector<PeerRequest> RecordingPeer::requests()
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void RecordingPeer::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::uint16_t RecordingPeer::holding(int reg)
{
    std::lock_guard lock(mutex_);
    return mapping_->tab_registers[reg - 1];
}

void RecordingPeer::setHolding(int reg, std::uint16_t value)
{
    std::lock_guard lock(mutex_);
    mapping_->tab_registers[reg - 1] = value;
}

void RecordingPeer::setHoldings(int firstReg, const std::vector<std::uint16_t>& values)
{
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < values.size() && firstReg - 1 + int(i) < memory_.holdings; ++i)
        mapping_->tab_registers[firstReg - 1 + int(i)] = values[i];
}

bool RecordingPeer::coil(int number)
{
    std::lock_guard lock(mutex_);
    return mapping_->tab_bits[number - 1] != 0;
}

void RecordingPeer::setCoil(int number, bool on)
{
    std::lock_guard lock(mutex_);
    mapping_->tab_bits[number - 1] = on ? 1 : 0;
}

void RecordingPeer::setHook(Hook hook)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void RecordingPeer::setException(std::optional<std::pair<int, std::uint8_t>> registerAndCode)
{
    std::lock_guard lock(mutex_);
    exception_ = registerAndCode;
}

void RecordingPeer::setLosses(LossPlan plan)
{
    std::lock_guard lock(mutex_);
    losses_ = std::move(plan);
}

// What modbus_reply does to the memory for a write, without the reply.
void RecordingPeer::carryOut(const PeerRequest& r)
{
    const bool coils = r.function == 5 || r.function == 15;
    const bool registers = r.function == 6 || r.function == 16;
    for (std::size_t i = 0; i < r.values.size(); ++i) {
        const int index = r.address - 1 + int(i);
        if (coils && index >= 0 && index < memory_.coils)
            mapping_->tab_bits[index] = r.values[i] ? 1 : 0;
        else if (registers && index >= 0 && index < memory_.holdings)
            mapping_->tab_registers[index] = r.values[i];
    }
}

PeerRequest RecordingPeer::parse(const std::uint8_t* query, int length) const
{
    PeerRequest r;
    const int h = modbus_get_header_length(ctx_);
    if (length < h + 5)
        return r;
    const std::uint8_t* pdu = query + h;
    r.function = pdu[0];
    r.address = Word(pdu + 1) + 1;
    switch (r.function) {
    case 1:
    case 2:
    case 3:
    case 4: r.count = Word(pdu + 3); break;
    case 5:
        r.count = 1;
        r.values.push_back(Word(pdu + 3) == 0xFF00 ? 1 : 0);
        break;
    case 6:
        r.count = 1;
        r.values.push_back(std::uint16_t(Word(pdu + 3)));
        break;
    case 15:
        r.count = Word(pdu + 3);
        for (int i = 0; i < r.count && h + 6 + i / 8 < length; ++i)
            r.values.push_back((pdu[6 + i / 8] >> (i % 8)) & 1);
        break;
    case 16:
        r.count = Word(pdu + 3);
        for (int i = 0; i < r.count && h + 6 + 2 * i + 1 < length; ++i)
            r.values.push_back(std::uint16_t(Word(pdu + 6 + 2 * i)));
        break;
    default: break;
    }
    return r;
}

void RecordingPeer::run()
{
    std::vector<int> clients;
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stop_) {
        std::vector<pollfd> fds{{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (int c : clients)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), 1000) <= 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            int fd = listenFd_;
            const int client = modbus_tcp_accept(ctx_, &fd);
            if (client >= 0)
                clients.push_back(client);
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            modbus_set_socket(ctx_, fds[i].fd);
            const int length = modbus_receive(ctx_, query);
            if (length < 0) {
                ::close(fds[i].fd);
                std::erase(clients, fds[i].fd);
                continue;
            }
            if (length == 0)
                continue;
            std::lock_guard lock(mutex_);
            const PeerRequest request = parse(query, length);
            requests_.push_back(request);
            if (exception_ && request.address <= exception_->first &&
                exception_->first < request.address + std::max(request.count, 1)) {
                modbus_reply_exception(ctx_, query, exception_->second);
                continue;
            }
            const Loss loss = losses_ ? losses_(request, *mapping_) : Loss::None;
            if (loss == Loss::Request)
                continue;
            if (loss == Loss::Reply)
                carryOut(request);
            else
                modbus_reply(ctx_, query, length, mapping_);
            if (hook_)
                hook_(request, *mapping_);
        }
    }
    for (int c : clients)
        ::close(c);
    modbus_set_socket(ctx_, -1);
}

} // namespace chronel::test
