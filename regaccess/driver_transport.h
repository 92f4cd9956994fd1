#pragma once
// PLCDRV as a transport. A request goes into a 280-byte packet that VexaPut
// queues on the adapter's worker; the driver writes the reply into the same
// packet and posts DRIVER_DONE_MESSAGE, with the completion status, to this
// transport's window, whose handler hands the packet's reply on.
//
// Thread safety: none; the transport, its window and the completion belong
// to the thread that created them, which must run a Qt event loop.
#include "regaccess/transport.h"

#include "driver/request_packet.h"
#include "platform/window_messages.h"

#include <functional>
#include <memory>

class QObject;

namespace regaccess {

class DriverTransport final : public Transport {
public:
    // Runs for every DRIVER_DONE_MESSAGE the window receives.
    using Completion = std::function<void(const IncomingReply& reply)>;

    // Starts PLCDRV once per process; nothing ever stops it.
    static void startDriver();

    // The window lives on `owner`'s thread and dies with the transport.
    DriverTransport(QObject* owner, Completion completion);
    // A packet the driver still holds is left to it (see the .cpp).
    ~DriverTransport() override;
    DriverTransport(const DriverTransport&) = delete;
    DriverTransport& operator=(const DriverTransport&) = delete;

    TransportKind kind() const override { return TransportKind::Driver; }
    // Pending when the driver queued the packet, else Failed with
    // RequestRefused (no such running adapter).
    Sent send(const OutgoingRequest& request) override;

    // The window that receives the driver's completion message.
    platform::WindowHandle window() const { return window_; }

private:
    void onMessage(unsigned message, std::intptr_t status);

    // Separate allocation: a packet the driver still holds must outlive the
    // transport.
    std::unique_ptr<plcdrv::RequestPacket> packet_;
    platform::WindowHandle window_ = 0;
    bool outstanding_ = false; // queued, and its completion not yet received
    Completion completion_;
};

} // namespace regaccess
