#pragma once
// Modbus function codes as this system's requests and replies carry them (the
// first PDU byte), and the rule that says how long a reply PDU is. Shared by
// every framing of the driver and by the control's own Modbus TCP client, so
// that a reply is taken or refused by the same measure on every adapter.
// Header-only: part of the driver's interface target.
#include <cstddef>
#include <cstdint>
#include <span>

namespace plcdrv::fc {

// Public Modbus function codes.
constexpr std::uint8_t ReadCoils = 0x01;
constexpr std::uint8_t ReadDiscreteInputs = 0x02;
constexpr std::uint8_t ReadHoldingRegisters = 0x03;
constexpr std::uint8_t ReadInputRegisters = 0x04;
constexpr std::uint8_t WriteSingleCoil = 0x05;
constexpr std::uint8_t WriteSingleRegister = 0x06;
constexpr std::uint8_t ReadExceptionStatus = 0x07;
constexpr std::uint8_t Diagnostics = 0x08;
constexpr std::uint8_t GetCommEventCounter = 0x0B;
constexpr std::uint8_t GetCommEventLog = 0x0C;
constexpr std::uint8_t WriteMultipleCoils = 0x0F;
constexpr std::uint8_t WriteMultipleRegisters = 0x10;
constexpr std::uint8_t ReportServerId = 0x11;
constexpr std::uint8_t ReadFileRecord = 0x14;
constexpr std::uint8_t WriteFileRecord = 0x15;
constexpr std::uint8_t MaskWriteRegister = 0x16;
// Modicon programming command, and its sub-command that reads the disabled
// coils and inputs.
constexpr std::uint8_t ProgramCommand = 0x7E;
constexpr std::uint8_t ProgramDisabledPoints = 0x16;

// Codes of the Modbus Plus adapter itself; bit 7 is set, yet they carry data.
constexpr std::uint8_t AdapterWrite = 0xD0;     // replied to with the code alone
constexpr std::uint8_t ReadNetworkTable = 0xD1; // words in host order
constexpr std::uint8_t WriteNetworkTable = 0xD6;
constexpr std::uint8_t ReadAdapterTable = 0xE0; // words in host order
constexpr std::uint8_t WriteAdapterTable = 0xE1;
constexpr std::uint8_t ReadAdapterStatistics = 0xE2;
constexpr std::uint8_t ClearAdapterStatistics = 0xE3;

// Diagnostics sub-function 21 and its two operations.
constexpr std::uint16_t DiagModbusPlusStatistics = 0x0015;
constexpr std::uint16_t GetModbusPlusStatistics = 0x0003;
constexpr std::uint16_t ClearModbusPlusStatistics = 0x0004;

// An exception reply echoes the request's code with this bit set.
constexpr std::uint8_t ExceptionBit = 0x80;
// From this code on bit 7 belongs to the code (the adapter's codes above):
// such a reply is data, never an exception. A serial line carries no adapter
// codes, so the serial framings take every code with bit 7 as an exception.
constexpr std::uint8_t FirstNonExceptionCode = 0xD0;

constexpr bool isExceptionReply(std::uint8_t code)
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
constexpr std::size_t replyPduLength(std::span<const std::uint8_t> pdu)
{
    auto at = [pdu](std::size_t i) -> std::size_t { return i < pdu.size() ? pdu[i] : 0u; };
    const auto code = static_cast<std::uint8_t>(at(0));
    if (isExceptionReply(code))
        return 2;
    switch (code) {
    case ReadCoils:
    case ReadDiscreteInputs:
    case ReadHoldingRegisters:
    case ReadInputRegisters:
    case GetCommEventLog:
    case ReportServerId:
    case ReadFileRecord:
    case WriteFileRecord: return 2 + at(1);
    case WriteSingleCoil:
    case WriteSingleRegister:
    case GetCommEventCounter:
    case WriteMultipleCoils:
    case WriteMultipleRegisters: return 5;
    case ReadExceptionStatus: return 2;
    case MaskWriteRegister: return 7;
    case Diagnostics: return 6 + at(5);
    case ReadNetworkTable:
    case ReadAdapterTable: return 2 + 2 * at(1);
    default: return 0;
    }
}

} // namespace plcdrv::fc
