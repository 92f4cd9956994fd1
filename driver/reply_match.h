#pragma once
// Whether a reply answers the request it came for: one rule for the control's
// Modbus TCP client, the control's reply processing and every framing of the
// driver, so that a reply is taken, taken as an exception or refused alike on
// every adapter.
//
// A reply is data when it carries the request's own function code in the
// layout that request asks for: a read with the byte count its quantity
// gives, a write echoing the request's address and quantity or value. It is
// an exception when it carries the request's code with bit 7 set and a
// nonzero exception code. Anything else (another function code, a write's
// echo to a read, a count other than the one asked for, a length other than
// the count gives) is malformed: it is not this request's reply, and nothing
// of it may reach a host as data.
// Header-only: part of the driver's interface target.
#include "driver/modbus_function.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace plcdrv {

enum class ReplyFit { Data, Exception, Malformed };

// How far a reply's bytes are known. Exact: the reply is every byte given
// (Modbus TCP, RTU and ASCII frames carry their length). AtLeast: the reply
// starts the bytes given and its end is not known (mpbridge and the request
// packet do not tell it), so only what the layout needs is looked at.
enum class ReplyExtent { Exact, AtLeast };

namespace replymatch {

constexpr unsigned At(std::span<const std::uint8_t> bytes, std::size_t i) { return i < bytes.size() ? bytes[i] : 0u; }

constexpr unsigned Word(std::span<const std::uint8_t> bytes, std::size_t i)
{
    return (At(bytes, i) << 8) | At(bytes, i + 1);
}

constexpr bool Holds(std::span<const std::uint8_t> reply, std::size_t length, ReplyExtent extent)
{
    return extent == ReplyExtent::Exact ? reply.size() == length : reply.size() >= length;
}

// The request's bytes 1 … 4 (an address and a quantity, value or
// sub-function) come back unchanged.
constexpr bool Echoes(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply)
{
    for (std::size_t i = 1; i <= 4; ++i)
        if (i >= request.size() || i >= reply.size() || request[i] != reply[i])
            return false;
    return true;
}

} // namespace replymatch

// `request` is the PDU as sent, function code first; `reply` the reply PDU.
constexpr ReplyFit FitReply(
    std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply, ReplyExtent extent)
{
    using namespace replymatch;
    if (request.empty() || reply.empty())
        return ReplyFit::Malformed;
    const std::uint8_t code = request[0];
    const auto bad = ReplyFit::Malformed;
    // Codes from 0x80 on are the Modbus Plus adapter's own and have no
    // exception form.
    if (code < fc::ExceptionBit && reply[0] == (code | fc::ExceptionBit))
        return Holds(reply, 2, extent) && reply[1] != 0 ? ReplyFit::Exception : bad;
    if (reply[0] != code)
        return bad;
    const auto data = [&](bool fits) { return fits ? ReplyFit::Data : bad; };
    // A count byte at 1 that must be `count`, followed by that many bytes.
    const auto counted = [&](std::size_t count) {
        return data(reply.size() >= 2 && reply[1] == count && Holds(reply, 2 + count, extent));
    };

    switch (FunctionCodeOf(code)) {
    case FunctionCode::ReadCoils:
    case FunctionCode::ReadDiscreteInputs: return counted((Word(request, 3) + 7) / 8);
    case FunctionCode::ReadHoldingRegisters:
    case FunctionCode::ReadInputRegisters: return counted(2 * std::size_t{Word(request, 3)});
    case FunctionCode::WriteSingleCoil:
    case FunctionCode::WriteSingleRegister:
    case FunctionCode::WriteMultipleCoils:
    case FunctionCode::WriteMultipleRegisters: return data(Echoes(request, reply) && Holds(reply, 5, extent));
    case FunctionCode::ReadExceptionStatus: return data(Holds(reply, 2, extent));
    case FunctionCode::Diagnostics:
        // The sub-function and its data come back; statistics follow with
        // their count at byte 5.
        return data(Echoes(request, reply) && Holds(reply, fc::ReplyPduLength(reply), extent));
    case FunctionCode::ProgramCommand: {
        // Either the table entry asked for (sub-command, table, point) or
        // "no entry".
        const std::size_t count = At(reply, 1);
        const bool entry = count >= 5 && At(reply, 2) == fc::ProgramDisabledPoints;
        const bool none = count == 2 && At(reply, 2) == fc::ProgramNoEntry[0] && At(reply, 3) == fc::ProgramNoEntry[1];
        return data((entry || none) && Holds(reply, 2 + count, extent));
    }
    case FunctionCode::ReadAdapterTable:
    case FunctionCode::ReadNetworkTable:
        // The count is in words, as the request asked for them.
        return data(reply.size() >= 2 && reply[1] == At(request, 1) && Holds(reply, 2 + 2 * At(request, 1), extent));
    default:
        // A code without a layout of its own here: what the reply announces
        // of itself has to hold.
        if (const std::size_t length = fc::ReplyPduLength(reply); length != 0)
            return data(Holds(reply, length, extent));
        return ReplyFit::Data;
    }
}

} // namespace plcdrv
