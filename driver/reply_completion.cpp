#include "driver/reply_completion.h"

#include <algorithm>
#include <cstring>

namespace plcdrv {

int StoreReply(ModbusMessage& message, int status, bool serialAdapter, plcdrv::RequestPacket& packet)
{
    if (status == 0) {
        if (message.checkReply() == 1) {
            message.parseReply();
            const std::size_t count = std::min<std::size_t>(message.replyDataCount(), sizeof packet.data - 1);
            // The count byte as sent, even where fewer bytes followed it:
            // for function 7 it is the exception status itself.
            packet.data[0] = message.replyCountField();
            if (count > 0)
                std::memcpy(packet.data + 1, message.replyData(), count);
        } else if (message.exceptionCode() != 0) {
            packet.functionCode = message.replyFunctionCode();
            packet.data[0] = message.exceptionCode();
        } else {
            status = kNoReplyStatus;
        }
    }
    if (serialAdapter)
        packet.status = status;
    return status;
}

} // namespace plcdrv
