#pragma once
// Frame checks of the Modbus serial line: CRC-16 for RTU, LRC for ASCII.
// Pure functions without I/O.
#include <cstddef>
#include <cstdint>

namespace plcdrv {

// Modbus CRC-16: initial value 0xFFFF, reflected polynomial 0xA001, computed
// byte-wise with the high- and low-byte lookup tables of the Modbus serial
// line guide. The low-order byte goes on the wire first.
std::uint16_t ModbusCrc16(const std::uint8_t* data, std::size_t length);

// Two's complement of the 8-bit sum of the bytes.
std::uint8_t ModbusLrc(const std::uint8_t* data, std::size_t length);

} // namespace plcdrv
