#pragma once
// The stand-in MBX driver: a libmbxapi.so that serves the MBX entry points
// without a Modbus Plus card. Its devices come from the file named by the
// environment variable MBXSIM_CONFIG, re-read whenever a card or an
// enumeration is opened:
//
//   # comment
//   [Device 3]
//   Physical=1                 (0 makes a logical device)
//   Protocol=Modbus Plus
//   Card=SA85 stand-in
//   Name=Bench Card
//   Description=Chronel test bench
//   Endpoint=127.0.0.1:1502    (Modbus TCP server that answers for this card)
//
// An exchange on a card sends the request protocol data unit to its endpoint
// as one Modbus TCP request, with the first routing byte as unit identifier,
// and keeps the reply protocol data unit for MbxReadMpReply.
//
// Thread safety: every entry point may be called from any thread; one lock
// inside serialises them.
#include <cstdint>

namespace mbxsim {

// The stand-in's error numbers (0 is success, as for every MBX call).
enum Error : std::int32_t {
    BadHandle = 1,       // no such card, path or enumeration
    BadArgument = 2,     // null pointer or length out of range
    NoConfiguration = 3, // MBXSIM_CONFIG unset or unreadable
    NoSuchDevice = 4,    // the configuration has no device with that number
    EndOfList = 5,       // enumeration has no further device
    ConnectFailed = 6,   // the endpoint could not be reached
    Timeout = 7,         // no reply within the time-out
    LinkBroken = 8,      // the connection failed or the reply was malformed
    NoReplyPending = 9,  // MbxReadMpReply without a successful write before it
    BufferTooSmall = 10, // the reply does not fit the caller's buffer
};

// Time-out used when the caller passes zero or a negative value.
constexpr std::int32_t kDefaultTimeoutMs = 5000;

} // namespace mbxsim

// For tests: how often the entry point `name` was called since load. Not part
// of the MBX interface; looked up with dlsym.
extern "C" __attribute__((visibility("default"))) int mbxsim_call_count(const char* name);
