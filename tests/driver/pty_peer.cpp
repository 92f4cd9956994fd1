#include "pty_peer.h"

#include <modbus.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace drivertest {

std::uint16_t RtuCrc(const Bytes& bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

Bytes RtuFrame(Bytes body)
{
    const std::uint16_t crc = RtuCrc(body);
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    return body;
}

namespace {

void MakeRaw(int fd)
{
    termios tio;
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- PtyPair

PtyPair::PtyPair()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        return;
    keepOpen_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keepOpen_ < 0)
        return;
    // Raw until a port configures it, so that nothing is echoed or
    // translated before the real user opens it.
    MakeRaw(keepOpen_);
    MakeRaw(master_);
    slavePath_ = name;
}

int PtyPair::othersOpenHere() const
{
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == keepOpen_ || fd == ::dirfd(dir))
            continue;
        char target[256];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
            ++count;
    }
    ::closedir(dir);
    return count;
}

PtyPair::~PtyPair()
{
    if (keepOpen_ >= 0)
        ::close(keepOpen_);
    if (master_ >= 0)
        ::close(master_);
}

// ---------------------------------------------------------------- PtyBridge

PtyBridge::PtyBridge()
{
    if (!ok() || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
        return;
    thread_ = std::thread([this] { relay(); });
}

PtyBridge::~PtyBridge()
{
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : stopPipe_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void PtyBridge::relay()
{
    std::uint8_t buffer[4096];
    for (;;) {
        pollfd fds[3] = {{driverSide_.master(), POLLIN, 0}, {peerSide_.master(), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        const int r = ::poll(fds, 3, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || fds[2].revents != 0)
            return;
        for (int side = 0; side < 2; ++side) {
            if (!(fds[side].revents & POLLIN))
                continue;
            const ssize_t n = ::read(fds[side].fd, buffer, sizeof buffer);
            if (n > 0)
                WriteAll(fds[1 - side].fd, buffer, static_cast<std::size_t>(n));
        }
    }
}

// ---------------------------------------------------------------- LibmodbusRtuSlave

LibmodbusRtuSlave::LibmodbusRtuSlave(const std::string& path, int unit)
{
    modbus_t* ctx = modbus_new_rtu(path.c_str(), 19200, 'N', 8, 1);
    if (ctx == nullptr)
        return;
    context_ = ctx;
    modbus_mapping_t* mapping = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisters, 0, 0);
    if (mapping == nullptr)
        return;
    mapping_ = mapping;
    for (int i = 0; i < kRegisters; ++i)
        mapping->tab_registers[i] = registerValue(i);
    if (modbus_set_slave(ctx, unit) != 0 || modbus_connect(ctx) != 0)
        return;
    // Short, so that the thread notices a stop request soon.
    modbus_set_indication_timeout(ctx, 0, 20000);
    // After a request for another unit, a libmodbus RTU slave takes the next
    // frame for that unit's reply and ignores it, waiting for it this long.
    // Kept well below the driver's time-outs in the tests, so that the
    // request that follows a time-out is not the frame it ignores.
    modbus_set_response_timeout(ctx, 0, 100000);
    ok_ = true;
    thread_ = std::thread([this] { run(); });
}

LibmodbusRtuSlave::~LibmodbusRtuSlave()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (mapping_)
        modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
    if (context_) {
        modbus_close(static_cast<modbus_t*>(context_));
        modbus_free(static_cast<modbus_t*>(context_));
    }
}

void LibmodbusRtuSlave::run()
{
    auto* ctx = static_cast<modbus_t*>(context_);
    auto* mapping = static_cast<modbus_mapping_t*>(mapping_);
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_.load()) {
        const int length = modbus_receive(ctx, query);
        if (length <= 0)
            continue; // time-out, a frame for another slave, or a broken frame
        {
            std::lock_guard lock(mutex_);
            addresses_.push_back(length >= 4 ? (query[2] << 8) | query[3] : -1);
            times_.push_back(Clock::now());
        }
        requests_.fetch_add(1);
        const int delay = delayMs_.load();
        if (delay > 0)
            std::this_thread::sleep_for(milliseconds(delay));
        std::lock_guard lock(mutex_);
        modbus_reply(ctx, query, length, mapping);
    }
}

std::vector<int> LibmodbusRtuSlave::requestAddresses() const
{
    std::lock_guard lock(mutex_);
    return addresses_;
}

std::vector<Clock::time_point> LibmodbusRtuSlave::requestTimes() const
{
    std::lock_guard lock(mutex_);
    return times_;
}

std::uint16_t LibmodbusRtuSlave::holdingRegister(int address) const
{
    std::lock_guard lock(mutex_);
    if (mapping_ == nullptr || address < 0 || address >= kRegisters)
        return 0;
    return static_cast<modbus_mapping_t*>(mapping_)->tab_registers[address];
}

// ---------------------------------------------------------------- ScriptedRtuSlave

ScriptedRtuSlave::ScriptedRtuSlave(int masterFd, Script script) : master_(masterFd), script_(std::move(script))
{
    thread_ = std::thread([this] { run(); });
}

ScriptedRtuSlave::~ScriptedRtuSlave()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

bool ScriptedRtuSlave::pause(milliseconds duration)
{
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (stop_.load())
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(milliseconds(2), until - Clock::now()));
    }
    return !stop_.load();
}

bool ScriptedRtuSlave::readRequest(Bytes& frame)
{
    frame.clear();
    std::size_t expected = 0;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        // Requests of unknown length end with 20 ms of silence.
        const int r = ::poll(&p, 1, expected == 0 && frame.size() >= 2 ? 20 : 10);
        if (stop_.load())
            return false;
        if (r == 0) {
            if (expected == 0 && frame.size() >= 2)
                return true;
            continue;
        }
        if (r < 0 || !(p.revents & POLLIN)) {
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        std::uint8_t byte;
        if (::read(master_, &byte, 1) != 1)
            continue;
        frame.push_back(byte);
        if (frame.size() == 2) {
            switch (frame[1]) {
            case 1:
            case 2:
            case 3:
            case 4:
            case 5:
            case 6: expected = 8; break;
            case 7:
            case 11:
            case 12:
            case 17: expected = 4; break;
            default: break;
            }
        }
        if (frame.size() == 7 && (frame[1] == 15 || frame[1] == 16))
            expected = 9 + frame[6];
        if (expected != 0 && frame.size() >= expected)
            return true;
    }
}

void ScriptedRtuSlave::run()
{
    Bytes request;
    int index = 0;
    while (readRequest(request)) {
        requests_.fetch_add(1);
        for (const Step& step : script_(request, index++)) {
            if (!pause(step.pause))
                return;
            WriteAll(master_, step.bytes.data(), step.bytes.size());
            stepsSent_.fetch_add(1);
        }
    }
}

Bytes ScriptedRtuSlave::readReply(const Bytes& request, std::uint16_t offset)
{
    if (request.size() < 6)
        return {};
    const int start = (request[2] << 8) | request[3];
    const int count = (request[4] << 8) | request[5];
    Bytes body{request[0], request[1], static_cast<std::uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(0x1000 + start + i + offset);
        body.push_back(static_cast<std::uint8_t>(value >> 8));
        body.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    return RtuFrame(body);
}

// ---------------------------------------------------------------- PymodbusAsciiSlave

PymodbusAsciiSlave::PymodbusAsciiSlave(const std::string& script, const std::string& path, int unit)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string unitText = std::to_string(unit);
    const char* argv[] = {"/usr/bin/python3", script.c_str(), path.c_str(), unitText.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    // Importing pymodbus takes a while on a busy machine.
    const auto until = Clock::now() + std::chrono::seconds(30);
    std::string text;
    while (pid_ > 0 && Clock::now() < until && text.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ready_ = text.rfind("READY", 0) == 0;
}

PymodbusAsciiSlave::~PymodbusAsciiSlave()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= until) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
}

} // namespace drivertest
