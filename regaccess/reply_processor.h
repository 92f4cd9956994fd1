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

// The length `reply` must have to hold what its function code announces:
// for a read the function code, the count byte and that many bytes (words
// for the table reads 209 and 224), for an exception its code, for a write
// the echoed address and value. 1 for replies of no fixed layout. A TCP
// reply shorter than this was cut by its MBAP length.
std::size_t replyLengthNeeded(std::span<const std::uint8_t> reply);

// Function codes at or above this value carry data, never an exception,
// although their bit 7 is set.
constexpr unsigned FirstNonExceptionCode = 0xD0;

} // namespace regaccess
