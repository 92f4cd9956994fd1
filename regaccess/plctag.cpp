#include "regaccess/plctag.h"

#include "regaccess/adapter_selection.h"
#include "regaccess/control_site.h"
#include "regaccess/frame_trace.h"
#include "regaccess/reply_processor.h"
#include "regaccess/request_builder.h"
#include "regaccess/route_path.h"

#include "driver/plcdrv.h"
#include "platform/message_box.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace regaccess {

namespace {

// PLCDRV is started once per process, by the first control created in user
// mode; nothing ever stops it.
std::atomic<bool> driverStarted{false};

// Packets of controls destroyed while the driver still held them; kept
// (and reachable) for the life of the process.
std::vector<plcdrv::RequestPacket*>& orphanedPackets()
{
    static auto* packets = new std::vector<plcdrv::RequestPacket*>;
    return *packets;
}

int low16(int value) { return static_cast<std::int16_t>(value); }

std::uint8_t* pduBytes(plcdrv::RequestPacket& packet)
{
    return reinterpret_cast<std::uint8_t*>(&packet) + offsetof(plcdrv::RequestPacket, functionCode);
}

} // namespace

Plctag::Plctag(QObject* parent, ControlSite* site)
    : QObject(parent), site_(site), packet_(std::make_unique<plcdrv::RequestPacket>())
{
    std::memset(packet_.get(), 0, sizeof(plcdrv::RequestPacket));
    route_ = parseRoutePath("1.0.0.0.0");
    window_ = platform::registerWindow(this, [this](unsigned message, std::uintptr_t, std::intptr_t lParam) {
        onWindowMessage(message, lParam);
    });
    connect(&pollTimer_, &QTimer::timeout, this, [this] { Trigger(); });
    if (userMode() && !driverStarted.exchange(true))
        VexaStart();
}

Plctag::~Plctag()
{
    platform::unregisterWindow(window_);
    pollTimer_.stop();
    pollInterval_ = 0;
    watchPoints_.clear();
    // The driver still writes the reply of an outstanding request into the
    // packet, and no completion will tell when it is done: the packet is
    // left to it rather than freed under its feet.
    if (busy_)
        orphanedPackets().push_back(packet_.release());
    busy_ = false;
}

ControlSite* Plctag::site() const { return site_.data(); }
bool Plctag::userMode() const { return site_ ? site_->userMode() : true; }
bool Plctag::enabled() const { return site_ ? site_->enabled() : true; }

void Plctag::setHost(const QString& host)
{
    host_ = host;
    hostText_ = host.toStdString();
    markModified();
}
void Plctag::setAdapter(int adapter) { adapter_ = std::min(low16(adapter), 7); markModified(); }
void Plctag::setTimeToLive(int ttl) { timeToLive_ = low16(ttl); markModified(); }
void Plctag::setPort(int port) { port_ = low16(port); markModified(); }
void Plctag::setAddress(qint32 address) { address_ = address; markModified(); }
void Plctag::setRegType(int regType) { regType_ = low16(regType); markModified(); }
void Plctag::setFunction(int function) { function_ = low16(function); markModified(); }
void Plctag::setRoutePath(const QString& routePath)
{
    routePath_ = routePath;
    const QByteArray text = routePath.toLatin1();
    route_ = parseRoutePath(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    markModified();
}
void Plctag::setSize(int size) { size_ = low16(size); markModified(); }
void Plctag::setSlaveReg(qint32 slaveReg) { slaveReg_ = slaveReg; markModified(); }

qint32 Plctag::DataPtr() const
{
    return static_cast<qint32>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer_.bytes().data())));
}

QString Plctag::StrVal() const
{
    if (!userMode())
        return QString();
    const std::string text = readString(buffer_, size_);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void Plctag::setStrVal(const QString& text)
{
    if (!userMode() || !enabled())
        return;
    const QByteArray bytes = text.toLatin1();
    size_ = writeString(buffer_, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void Plctag::setElementIndex(int index) { elementIndex_ = low16(index); }
void Plctag::setBitIndex(int index) { bitIndex_ = low16(index); }

bool Plctag::BitVal(int wordIndex, int bitIndex) const { return buffer_.bit(wordIndex, bitIndex); }
void Plctag::setBitVal(int wordIndex, int bitIndex, bool value) { buffer_.setBit(wordIndex, bitIndex, value); }
int Plctag::ByteVal(int byteIndex) const { return buffer_.byte(byteIndex); }
void Plctag::setByteVal(int byteIndex, int value) { buffer_.setByte(byteIndex, value); }
int Plctag::WordVal(int wordIndex) const { return buffer_.word(wordIndex); }
void Plctag::setWordVal(int wordIndex, int value) { buffer_.setWord(wordIndex, value); }
int Plctag::BCDVal(int wordIndex) const { return buffer_.bcdWord(wordIndex); }
void Plctag::setBCDVal(int wordIndex, int value) { buffer_.setBcdWord(wordIndex, value); }
float Plctag::FloatVal(int floatIndex) const { return buffer_.floatValue(floatIndex); }
void Plctag::setFloatVal(int floatIndex, float value) { buffer_.setFloatValue(floatIndex, value); }
qint32 Plctag::LongVal(int longIndex) const { return buffer_.longValue(longIndex); }
void Plctag::setLongVal(int longIndex, qint32 value) { buffer_.setLongValue(longIndex, value); }
qint32 Plctag::BCDLong(int bcdLongIndex) const { return buffer_.bcdLong(bcdLongIndex); }
void Plctag::setBCDLong(int bcdLongIndex, qint32 value) { buffer_.setBcdLong(bcdLongIndex, value); }

bool Plctag::Trigger()
{
    if (!userMode() || !enabled())
        return false;
    if (busy_)
        return true;

    plcdrv::RequestPacket& packet = *packet_;
    packet.notifyWindow = window_;

    RequestParams params;
    params.function = function_;
    params.regType = regType_;
    params.address = address_;
    params.size = size_;
    params.route = route_;
    const BuiltRequest request = buildRequest(params, buffer_);
    if (request.size != size_)
        size_ = request.size; // lowered to what one request can carry
    if (request.pduLength > 0) {
        std::memcpy(packet.route, params.route.bytes.data(), sizeof packet.route);
        packet.requestClass = request.requestClass;
        std::memcpy(pduBytes(packet), request.pdu.data(), static_cast<std::size_t>(request.pduLength));
    }

    const Transport transport = chooseTransport(readAdapterConfig(adapter_ + 1), host_);
    if (request.pduLength == 0) {
        fireError(platform::ErrorCode::RefusedNotBuilt);
        return false;
    }
    traceFrame({TraceDirection::Request, adapter_ + 1, transport == Transport::ModbusTcp, packet.route[0],
                std::span<const std::uint8_t>(pduBytes(packet), static_cast<std::size_t>(request.pduLength)), 0});
    if (transport == Transport::ModbusTcp)
        return triggerOverTcp(request.pduLength);

    packet.pduLength = request.pduLength;
    packet.adapter = static_cast<std::int16_t>(adapter_ + 1);
    if (VexaPut(&packet, static_cast<int>(sizeof(plcdrv::RequestPacket))) != 0) {
        busy_ = true;
        return true;
    }
    fireError(platform::ErrorCode::RefusedByDriver);
    return false;
}

bool Plctag::triggerOverTcp(int pduLength)
{
    plcdrv::RequestPacket& packet = *packet_;
    TcpRequest request;
    request.host = hostText_;
    request.pdu = std::span<const std::uint8_t>(pduBytes(packet), static_cast<std::size_t>(pduLength));
    request.unit = packet.route[0];
    request.timeToLive = timeToLive_;
    const TcpResult result = tcp_.exchange(request);
    if (result.error != 0) {
        fireError(platform::toErrorCode(result.error));
        return false;
    }
    traceFrame({TraceDirection::Reply, adapter_ + 1, true, packet.route[0], result.pdu, 0});
    // The reply goes where the driver would put it, so one reply processing
    // serves both transports.
    const std::size_t length = std::min(result.pdu.size(), plcdrv::MaxPduLength);
    std::uint8_t* pdu = pduBytes(packet);
    std::memcpy(pdu, result.pdu.data(), length);
    std::memset(pdu + length, 0, plcdrv::MaxPduLength - length);
    completeRequest(static_cast<int>(length), 0);
    return true;
}

void Plctag::onWindowMessage(unsigned message, std::intptr_t lParam)
{
    if (message != platform::DRIVER_DONE_MESSAGE || !userMode())
        return;
    traceDriverReply(*packet_, static_cast<int>(lParam));
    // The driver wrote the reply into the packet's PDU fields; their whole
    // extent is what it can hold.
    completeRequest(static_cast<int>(plcdrv::MaxPduLength), static_cast<std::int32_t>(lParam));
}

void Plctag::completeRequest(int pduBytesHeld, std::int32_t status)
{
    const std::span<const std::uint8_t> reply(pduBytes(*packet_), static_cast<std::size_t>(pduBytesHeld));
    const ReplyOutcome outcome = processReply(reply, status, buffer_);
    errorCode_ = outcome.errorCode;
    const QPointer<Plctag> alive(this);
    switch (outcome.kind) {
    case ReplyKind::Read:
        emit OnReadDone();
        if (!alive || !watchPoints_.evaluate(buffer_, *this))
            return;
        break;
    case ReplyKind::Write:
        emit OnWriteDone();
        break;
    case ReplyKind::Error:
        emit OnErrorEvent(outcome.errorCode);
        break;
    }
    if (alive)
        busy_ = false;
}

void Plctag::fireError(platform::ErrorCode error)
{
    const int code = platform::errorNumber(error);
    TraceFrame failure;
    failure.direction = TraceDirection::Failure;
    failure.adapter = adapter_ + 1;
    failure.unit = route_.bytes[0];
    failure.errorCode = low16(code);
    traceFrame(failure);
    emit OnErrorEvent(low16(code));
}

bool Plctag::UnsolicitedMsgStart() { return false; }
bool Plctag::UnsolicitedMsgStop() { return false; }

bool Plctag::WatchPointDelete(int PtType, int PtWIndex, int PtBIndex)
{
    return watchPoints_.remove(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointSuspend(int PtType, int PtWIndex, int PtBIndex)
{
    return watchPoints_.suspend(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointActivate(int PtType, int PtWIndex, int PtBIndex)
{
    return watchPoints_.activate(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointAdd(int PtType, int Index1, int Index2, int EventFlags, const QVariant& LowLimit,
                           const QVariant& HighLimit, bool ActiveFlag)
{
    return watchPoints_.add(low16(PtType), low16(Index1), low16(Index2), low16(EventFlags), LowLimit, HighLimit,
                            ActiveFlag);
}

bool Plctag::AutoPoll(int Interval)
{
    if (!userMode() || !enabled())
        return false;
    pollTimer_.stop();
    pollInterval_ = Interval;
    if (Interval != 0) {
        if (Interval > 0)
            pollTimer_.start(Interval);
        Trigger();
    }
    return true;
}

void Plctag::AboutBox()
{
    platform::messageBox(QStringLiteral("About PLCTAG"),
                         QStringLiteral("PLCTAG register-access control\nVersion 4.0"),
                         platform::MessageIcon::Information);
}

bool Plctag::discreteChange(int wordIndex, int bitIndex, const QVariant& current, const QVariant& previous)
{
    const QPointer<Plctag> alive(this);
    emit OnDiscreteChange(wordIndex, bitIndex, current, previous);
    return !alive.isNull();
}

bool Plctag::analogLow(int type, int index, const QVariant& current, const QVariant& previous,
                       const QVariant& lowerLimit)
{
    const QPointer<Plctag> alive(this);
    emit OnAnalogLow(type, index, current, previous, lowerLimit);
    return !alive.isNull();
}

bool Plctag::analogHigh(int type, int index, const QVariant& current, const QVariant& previous,
                        const QVariant& upperLimit)
{
    const QPointer<Plctag> alive(this);
    emit OnAnalogHigh(type, index, current, previous, upperLimit);
    return !alive.isNull();
}

bool Plctag::analogNormal(int type, int index, const QVariant& current, const QVariant& previous)
{
    const QPointer<Plctag> alive(this);
    emit OnAnalogNormal(type, index, current, previous);
    return !alive.isNull();
}

bool Plctag::analogChange(int type, int index, const QVariant& current, const QVariant& previous)
{
    const QPointer<Plctag> alive(this);
    emit OnAnalogChange(type, index, current, previous);
    return !alive.isNull();
}

} // namespace regaccess
