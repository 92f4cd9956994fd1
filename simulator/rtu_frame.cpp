#include "rtu_frame.h"

namespace chronel::sim {

uint16_t crc16Modbus(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::optional<size_t> rtuRequestLength(std::span<const uint8_t> b)
{
    if (b.size() < 2)
        return std::nullopt;
    switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8: return 8;
    case 7:
    case 11:
    case 12:
    case 17: return 4;
    case 15:
    case 16:
        if (b.size() < 7)
            return std::nullopt;
        return 9 + static_cast<size_t>(b[6]);
    case 22: return 10;
    case 23:
        if (b.size() < 11)
            return std::nullopt;
        return 13 + static_cast<size_t>(b[10]);
    default: return 0;
    }
}

std::vector<uint8_t> rtuFrame(uint8_t address, std::span<const uint8_t> pdu)
{
    std::vector<uint8_t> f;
    f.reserve(pdu.size() + 3);
    f.push_back(address);
    f.insert(f.end(), pdu.begin(), pdu.end());
    uint16_t crc = crc16Modbus(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

bool rtuCrcValid(std::span<const uint8_t> f)
{
    if (f.size() < 4)
        return false;
    uint16_t crc = crc16Modbus(f.first(f.size() - 2));
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

} // namespace chronel::sim
