// libmodbus clients for talking to chronel-sim in tests.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <modbus/modbus.h>

#include "event_decoder.h"

namespace simtest {

struct ModbusDeleter {
    void operator()(modbus_t* c) const
    {
        modbus_close(c);
        modbus_free(c);
    }
};
using Modbus = std::unique_ptr<modbus_t, ModbusDeleter>;

inline Modbus ConnectTcp(int port, int timeoutMs = 1000)
{
    Modbus c(modbus_new_tcp("127.0.0.1", port));
    if (!c)
        return nullptr;
    modbus_set_slave(c.get(), 255); // the unit the configurator addresses
    modbus_set_response_timeout(c.get(), 0, static_cast<uint32_t>(timeoutMs) * 1000);
    if (modbus_connect(c.get()) != 0)
        return nullptr;
    return c;
}

// Register numbers are 1-based as the configurator gives them.
inline std::vector<uint16_t> ReadRegs(modbus_t* c, int reg, int count)
{
    std::vector<uint16_t> w(static_cast<size_t>(count));
    if (modbus_read_registers(c, reg - 1, count, w.data()) != count)
        return {};
    return w;
}

inline bool WriteRegs(modbus_t* c, int reg, const std::vector<uint16_t>& w)
{
    return modbus_write_registers(c, reg - 1, static_cast<int>(w.size()), w.data()) == static_cast<int>(w.size());
}

// The exception code of a failed call (libmodbus reports it through errno).
inline int ExceptionOf(int rc)
{
    if (rc >= 0)
        return 0;
    return errno > MODBUS_ENOBASE && errno < MODBUS_ENOBASE + 256 ? errno - MODBUS_ENOBASE : -1;
}

// One retrieve cycle of the event scan per block until the buffer is empty:
// coil 1, event block, acknowledge coil 2. Bounded by `maxBlocks`.
inline std::vector<Decoded> DrainEvents(
    modbus_t* c, int maxBlocks = 200, std::vector<std::vector<uint16_t>>* blocks = nullptr)
{
    std::vector<Decoded> all;
    Decoded date;
    for (int i = 0; i < maxBlocks; ++i) {
        uint8_t avail = 0;
        if (modbus_read_bits(c, 0, 1, &avail) != 1 || !avail)
            break;
        auto w = ReadRegs(c, 101, 100);
        if (w.size() != 100)
            break;
        if (blocks)
            blocks->push_back(w);
        auto d = DecodeBlock(w.data(), date);
        all.insert(all.end(), d.begin(), d.end());
        if (modbus_write_bit(c, 1, 1) != 1)
            break;
    }
    return all;
}

inline void SetText(std::vector<uint16_t>& w, size_t at, size_t words, const std::string& s)
{
    for (size_t i = 0; i < words; ++i) {
        uint8_t lo = 2 * i < s.size() ? static_cast<uint8_t>(s[2 * i]) : 0;
        uint8_t hi = 2 * i + 1 < s.size() ? static_cast<uint8_t>(s[2 * i + 1]) : 0;
        w[at + i] = static_cast<uint16_t>(lo | hi << 8);
    }
}

inline std::string GetText(const std::vector<uint16_t>& w, size_t at, size_t words)
{
    std::string s;
    for (size_t i = 0; i < words; ++i) {
        char lo = static_cast<char>(w[at + i] & 0xFF), hi = static_cast<char>(w[at + i] >> 8);
        if (!lo)
            break;
        s += lo;
        if (!hi)
            break;
        s += hi;
    }
    return s;
}

template <class Pred> bool WaitFor(Pred p, int ms = 3000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (p())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return p();
}

} // namespace simtest
