#include "regaccess/request_builder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace regaccess {

namespace {

class PduWriter {
public:
    explicit PduWriter(BuiltRequest& request) : request_(request) {}

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
unsigned startAddress(std::int32_t address)
{
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(address) - 1u);
}

std::size_t nonNegative(int count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

} // namespace

BuiltRequest buildRequest(const RequestParams& params, const RegisterBuffer& buffer)
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
    const auto regType = static_cast<RegType>(params.regType);

    switch (params.function) {
    case 0: { // read
        unsigned code = 0;
        int limit = 0;
        switch (regType) {
        case RegType::Coils: code = 1; limit = MaxReadBits; break;
        case RegType::InputBits: code = 2; limit = MaxReadBits; break;
        case RegType::InputRegs: code = 4; limit = MaxReadRegisters; break;
        case RegType::HoldRegs: code = 3; limit = MaxReadRegisters; break;
        default: return request;
        }
        pdu.byte(code);
        pdu.word(startAddress(params.address));
        pdu.word(static_cast<unsigned>(limitSize(limit)));
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    }
    case 1: // write
        if (regType == RegType::Coils && params.size == 1) {
            pdu.byte(5);
            pdu.word(startAddress(params.address));
            pdu.word(buffer.bit(0, 0) ? 0xFF00u : 0x0000u);
            pdu.finish(plcdrv::ModbusRequestClass);
        } else if (regType == RegType::Coils) {
            const int size = limitSize(MaxWriteCoils);
            const std::size_t byteCount = (nonNegative(size) + 7) / 8;
            pdu.byte(15);
            pdu.word(startAddress(params.address));
            pdu.word(static_cast<unsigned>(size));
            pdu.byte(static_cast<unsigned>(byteCount));
            pdu.bytes(data, byteCount);
            pdu.finish(plcdrv::ModbusRequestClass);
        } else if (regType == RegType::HoldRegs) {
            // Holding registers always go with function 16, a single one too.
            const int size = limitSize(MaxWriteRegisters);
            const std::size_t words = nonNegative(size);
            pdu.byte(16);
            pdu.word(startAddress(params.address));
            pdu.word(static_cast<unsigned>(size));
            pdu.byte(static_cast<unsigned>(2 * words));
            for (std::size_t i = 0; i < words; ++i)
                pdu.word(static_cast<std::uint16_t>(buffer.word(static_cast<int>(i))));
            pdu.finish(plcdrv::ModbusRequestClass);
        }
        break;
    case 2: // exception status
        pdu.byte(7);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case 3: // slave ID
        pdu.byte(17);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case 4: // disabled coils and inputs
        if (regType != RegType::Coils && regType != RegType::InputBits)
            break;
        pdu.byte(126);
        pdu.byte(4);
        pdu.byte(22);
        pdu.byte(static_cast<unsigned>(params.regType));
        pdu.word(static_cast<std::uint16_t>(params.address));
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case 5:
        pdu.byte(226);
        pdu.finish(plcdrv::AdapterStatisticsClass);
        break;
    case 6:
        pdu.byte(227);
        pdu.finish(plcdrv::AdapterStatisticsClass);
        break;
    case 7:
        pdu.byte(224);
        pdu.byte(static_cast<unsigned>(limitSize(MaxAdapterTableWords)));
        pdu.byte(startAddress(params.address));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    case 8: {
        const int size = limitSize(MaxAdapterTableWords);
        pdu.byte(225);
        pdu.byte(static_cast<unsigned>(size));
        pdu.byte(startAddress(params.address));
        // Table words travel in host order, as they lie in the buffer.
        pdu.bytes(data, 2 * nonNegative(size));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    }
    case 9:
        pdu.byte(8);
        pdu.word(0x0015);
        pdu.word(0x0003);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case 10:
        pdu.byte(8);
        pdu.word(0x0015);
        pdu.word(0x0004);
        pdu.finish(plcdrv::ModbusRequestClass);
        break;
    case 11:
        pdu.byte(209);
        pdu.byte(static_cast<unsigned>(limitSize(MaxNetworkTableWords)));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    case 12: {
        const int size = limitSize(MaxNetworkTableWords);
        pdu.byte(214);
        pdu.byte(static_cast<unsigned>(size));
        pdu.bytes(data, 2 * nonNegative(size));
        pdu.finish(plcdrv::GlobalMemoryClass);
        break;
    }
    default:
        break;
    }
    return request;
}

} // namespace regaccess
