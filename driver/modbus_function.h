#pragma once
// Modbus function codes as this system's requests and replies carry them (the
// first PDU byte), and the rule that says how long a reply PDU is. Shared by
// every framing of the driver and by the control's own Modbus TCP client, so
// that a reply is taken or refused by the same measure on every adapter.
// Header-only: part of the driver's interface target.
#include <cstddef>
#include <cstdint>
#include <span>

namespace plcdrv {

// The function code of a request or reply PDU. A reply's code may hold any
// byte (an exception sets bit 7 of the request's), so a value outside the
// enumerators is legal and compares unequal to all of them.
enum class FunctionCode : std::uint8_t {
    // Public Modbus function codes.
    ReadCoils = 0x01,
    ReadDiscreteInputs = 0x02,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleCoil = 0x05,
    WriteSingleRegister = 0x06,
    ReadExceptionStatus = 0x07,
    Diagnostics = 0x08,
    GetCommEventCounter = 0x0B,
    GetCommEventLog = 0x0C,
    WriteMultipleCoils = 0x0F,
    WriteMultipleRegisters = 0x10,
    ReportServerId = 0x11,
    ReadFileRecord = 0x14,
    WriteFileRecord = 0x15,
    MaskWriteRegister = 0x16,
    // Modicon programming command (sub-commands below).
    ProgramCommand = 0x7E,
    // Codes of the Modbus Plus adapter itself; bit 7 is set, yet they carry data.
    AdapterWrite = 0xD0,     // replied to with the code alone
    ReadNetworkTable = 0xD1, // words in host order
    WriteNetworkTable = 0xD6,
    ReadAdapterTable = 0xE0, // words in host order
    WriteAdapterTable = 0xE1,
    ReadAdapterStatistics = 0xE2,
    ClearAdapterStatistics = 0xE3,
};

// The code as the PDU's first byte carries it, and the byte read as a code.
constexpr std::uint8_t ByteOf(FunctionCode code) { return static_cast<std::uint8_t>(code); }
constexpr FunctionCode FunctionCodeOf(std::uint8_t byte) { return static_cast<FunctionCode>(byte); }

namespace fc {

// The ProgramCommand sub-command that reads the disabled coils and inputs,
// and the two bytes (after count 2) of its reply when there is no entry.
constexpr std::uint8_t ProgramDisabledPoints = 0x16;
constexpr std::uint8_t ProgramNoEntry[] = {0x96, 0x0C};

// Diagnostics sub-function 21 and its two operations.
constexpr std::uint16_t DiagModbusPlusStatistics = 0x0015;
constexpr std::uint16_t GetModbusPlusStatistics = 0x0003;
constexpr std::uint16_t ClearModbusPlusStatistics = 0x0004;

// An exception reply echoes the request's code with this bit set.
constexpr std::uint8_t ExceptionBit = 0x80;
// From this code on bit 7 belongs to the code (the adapter's codes above):
// such a reply is data, never an exception. A serial line carries no adapter
// codes, so the serial framings take every code with bit 7 as an exception.
constexpr std::uint8_t FirstNonExceptionCode = ByteOf(FunctionCode::AdapterWrite);

constexpr bool IsExceptionReply(std::uint8_t code)
{
    return (code & ExceptionBit) != 0 && code < FirstNonExceptionCode;
}

// The length a reply PDU (function code first) must have for what its first
// bytes announce: for a read the code, the count byte and that many bytes
// (words for the adapter's table reads), for an exception or the exception
// status two bytes, for a write the echoed address and value, for statistics
// from the Diagnostics code their count at byte 5. A byte the reply does not
// hold reads as 0, so a reply cut short is found too short. 0 when the code
// has no fixed layout.
constexpr std::size_t ReplyPduLength(std::span<const std::uint8_t> pdu)
{
    auto at = [pdu](std::size_t i) -> std::size_t { return i < pdu.size() ? pdu[i] : 0u; };
    const auto code = static_cast<std::uint8_t>(at(0));
    if (IsExceptionReply(code))
        return 2;
    switch (FunctionCodeOf(code)) {
    case FunctionCode::ReadCoils:
    case FunctionCode::ReadDiscreteInputs:
    case FunctionCode::ReadHoldingRegisters:
    case FunctionCode::ReadInputRegisters:
    case FunctionCode::GetCommEventLog:
    case FunctionCode::ReportServerId:
    case FunctionCode::ReadFileRecord:
    case FunctionCode::WriteFileRecord: return 2 + at(1);
    case FunctionCode::WriteSingleCoil:
    case FunctionCode::WriteSingleRegister:
    case FunctionCode::GetCommEventCounter:
    case FunctionCode::WriteMultipleCoils:
    case FunctionCode::WriteMultipleRegisters: return 5;
    case FunctionCode::ReadExceptionStatus: return 2;
    case FunctionCode::MaskWriteRegister: return 7;
    case FunctionCode::Diagnostics: return 6 + at(5);
    case FunctionCode::ReadNetworkTable:
    case FunctionCode::ReadAdapterTable: return 2 + 2 * at(1);
    default: return 0;
    }
}

} // namespace fc
} // namespace plcdrv
