// Modbus RTU request framing for the simulator's serial side: CRC-16 and the
// length of a request frame as far as its leading bytes tell it. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace chronel::sim {

// The simulator's own CRC, kept apart from the driver's (driver/modbus_checksum.h)
// on purpose: the simulator is the peer the driver is tested against, and a
// shared routine would let one mistake pass on both sides.
uint16_t Crc16Modbus(std::span<const uint8_t> bytes);

// Whole frame length (address through CRC) of the request at the start of
// `bytes`, nullopt while more bytes are needed to know it, 0 when the function
// code has no fixed layout (the frame then ends at line silence).
std::optional<size_t> RtuRequestLength(std::span<const uint8_t> bytes);

// Appends the CRC, low byte first.
std::vector<uint8_t> RtuFrame(uint8_t address, std::span<const uint8_t> pdu);

// True when `frame` (address, PDU, CRC) is at least 4 bytes with a valid CRC.
bool RtuCrcValid(std::span<const uint8_t> frame);

inline constexpr size_t kRtuMaxFrame = 256;

} // namespace chronel::sim
