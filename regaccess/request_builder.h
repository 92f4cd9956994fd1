#pragma once
// Builds the protocol data unit (function code first) of one request from
// the control's request properties. Pure: no I/O, no control state.
#include "driver/request_packet.h"
#include "regaccess/register_buffer.h"
#include "regaccess/request_properties.h"
#include "regaccess/route_path.h"

#include <array>
#include <cstdint>

namespace regaccess {

struct RequestParams {
    int function = 0;         // Function property (regaccess::Function)
    int regType = 0;          // RegType property (regaccess::RegType)
    std::int32_t address = 1; // 1-based register number
    int size = 1;             // data points (bits or registers)
    RouteBytes route;
};

struct BuiltRequest {
    int pduLength = 0;              // 0: the request could not be built
    std::uint16_t requestClass = 0; // plcdrv::RequestClass
    int size = 0;                   // Size after lowering it to the function's limit
    std::array<std::uint8_t, plcdrv::MaxPduLength> pdu{};
};

// Largest data-point counts per request, as the protocol frames allow.
constexpr int MaxReadBits = 2000;
constexpr int MaxReadRegisters = 125;
constexpr int MaxWriteCoils = 1968;
constexpr int MaxWriteRegisters = 100;
constexpr int MaxAdapterTableWords = 125;
constexpr int MaxNetworkTableWords = 32;

// Data comes from `buffer` for writes. A request with no route field, an
// unknown function or a register type the function does not support gives
// pduLength 0. A Size below 0 puts no data bytes into a write, so a request
// never carries more bytes than its byte count says.
BuiltRequest BuildRequest(const RequestParams& params, const RegisterBuffer& buffer);

} // namespace regaccess
