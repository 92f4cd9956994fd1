#include "rtu_frame.h"

#include <modbus/modbus.h>

namespace chronel::sim {

namespace {
// Serial-line codes libmodbus has no names for.
constexpr uint8_t FcDiagnostics = 0x08;
constexpr uint8_t FcGetCommEventCounter = 0x0B;
constexpr uint8_t FcGetCommEventLog = 0x0C;
} // namespace

uint16_t Crc16Modbus(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::optional<size_t> RtuRequestLength(std::span<const uint8_t> b)
{
    if (b.size() < 2)
        return std::nullopt;
    switch (b[1]) {
    case MODBUS_FC_READ_COILS:
    case MODBUS_FC_READ_DISCRETE_INPUTS:
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS:
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
    case FcDiagnostics: return 8;
    case MODBUS_FC_READ_EXCEPTION_STATUS:
    case FcGetCommEventCounter:
    case FcGetCommEventLog:
    case MODBUS_FC_REPORT_SLAVE_ID: return 4;
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        if (b.size() < 7)
            return std::nullopt;
        return 9 + static_cast<size_t>(b[6]);
    case MODBUS_FC_MASK_WRITE_REGISTER: return 10;
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        if (b.size() < 11)
            return std::nullopt;
        return 13 + static_cast<size_t>(b[10]);
    default: return 0;
    }
}

std::vector<uint8_t> RtuFrame(uint8_t address, std::span<const uint8_t> pdu)
{
    std::vector<uint8_t> f;
    f.reserve(pdu.size() + 3);
    f.push_back(address);
    f.insert(f.end(), pdu.begin(), pdu.end());
    uint16_t crc = Crc16Modbus(f);
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

bool RtuCrcValid(std::span<const uint8_t> f)
{
    if (f.size() < 4)
        return false;
    uint16_t crc = Crc16Modbus(f.first(f.size() - 2));
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

} // namespace chronel::sim
