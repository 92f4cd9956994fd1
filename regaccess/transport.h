#pragma once
// What carries a control's requests: one interface for the control's own
// Modbus TCP client and for PLCDRV's adapters. The control builds a request,
// hands it to the transport transport_set.h chose for it, and processes the
// reply the transport hands back the same way whichever transport carried it.
//
// Thread safety: none; a transport belongs to one control on its thread.
#include "regaccess/transport_choice.h"

#include "driver/reply_match.h"
#include "platform/error_code.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace regaccess {

// One request as the control built it.
struct OutgoingRequest {
    std::span<const std::uint8_t> pdu;   // function code first; at most plcdrv::MaxPduLength bytes
    std::uint16_t requestClass = 0;      // plcdrv::RequestClass
    std::array<std::uint8_t, 5> route{}; // route[0] is the unit (slave) address
    int adapter = 1;                     // 1 … 8, the n of "Adapter.Object.%d"
    std::string_view host;               // the Host property
    int timeToLive = 500;                // ms, the wait budget of a Modbus TCP connection when it opens
};

// A reply (or the failure that came instead) as its transport hands it back.
struct IncomingReply {
    // The reply from its function code on; valid until the transport's next request.
    std::span<const std::uint8_t> pdu;
    // Exact when the transport knows where the reply ends; AtLeast when it
    // knows only where it starts (the driver's packet).
    plcdrv::ReplyExtent extent = plcdrv::ReplyExtent::Exact;
    // What a frame trace shows of the reply.
    std::span<const std::uint8_t> traced;
    // NoError, or the failure the exchange ended with (then no reply).
    platform::ErrorCode status = platform::ErrorCode::NoError;
    // What carried it, and the request's adapter (1 … 8) and unit, for the trace.
    TransportKind transport = TransportKind::Driver;
    int adapter = 1;
    std::uint8_t unit = 0;
};

class Transport {
public:
    enum class Handover {
        Replied, // the exchange is over; `reply` holds its reply
        Pending, // the request is out; the reply comes later (see the transport)
        Failed,  // nothing will come back; `error` says why
    };
    struct Sent {
        Handover handover = Handover::Failed;
        platform::ErrorCode error = platform::ErrorCode::NoError;
        IncomingReply reply;
    };

    virtual ~Transport() = default;
    virtual TransportKind kind() const = 0;
    virtual Sent send(const OutgoingRequest& request) = 0;
};

} // namespace regaccess
