#pragma once
// Writing the outcome of a finished exchange into the caller's packet.
#include "driver/modbus_message.h"
#include "driver/request_packet.h"
#include "platform/error_code.h"

namespace plcdrv {

// Given the exchange status (serial: 0 when a complete frame arrived, else
// -3; Modbus Plus: the value MBXSendPacket returned), checks the reply and
// writes it into `packet`:
//  - valid reply: replyCount (the reply's count byte as sent) and at most
//    251 reply data bytes, never more than arrived;
//  - exception: functionCode = the reply's function byte, replyCount = the
//    exception code;
//  - a complete frame that fails its check (CRC, LRC, malformed frame): no
//    valid reply, status -3, so stale packet contents never pass for data.
// Serial adapters also get the final status in `status`. Returns the status
// to post with DRIVER_DONE_MESSAGE.
int StoreReply(ModbusMessage& message, int status, bool serialAdapter, plcdrv::RequestPacket& packet);

// No valid reply: the status every framing posts for a missing, late or
// broken reply.
constexpr int kNoReplyStatus = platform::errorNumber(platform::ErrorCode::NoValidReply);

} // namespace plcdrv
