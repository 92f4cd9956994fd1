#include "driver/modbus_checksum.h"

#include <array>

namespace plcdrv {
namespace {

// Entry i is the CRC register after shifting byte i through the reflected
// polynomial eight times, split into its high and low byte. (The serial line
// guide prints the same two tables with the names swapped: it names the
// register halves by their order on the wire.)
constexpr std::uint16_t CrcStep(std::uint16_t value)
{
    for (int bit = 0; bit < 8; ++bit)
        value =
            (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001) : static_cast<std::uint16_t>(value >> 1);
    return value;
}

constexpr std::array<std::uint8_t, 256> MakeTable(bool highByte)
{
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const std::uint16_t v = CrcStep(static_cast<std::uint16_t>(i));
        table[i] = static_cast<std::uint8_t>(highByte ? (v >> 8) : (v & 0xFF));
    }
    return table;
}

constexpr auto kCrcHigh = MakeTable(true);
constexpr auto kCrcLow = MakeTable(false);

// Spot checks against the published tables.
static_assert(kCrcHigh[0] == 0x00 && kCrcHigh[1] == 0xC0 && kCrcHigh[2] == 0xC1 && kCrcHigh[255] == 0x40);
static_assert(kCrcLow[0] == 0x00 && kCrcLow[1] == 0xC1 && kCrcLow[2] == 0x81 && kCrcLow[255] == 0x40);

} // namespace

std::uint16_t ModbusCrc16(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t low = 0xFF;
    std::uint8_t high = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t index = low ^ data[i];
        low = high ^ kCrcLow[index];
        high = kCrcHigh[index];
    }
    return static_cast<std::uint16_t>((high << 8) | low);
}

std::uint8_t ModbusLrc(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + data[i]);
    return static_cast<std::uint8_t>(-sum);
}

} // namespace plcdrv
