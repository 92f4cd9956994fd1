#include "regaccess/request_builder.h"

#include "driver/modbus_function.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace regaccess {

namespace fc = plcdrv::fc;
using plcdrv::FunctionCode;

namespace {

class PduWriter {
public:
    explicit PduWriter(BuiltRequest& request) : request_(request) { }

    void function(FunctionCode code) { put(plcdrv::ByteOf(code)); }
    void byte(unsigned value) { put(static_cast<std::uint8_t>(value)); }
    void word(unsigned value)
    {
        put(static_cast<std::uint8_t>(value >> 8));
        put(static_cast<std::uint8_t>(value));
    }
    void bytes(const std::uint8_t* from, std::size_t count)
    {
        count = std::min(count, request_.pdu.size() - length_);
        std::memcpy(request_.pdu.data() + length_, from, count);
        length_ += count;
    }
    void finish(std::uint16_t requestClass)
    {
        request_.pduLength = static_cast<int>(length_);
        request_.requestClass = requestClass;
    }

private:
    void put(std::uint8_t value)
    {
        if (length_ < request_.pdu.size())
            request_.pdu[length_++] = value;
    }

    BuiltRequest& request_;
    std::size_t length_ = 0;
};

// The protocol address is one less than the register number, modulo 65536.
unsigned StartAddress(std::int32_t address)
{
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(address) - 1u);
}

std::size_t NonNegative(int count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

} // namespace

BuiltRequest BuildRequest(const RequestParams& params, const RegisterBuffer& buffer)
{
    BuiltRequest request;
    request.size = params.size;
    if (params.route.fieldCount == 0)
        return request;

    PduWriter pdu(request);
    auto limitSize = [&](int limit) {
        request.size = std::min(request.size, limit);
        return request.size;
    };
    const std::uint8_t* data = buffer.bytes().data();
    const int regType = params.regType;

    switch (params.function) {
    case FunctionRead: {
        FunctionCode code{};
        int limit = 0;
        switch (regType) {
        case RegTypeCoils:
            code = FunctionCode::ReadCoils;
            limit = MaxReadBits;
            break;
        case RegTypeInputBits:
            code = FunctionCode::ReadDiscreteInputs;
            limit = MaxReadBits;
            break;
        case RegTypeInputRegs:
            code = FunctionCode::ReadInputRegisters;
            limit = MaxReadRegisters;
            break;
        case RegTypeHoldRegs:
            code = FunctionCode::ReadHoldingRegisters;
            limit = MaxReadRegisters;
            break;
        default: return request;
        }
        pdu.function(code);
        pdu.word(StartAddress(params.address));
        pdu.word(static_cast<unsigned>(limitSize(limit)));
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    }
    case FunctionWrite:
        if (regType == RegTypeCoils && params.size == 1) {
            pdu.function(FunctionCode::WriteSingleCoil);
            pdu.word(StartAddress(params.address));
            pdu.word(buffer.bit(0, 0) ? 0xFF00u : 0x0000u);
            pdu.finish(plcdrv::ModbusRequestClass);
        } else if (regType == RegTypeCoils) {
            const int size = limitSize(MaxWriteCoils);
            const std::size_t byteCount = (NonNegative(size) + 7) / 8;
            pdu.function(FunctionCode::WriteMultipleCoils);
            pdu.word(StartAddress(params.address));
            pdu.word(static_cast<unsigned>(size));
            pdu.byte(static_cast<unsigned>(byteCount));
            pdu.bytes(data, byteCount);
            pdu.finish(plcdrv::ModbusRequestClass);
        } else if (regType == RegTypeHoldRegs) {
            // Holding registers always go with function 16, a single one too.
            const int size = limitSize(MaxWriteRegisters);
            const std::size_t words = NonNegative(size);
            pdu.function(FunctionCode::WriteMultipleRegisters);
            pdu.word(StartAddress(params.address));
            pdu.word(static_cast<unsigned>(size));
            pdu.byte(static_cast<unsigned>(2 * words));
            for (std::size_t i = 0; i < words; ++i)
                pdu.word(static_cast<std::uint16_t>(buffer.word(static_cast<int>(i))));
            pdu.finish(plcdrv::ModbusRequestClass);
        }
        break;
    case FunctionExceptionStatus:
        pdu.function(FunctionCode::ReadExceptionStatus);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case FunctionSlaveId:
        pdu.function(FunctionCode::ReportServerId);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case FunctionDisabledPoints:
        if (regType != RegTypeCoils && regType != RegTypeInputBits)
            break;
        // Four bytes follow: the sub-command, the RegType table, the point number.
        pdu.function(FunctionCode::ProgramCommand);
        pdu.byte(4);
        pdu.byte(fc::ProgramDisabledPoints);
        pdu.byte(static_cast<unsigned>(params.regType));
        pdu.word(static_cast<std::uint16_t>(params.address));
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case FunctionAdapterStatistics:
        pdu.function(FunctionCode::ReadAdapterStatistics);
        pdu.finish(plcdrv::AdapterStatisticsClass);
        break;
    case FunctionClearAdapterStatistics:
        pdu.function(FunctionCode::ClearAdapterStatistics);
        pdu.finish(plcdrv::AdapterStatisticsClass);
        break;
    case FunctionReadAdapterTable:
        pdu.function(FunctionCode::ReadAdapterTable);
        pdu.byte(static_cast<unsigned>(limitSize(MaxAdapterTableWords)));
        pdu.byte(StartAddress(params.address));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    case FunctionWriteAdapterTable: {
        const int size = limitSize(MaxAdapterTableWords);
        pdu.function(FunctionCode::WriteAdapterTable);
        pdu.byte(static_cast<unsigned>(size));
        pdu.byte(StartAddress(params.address));
        // Table words travel in host order, as they lie in the buffer.
        pdu.bytes(data, 2 * NonNegative(size));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    }
    case FunctionNetworkStatistics:
        pdu.function(FunctionCode::Diagnostics);
        pdu.word(fc::DiagModbusPlusStatistics);
        pdu.word(fc::GetModbusPlusStatistics);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case FunctionClearNetworkStatistics:
        pdu.function(FunctionCode::Diagnostics);
        pdu.word(fc::DiagModbusPlusStatistics);
        pdu.word(fc::ClearModbusPlusStatistics);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case FunctionReadNetworkTable:
        pdu.function(FunctionCode::ReadNetworkTable);
        pdu.byte(static_cast<unsigned>(limitSize(MaxNetworkTableWords)));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    case FunctionWriteNetworkTable: {
        const int size = limitSize(MaxNetworkTableWords);
        pdu.function(FunctionCode::WriteNetworkTable);
        pdu.byte(static_cast<unsigned>(size));
        pdu.bytes(data, 2 * NonNegative(size));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    }
    default: break;
    }
    return request;
}

} // namespace regaccess
