#include "platform/error_code.h"

#include <iterator>

namespace platform {

namespace {

struct FailureText {
    ErrorCode code;
    const char* words;
    const char* window; // nullptr: the window shows the number
};

constexpr FailureText kTable[] = {
    // The control and the driver.
    {ErrorCode::RequestRefused, "request refused by the adapter or not built", nullptr},
    {ErrorCode::HostDidNotRespond, "host did not respond (connection reset twice)", "Host did not respond"},
    {ErrorCode::NoValidReply, "device did not respond, or its reply did not match the request", "PLC did not respond"},
    {ErrorCode::PacketNotBuilt, "cannot build the protocol packet", "Unable to create PLC protocol packet"},
    {ErrorCode::AdapterInvalid, "adapter not available (Modbus Plus card not open)", "Adaptor Invalid"},
    // Modbus exception codes of the device.
    {ErrorCode::IllegalFunction, "illegal function", "Illegal Function"},
    {ErrorCode::IllegalDataAddress, "illegal data address", "Illegal Data Address"},
    {ErrorCode::IllegalDataValue, "illegal data value", "Illegal Data Value"},
    {ErrorCode::DeviceFailure, "device failure", nullptr},
    {ErrorCode::Acknowledge, "acknowledged, still processing", nullptr},
    {ErrorCode::DeviceBusy, "device busy", "Slave Device is busy"},
    {ErrorCode::MemoryParityError, "memory parity error", nullptr},
    {ErrorCode::GatewayPathUnavailable, "gateway path unavailable", nullptr},
    {ErrorCode::GatewayTargetNoResponse, "gateway target did not respond", nullptr},
    {ErrorCode::InvalidNodeAddress, "invalid node address", "Invalid Node Address"},
    // Socket errors.
    {ErrorCode{WSAEINTR}, "interrupted", nullptr},
    {ErrorCode{WSAEBADF}, "bad socket handle", nullptr},
    {ErrorCode{WSAEACCES}, "permission denied", nullptr},
    {ErrorCode{WSAEFAULT}, "bad address", nullptr},
    // The control's own use of 10022: a host text that is no address and
    // resolves to none.
    {ErrorCode::UnresolvedHost, "invalid argument (host cannot be resolved)", nullptr},
    {ErrorCode{WSAEMFILE}, "too many open sockets", nullptr},
    {ErrorCode{WSAEWOULDBLOCK}, "operation would block", nullptr},
    {ErrorCode{WSAEINPROGRESS}, "operation in progress", nullptr},
    {ErrorCode{WSAEALREADY}, "operation already in progress", nullptr},
    {ErrorCode{WSAENOTSOCK}, "not a socket", nullptr},
    {ErrorCode{WSAEMSGSIZE}, "message too long", nullptr},
    {ErrorCode{WSAEADDRINUSE}, "address in use", nullptr},
    {ErrorCode{WSAEADDRNOTAVAIL}, "address not available", nullptr},
    {ErrorCode{WSAENETDOWN}, "network is down", nullptr},
    {ErrorCode{WSAENETUNREACH}, "network unreachable", nullptr},
    {ErrorCode{WSAENETRESET}, "connection dropped by a network reset", nullptr},
    {ErrorCode{WSAECONNABORTED}, "connection aborted", nullptr},
    {ErrorCode::ConnectionReset, "connection reset", nullptr},
    {ErrorCode::NoBufferSpace, "no buffer space", nullptr},
    {ErrorCode{WSAEISCONN}, "already connected", nullptr},
    {ErrorCode{WSAENOTCONN}, "not connected", nullptr},
    {ErrorCode{WSAESHUTDOWN}, "connection shut down", nullptr},
    {ErrorCode::TimedOut, "timed out", nullptr},
    {ErrorCode::ConnectionRefused, "connection refused", nullptr},
    {ErrorCode{WSAEHOSTDOWN}, "host is down", nullptr},
    {ErrorCode{WSAEHOSTUNREACH}, "no route to host", nullptr},
    {ErrorCode{WSAHOST_NOT_FOUND}, "host not found", nullptr},
};

// One text per number: a second entry for a number would never be found.
constexpr bool CodesAreUnique()
{
    for (std::size_t i = 0; i < std::size(kTable); ++i)
        for (std::size_t j = i + 1; j < std::size(kTable); ++j)
            if (kTable[i].code == kTable[j].code)
                return false;
    return true;
}
static_assert(CodesAreUnique());

const FailureText* Find(ErrorCode code)
{
    for (const FailureText& entry : kTable) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString errorText(ErrorCode code, ErrorWording wording)
{
    const FailureText* entry = Find(code);
    if (wording == ErrorWording::Window)
        return entry && entry->window ? QString::fromLatin1(entry->window) : QString();
    return entry ? QString::fromLatin1(entry->words) : QStringLiteral("error %1").arg(errorNumber(code));
}

} // namespace platform
