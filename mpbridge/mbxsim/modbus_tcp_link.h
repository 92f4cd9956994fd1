#pragma once
// One Modbus TCP client connection of the stand-in MBX driver.
#include <cstdint>
#include <string>
#include <vector>

namespace mbxsim {

class ModbusTcpLink {
public:
    ModbusTcpLink(std::string host, std::uint16_t port);
    ~ModbusTcpLink();
    ModbusTcpLink(const ModbusTcpLink&) = delete;
    ModbusTcpLink& operator=(const ModbusTcpLink&) = delete;

    // Sends `pdu` to unit `unit` and waits up to `timeoutMs` for the reply
    // with the same transaction identifier; replies to earlier, abandoned
    // requests are skipped. Connects first when not connected; after any
    // failure the connection is dropped so the next exchange starts clean.
    // Returns 0 and the reply PDU, or one of mbxsim::Error.
    std::int32_t exchange(std::uint8_t unit, const std::uint8_t* pdu, std::size_t length, int timeoutMs,
        std::vector<std::uint8_t>& reply);

private:
    std::int32_t connectTo(int timeoutMs);
    void disconnect();

    std::string host_;
    std::uint16_t port_;
    int fd_ = -1;
    std::uint16_t transaction_ = 0;
};

} // namespace mbxsim
