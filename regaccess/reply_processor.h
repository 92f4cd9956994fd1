#pragma once
// Turns a completed request's reply into register-buffer contents and one
// outcome. Shared by the TCP transport and the driver path, which both place
// the reply PDU in the packet's functionCode and data fields. Pure: the
// caller fires the events.
#include "regaccess/register_buffer.h"

#include <cstdint>
#include <span>

namespace regaccess {

enum class ReplyKind { Read, Write, Error };

struct ReplyOutcome {
    ReplyKind kind = ReplyKind::Read;
    std::int16_t errorCode = 0; // the control's ErrorCode: 0 unless kind is Error
};

// `reply` holds the bytes the reply really carries, from its function code
// on (r[0] = function code, r[1] … = data). A byte at a fixed position past
// its end reads as 0; a block whose count byte promises more than the reply
// holds is copied only as far as the reply goes. `status` is the completion
// status (0 on the TCP path).
ReplyOutcome processReply(std::span<const std::uint8_t> reply, std::int32_t status, RegisterBuffer& buffer);

} // namespace regaccess
