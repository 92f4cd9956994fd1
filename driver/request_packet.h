#pragma once
// The record in which one request crosses from the control to PLCDRV and in
// which the driver hands the reply back. Its layout is a binary contract with
// the driver (which reads and writes it on a worker thread), so it is packed,
// little-endian, exactly 280 bytes, and every offset is pinned below.
//
// Thread safety: the control owns the packet. Between a VexaPut that returned
// 1 and the DRIVER_DONE_MESSAGE that follows it, only the driver's worker may
// touch it; the posted message orders the worker's writes before the
// control's reads.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace plcdrv {

// Class words the driver uses to tell request kinds apart.
enum RequestClass : std::uint16_t {
    ModbusRequestClass = 0x4000,
    AdapterStatisticsClass = 0x2000,
    GlobalMemoryClass = 0x2001,
};

constexpr std::size_t RequestPacketSize = 280;
constexpr std::size_t RequestDataSize = 252;
// Function code plus the data field: the largest PDU a packet carries.
constexpr std::size_t MaxPduLength = 1 + RequestDataSize;

#pragma pack(push, 1)
struct RequestPacket {
    std::uint32_t notifyWindow; // window that receives DRIVER_DONE_MESSAGE
    std::int16_t adapter;       // 1 … 8, the n of "Adapter.Object.%d"
    std::uint16_t requestClass; // RequestClass
    std::int32_t status;        // written by serial adapters on completion
    std::uint8_t reserved[6];
    std::int32_t pduLength;    // bytes from functionCode on
    std::uint8_t route[5];     // route bytes; route[0] is the slave/unit
    std::uint8_t functionCode; // request code; on an exception reply the reply's code
    // Request: the bytes after the function code. Reply: data[0] is the
    // reply's count byte (or the exception code), data[1…] the reply data.
    std::uint8_t data[RequestDataSize];
};
#pragma pack(pop)

static_assert(sizeof(RequestPacket) == RequestPacketSize);
static_assert(offsetof(RequestPacket, notifyWindow) == 0);
static_assert(offsetof(RequestPacket, adapter) == 4);
static_assert(offsetof(RequestPacket, requestClass) == 6);
static_assert(offsetof(RequestPacket, status) == 8);
static_assert(offsetof(RequestPacket, reserved) == 12);
static_assert(offsetof(RequestPacket, pduLength) == 18);
static_assert(offsetof(RequestPacket, route) == 22);
static_assert(offsetof(RequestPacket, functionCode) == 27);
static_assert(offsetof(RequestPacket, data) == 28);

// The multi-byte fields are stored in host order, and the contract with the
// driver is little-endian.
static_assert(std::endian::native == std::endian::little, "RequestPacket needs a little-endian host");

} // namespace plcdrv
