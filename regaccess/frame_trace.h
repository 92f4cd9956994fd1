#pragma once
// A process-wide observer of the Modbus requests and replies of every
// control, for diagnostic tools (chronel-cli --trace prints them).
//
// Requests are reported as the control built them: the unit (slave) address
// and the PDU from the function code on. Replies are reported as the
// transport hands them back: over Modbus TCP the exact reply PDU; over a
// driver adapter the packet's reply field, which holds the function code,
// the count byte and the data (or the exception code). Failures without a
// reply (socket errors, a request that could not be built, a driver status
// such as -3) are reported with the code OnErrorEvent carries.
//
// Thread safety: the observer runs on the thread of the control whose
// exchange it reports. Install it before the first control is created and
// keep it while controls run; installing is not synchronised with requests.
#include "regaccess/plctag_export.h"
#include "regaccess/transport_choice.h"

#include <cstdint>
#include <functional>
#include <span>

namespace regaccess {

enum class TraceDirection { Request, Reply, Failure };

struct TraceFrame {
    TraceDirection direction = TraceDirection::Request;
    int adapter = 1; // 1 … 8, the n of "Adapter.Object.%d"
    TransportKind transport = TransportKind::Driver;
    std::uint8_t unit = 0;             // first route byte
    std::span<const std::uint8_t> pdu; // empty for a failure
    int errorCode = 0;                 // failure only
};

using FrameObserver = std::function<void(const TraceFrame&)>;

// Replaces the observer; an empty one switches tracing off.
PLCTAG_EXPORT void setFrameObserver(FrameObserver observer);

} // namespace regaccess
