#include "platform/failure_text.h"

#include "platform/socket_errors.h"

namespace platform {

namespace {

struct FailureText {
    int code;
    const char* words;
    const char* window; // nullptr: the window shows the number
};

constexpr FailureText kTable[] = {
    // The control and the driver.
    {-5, "request refused by the adapter or not built", nullptr},
    {-4, "host did not respond (connection reset twice)", "Host did not respond"},
    {-3, "device did not respond", "PLC did not respond"},
    {-2, "cannot build the protocol packet", "Unable to create PLC protocol packet"},
    {-1, "adapter not available (Modbus Plus card not open)", "Adaptor Invalid"},
    // Modbus exception codes of the device.
    {1, "illegal function", "Illegal Function"},
    {2, "illegal data address", "Illegal Data Address"},
    {3, "illegal data value", "Illegal Data Value"},
    {4, "device failure", nullptr},
    {5, "acknowledged, still processing", nullptr},
    {6, "device busy", "Slave Device is busy"},
    {8, "memory parity error", nullptr},
    {10, "gateway path unavailable", nullptr},
    {11, "gateway target did not respond", nullptr},
    {18, "invalid node address", "Invalid Node Address"},
    // Socket errors.
    {WSAEINTR, "interrupted", nullptr},
    {WSAEBADF, "bad socket handle", nullptr},
    {WSAEACCES, "permission denied", nullptr},
    {WSAEFAULT, "bad address", nullptr},
    // The control's own use of 10022: a host text that is no address and
    // resolves to none.
    {WSAEINVAL, "invalid argument (host cannot be resolved)", nullptr},
    {WSAEMFILE, "too many open sockets", nullptr},
    {WSAEWOULDBLOCK, "operation would block", nullptr},
    {WSAEINPROGRESS, "operation in progress", nullptr},
    {WSAEALREADY, "operation already in progress", nullptr},
    {WSAENOTSOCK, "not a socket", nullptr},
    {WSAEMSGSIZE, "message too long", nullptr},
    {WSAEADDRINUSE, "address in use", nullptr},
    {WSAEADDRNOTAVAIL, "address not available", nullptr},
    {WSAENETDOWN, "network is down", nullptr},
    {WSAENETUNREACH, "network unreachable", nullptr},
    {WSAENETRESET, "connection dropped by a network reset", nullptr},
    {WSAECONNABORTED, "connection aborted", nullptr},
    {WSAECONNRESET, "connection reset", nullptr},
    {WSAENOBUFS, "no buffer space", nullptr},
    {WSAEISCONN, "already connected", nullptr},
    {WSAENOTCONN, "not connected", nullptr},
    {WSAESHUTDOWN, "connection shut down", nullptr},
    {WSAETIMEDOUT, "timed out", nullptr},
    {WSAECONNREFUSED, "connection refused", nullptr},
    {WSAEHOSTDOWN, "host is down", nullptr},
    {WSAEHOSTUNREACH, "no route to host", nullptr},
    {WSAHOST_NOT_FOUND, "host not found", nullptr},
};

const FailureText* find(int code)
{
    for (const FailureText& entry : kTable) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString failureWords(int code)
{
    const FailureText* entry = find(code);
    return entry ? QString::fromLatin1(entry->words) : QStringLiteral("error %1").arg(code);
}

QString windowFailureText(int code)
{
    const FailureText* entry = find(code);
    return entry && entry->window ? QString::fromLatin1(entry->window) : QString();
}

} // namespace platform
