#pragma once
// Turns a completed request's reply into register-buffer contents and one
// outcome. Shared by the TCP transport and the driver path, which both place
// the reply PDU in the packet's functionCode and data fields. Pure: the
// caller fires the events.
#include "regaccess/register_buffer.h"

#include "driver/reply_match.h"
#include "platform/error_code.h"

#include <cstdint>
#include <span>

namespace regaccess {

enum class ReplyKind { Read, Write, Error };

struct ReplyOutcome {
    ReplyKind kind = ReplyKind::Read;
    // The control's ErrorCode: NoError unless kind is Error. It holds a 16-bit
    // number, as the property does.
    platform::ErrorCode error = platform::ErrorCode::NoError;
};

// `request` is the PDU the request sent (function code first); `reply` the
// reply's bytes from its function code on (r[0] = function code, r[1] … =
// data): on the TCP path exactly the reply, on the driver path the packet's
// PDU fields, whose end the driver does not tell (`extent` says which). A
// reply that does not answer the request (plcdrv::fitReply) is an error,
// NoValidReply, and leaves the buffer as it was; a reply that does fills
// exactly what the request asked for. A `status` other than NoError (the
// driver's completion status) is the outcome, whatever the reply holds.
ReplyOutcome ProcessReply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply,
    plcdrv::ReplyExtent extent, platform::ErrorCode status, RegisterBuffer& buffer);

} // namespace regaccess
