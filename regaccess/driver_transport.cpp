#include "regaccess/driver_transport.h"

#include "driver/modbus_function.h"
#include "driver/plcdrv.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

namespace regaccess {

namespace {

std::atomic<bool> driverStarted{false};

// Packets of transports destroyed while the driver still held them; kept
// (and reachable) for the life of the process. Controls on several threads
// may be destroyed at once.
void KeepOrphanedPacket(std::unique_ptr<plcdrv::RequestPacket> packet)
{
    static std::mutex mutex;
    static auto* packets = new std::vector<plcdrv::RequestPacket*>;
    std::lock_guard lock(mutex);
    packets->push_back(packet.release());
}

// The packet's PDU fields: the function code and the data that follows it.
std::uint8_t* PduBytes(plcdrv::RequestPacket& packet)
{
    return reinterpret_cast<std::uint8_t*>(&packet) + offsetof(plcdrv::RequestPacket, functionCode);
}

} // namespace

void DriverTransport::startDriver()
{
    if (!driverStarted.exchange(true))
        VexaStart();
}

DriverTransport::DriverTransport(QObject* owner, Completion completion)
    : packet_(std::make_unique<plcdrv::RequestPacket>()), completion_(std::move(completion))
{
    std::memset(packet_.get(), 0, sizeof(plcdrv::RequestPacket));
    window_ = platform::registerWindow(
        owner, [this](unsigned message, std::uintptr_t, std::intptr_t lParam) { onMessage(message, lParam); });
}

DriverTransport::~DriverTransport()
{
    platform::unregisterWindow(window_);
    // The driver still writes the reply of an outstanding request into the
    // packet, and no completion will tell when it is done: the packet is
    // left to it rather than freed under its feet.
    if (outstanding_)
        KeepOrphanedPacket(std::move(packet_));
}

Transport::Sent DriverTransport::send(const OutgoingRequest& request)
{
    plcdrv::RequestPacket& packet = *packet_;
    const std::size_t length = std::min(request.pdu.size(), plcdrv::MaxPduLength);
    packet.notifyWindow = window_;
    std::memcpy(packet.route, request.route.data(), sizeof packet.route);
    packet.requestClass = request.requestClass;
    std::memcpy(PduBytes(packet), request.pdu.data(), length);
    packet.pduLength = static_cast<std::int32_t>(length);
    packet.adapter = static_cast<std::int16_t>(request.adapter);
    if (VexaPut(&packet, static_cast<int>(sizeof(plcdrv::RequestPacket))) == 0)
        return {Handover::Failed, platform::ErrorCode::RequestRefused, {}};
    outstanding_ = true;
    return {Handover::Pending, platform::ErrorCode::NoError, {}};
}

void DriverTransport::onMessage(unsigned message, std::intptr_t status)
{
    if (message != platform::DRIVER_DONE_MESSAGE)
        return;
    outstanding_ = false;
    const plcdrv::RequestPacket& packet = *packet_;
    IncomingReply reply;
    reply.transport = kind();
    reply.adapter = packet.adapter;
    reply.unit = packet.route[0];
    reply.status = platform::toErrorCode(static_cast<std::int32_t>(status));
    // The driver wrote the reply into the packet's PDU fields and checked its
    // length against the frame; how long it was the packet does not say.
    reply.pdu = std::span<const std::uint8_t>(&packet.functionCode, plcdrv::MaxPduLength);
    reply.extent = plcdrv::ReplyExtent::AtLeast;
    // Traced: the function code, then the exception code or the count byte
    // and as many data bytes as it announces, bounded by the packet.
    const bool exception = (packet.functionCode & plcdrv::fc::ExceptionBit) != 0;
    reply.traced =
        reply.pdu.first(exception ? 2 : std::min<std::size_t>(2 + std::size_t(packet.data[0]), plcdrv::MaxPduLength));
    if (completion_)
        completion_(reply);
}

} // namespace regaccess
