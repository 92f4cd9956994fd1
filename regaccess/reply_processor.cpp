#include "regaccess/reply_processor.h"

#include "driver/modbus_function.h"
#include "platform/error_code.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace regaccess {

namespace fc = plcdrv::fc;
using plcdrv::FunctionCode;

namespace {

using platform::ErrorCode;

// The ErrorCode property keeps the low 16 bits of a code.
ErrorCode Low16(int number) { return platform::toErrorCode(static_cast<std::int16_t>(number)); }

constexpr ReplyOutcome Read{ReplyKind::Read, ErrorCode::NoError};
constexpr ReplyOutcome Written{ReplyKind::Write, ErrorCode::NoError};

class Reply {
public:
    explicit Reply(std::span<const std::uint8_t> bytes) : bytes_(bytes) { }

    unsigned at(std::size_t i) const { return i < bytes_.size() ? bytes_[i] : 0u; }
    // How many of `wanted` bytes from position `from` the reply holds.
    std::size_t available(std::size_t from, std::size_t wanted) const
    {
        return from < bytes_.size() ? std::min(wanted, bytes_.size() - from) : 0;
    }
    const std::uint8_t* from(std::size_t i) const { return bytes_.data() + i; }

private:
    std::span<const std::uint8_t> bytes_;
};

void CopyBytes(const Reply& reply, std::size_t from, std::size_t count, RegisterBuffer& buffer)
{
    count = std::min(reply.available(from, count), RegisterBuffer::Bytes);
    if (count > 0)
        std::memcpy(buffer.data(), reply.from(from), count);
}

} // namespace

ReplyOutcome ProcessReply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> bytes,
    plcdrv::ReplyExtent extent, ErrorCode status, RegisterBuffer& buffer)
{
    const Reply r(bytes);
    if (status != ErrorCode::NoError)
        return {ReplyKind::Error, Low16(platform::errorNumber(status))};
    switch (plcdrv::FitReply(request, bytes, extent)) {
    case plcdrv::ReplyFit::Malformed: return {ReplyKind::Error, ErrorCode::NoValidReply};
    case plcdrv::ReplyFit::Exception: return {ReplyKind::Error, Low16(static_cast<int>(r.at(1)))};
    case plcdrv::ReplyFit::Data: break;
    }
    // The reply carries the request's function code in the layout it asked
    // for; the counts below are the ones the request gave.
    switch (plcdrv::FunctionCodeOf(static_cast<std::uint8_t>(r.at(0)))) {
    case FunctionCode::ReadCoils:
    case FunctionCode::ReadDiscreteInputs:
    case FunctionCode::ReportServerId: CopyBytes(r, 2, r.at(1), buffer); return Read;
    case FunctionCode::ReadHoldingRegisters:
    case FunctionCode::ReadInputRegisters: {
        // Registers arrive big-endian; the buffer keeps them in host order.
        const std::size_t words = r.available(2, r.at(1) & ~1u) / 2;
        if (words == 0)
            return Read;
        const std::uint8_t* wire = r.from(2);
        std::uint8_t* host = buffer.data();
        for (std::size_t i = 0; i < words; ++i) {
            host[2 * i] = wire[2 * i + 1];
            host[2 * i + 1] = wire[2 * i];
        }
        return Read;
    }
    case FunctionCode::ReadExceptionStatus: buffer.setByte(0, static_cast<int>(r.at(1))); return Read;
    case FunctionCode::Diagnostics: CopyBytes(r, 6, r.at(5), buffer); return Read;
    case FunctionCode::ProgramCommand:
        if (r.at(1) == 2 && r.at(2) == fc::ProgramNoEntry[0] && r.at(3) == fc::ProgramNoEntry[1]) {
            buffer.setLongValue(0, 0);
        } else if (r.at(2) == fc::ProgramDisabledPoints) {
            buffer.setWord(0, static_cast<int>((r.at(4) << 8) | r.at(5)));
            buffer.setWord(1, static_cast<int>(r.at(6)));
        }
        return Read;
    case FunctionCode::ReadNetworkTable:
    case FunctionCode::ReadAdapterTable:
        // Table words come in host order, like the buffer.
        CopyBytes(r, 2, 2 * static_cast<std::size_t>(r.at(1)), buffer);
        return Read;
    case FunctionCode::ReadAdapterStatistics: CopyBytes(r, 1, 252, buffer); return Read;
    case FunctionCode::ClearAdapterStatistics: CopyBytes(r, 1, 252, buffer); return Written;
    case FunctionCode::WriteSingleCoil:
    case FunctionCode::WriteSingleRegister:
    case FunctionCode::WriteMultipleCoils:
    case FunctionCode::WriteMultipleRegisters:
    case FunctionCode::AdapterWrite:
    case FunctionCode::WriteNetworkTable:
    case FunctionCode::WriteAdapterTable: return Written;
    default: return Read;
    }
}

} // namespace regaccess
