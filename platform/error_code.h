#pragma once
// The failure codes of the control's ErrorCode property and OnErrorEvent, and
// their texts: one home for every part of the system that reports them (the
// control, the driver, the configurator window and chronel-cli).
//
// One number space holds three kinds of failure, told apart by their range:
//  - the control's and the driver's own codes, negative (-5 … -1);
//  - Modbus exception codes the device replied with, 1 … 255;
//  - socket errors of the control's Modbus TCP client, in the Windows socket
//    numbering (10000 and up, see socket_errors.h).
// ErrorCode names the codes the system itself raises or tells apart; any other
// device exception or socket number travels in it unchanged, so a value
// outside the enumerators is legal. Hosts see the plain number.
#include "platform/socket_errors.h"

#include <QString>

namespace platform {

enum class ErrorCode : int {
    NoError = 0,

    // -5, "request refused": nothing went out. Either the properties describe
    // no request this control can build, or PLCDRV did not queue the packet
    // (no such running adapter); hosts and the configurator's hint
    // ("Requests are refused (error -5)") treat both alike.
    RequestRefused = -5,
    // The Modbus TCP connection was reset again on the retry.
    HostDidNotRespond = -4,
    // -3, "no valid reply", on every adapter and on Modbus TCP alike: nothing
    // complete in time, a CRC or LRC that fails, or a reply that is not this
    // request's (another function code, a count, length, echo, transaction,
    // protocol or unit identifier that does not match; plcdrv::fitReply says
    // what matches), of which nothing is taken. Hosts and the configurator
    // have always taken -3 as "the device gave nothing usable".
    NoValidReply = -3,
    // Codes of the Modbus Plus interface, passed on as it returns them.
    PacketNotBuilt = -2,
    AdapterInvalid = -1,

    // Modbus exception codes (the reply's function code with bit 7 set).
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    DeviceFailure = 4,
    Acknowledge = 5,
    DeviceBusy = 6,
    MemoryParityError = 8,
    GatewayPathUnavailable = 10,
    GatewayTargetNoResponse = 11,
    InvalidNodeAddress = 18,

    // Socket errors the control's TCP client raises by name; errno values
    // it meets map to the rest of socket_errors.h.
    // A host text that is no address and resolves to none (also what the
    // configurator's stop host produces).
    UnresolvedHost = WSAEINVAL,
    NoBufferSpace = WSAENOBUFS,
    ConnectionReset = WSAECONNRESET,
    TimedOut = WSAETIMEDOUT,
    ConnectionRefused = WSAECONNREFUSED,
};

enum class ErrorKind {
    None,            // 0
    Control,         // the control's or the driver's own code (negative)
    DeviceException, // a Modbus exception code from the device
    Socket,          // a socket error of the Modbus TCP client
};

// The number as hosts see it (ErrorCode property, OnErrorEvent) and back.
constexpr int errorNumber(ErrorCode code) { return static_cast<int>(code); }
constexpr ErrorCode toErrorCode(int number) { return static_cast<ErrorCode>(number); }

constexpr ErrorKind errorKind(ErrorCode code)
{
    const int n = errorNumber(code);
    if (n == 0)
        return ErrorKind::None;
    if (n < 0)
        return ErrorKind::Control;
    if (n < 10000)
        return ErrorKind::DeviceException;
    return ErrorKind::Socket;
}

enum class ErrorWording {
    // Plain words for a command line or log: "connection refused",
    // "illegal data address"; "error N" for a code without a text.
    Plain,
    // The configurator window's wording after "Communications error - "
    // ("Illegal Function"), kept exactly as the window shows it; empty where
    // the window shows the number instead.
    Window,
};

// Like modbus_strerror: the one text of every code, in either wording.
QString errorText(ErrorCode code, ErrorWording wording = ErrorWording::Plain);
inline QString errorText(int code, ErrorWording wording = ErrorWording::Plain)
{
    return errorText(toErrorCode(code), wording);
}

} // namespace platform
