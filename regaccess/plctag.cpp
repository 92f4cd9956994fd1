#include "regaccess/plctag.h"

#include "regaccess/adapter_selection.h"
#include "regaccess/control_site.h"
#include "regaccess/frame_trace.h"
#include "regaccess/register_buffer.h"
#include "regaccess/reply_processor.h"
#include "regaccess/request_builder.h"
#include "regaccess/route_path.h"
#include "regaccess/tcp_transport.h"
#include "regaccess/watch_points.h"

#include "driver/plcdrv.h"
#include "driver/request_packet.h"
#include "platform/message_box.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace regaccess {

namespace {

// PLCDRV is started once per process, by the first control created in user
// mode; nothing ever stops it.
std::atomic<bool> driverStarted{false};

// Packets of controls destroyed while the driver still held them; kept
// (and reachable) for the life of the process. Controls on several threads
// may be destroyed at once.
void keepOrphanedPacket(std::unique_ptr<plcdrv::RequestPacket> packet)
{
    static std::mutex mutex;
    static auto* packets = new std::vector<plcdrv::RequestPacket*>;
    std::lock_guard lock(mutex);
    packets->push_back(packet.release());
}

int low16(int value) { return static_cast<std::int16_t>(value); }

std::uint8_t* pduBytes(plcdrv::RequestPacket& packet)
{
    return reinterpret_cast<std::uint8_t*>(&packet) + offsetof(plcdrv::RequestPacket, functionCode);
}

} // namespace

class PlctagPrivate final : public WatchPointEvents {
public:
    explicit PlctagPrivate(Plctag& control, ControlSite* controlSite) : q(control), site(controlSite) { }

    // Watch-point events become the control's signals; each answers whether
    // the control survived its handlers.
    bool discreteChange(int wordIndex, int bitIndex, const QVariant& current, const QVariant& previous) override
    {
        const QPointer<Plctag> alive(&q);
        emit q.OnDiscreteChange(wordIndex, bitIndex, current, previous);
        return !alive.isNull();
    }
    bool analogLow(
        int type, int index, const QVariant& current, const QVariant& previous, const QVariant& lowerLimit) override
    {
        const QPointer<Plctag> alive(&q);
        emit q.OnAnalogLow(type, index, current, previous, lowerLimit);
        return !alive.isNull();
    }
    bool analogHigh(
        int type, int index, const QVariant& current, const QVariant& previous, const QVariant& upperLimit) override
    {
        const QPointer<Plctag> alive(&q);
        emit q.OnAnalogHigh(type, index, current, previous, upperLimit);
        return !alive.isNull();
    }
    bool analogNormal(int type, int index, const QVariant& current, const QVariant& previous) override
    {
        const QPointer<Plctag> alive(&q);
        emit q.OnAnalogNormal(type, index, current, previous);
        return !alive.isNull();
    }
    bool analogChange(int type, int index, const QVariant& current, const QVariant& previous) override
    {
        const QPointer<Plctag> alive(&q);
        emit q.OnAnalogChange(type, index, current, previous);
        return !alive.isNull();
    }

    Plctag& q;
    QPointer<ControlSite> site;

    QString host = QStringLiteral("127.0.0.1");
    std::string hostText = "127.0.0.1"; // host as the transport takes it
    int adapter = 0;
    int timeToLive = 500;
    int port = 8001;
    qint32 address = 1;
    int regType = 0;
    int function = 0;
    QString routePath = QStringLiteral("1.0.0.0.0");
    RouteBytes route; // routePath parsed
    int size = 1;
    qint32 slaveReg = 40001;

    bool busy = false;
    int errorCode = 0;
    int elementIndex = 0;
    int bitIndex = 0;
    bool modified = false;

    RegisterBuffer buffer;
    // Separate allocation: a packet the driver still holds must outlive the
    // control (see the destructor).
    std::unique_ptr<plcdrv::RequestPacket> packet;
    // The PDU of the last request sent: its reply overwrites the packet's
    // copy, and is checked against this one.
    std::array<std::uint8_t, plcdrv::MaxPduLength> request{};
    std::size_t requestLength = 0;
    TcpTransport tcp;
    platform::WindowHandle window = 0;
    QTimer pollTimer;
    int pollInterval = 0;
    WatchList watchPoints;
};

Plctag::Plctag(QObject* parent, ControlSite* site) : QObject(parent), d_(std::make_unique<PlctagPrivate>(*this, site))
{
    d_->packet = std::make_unique<plcdrv::RequestPacket>();
    std::memset(d_->packet.get(), 0, sizeof(plcdrv::RequestPacket));
    d_->route = parseRoutePath("1.0.0.0.0");
    d_->window = platform::registerWindow(
        this, [this](unsigned message, std::uintptr_t, std::intptr_t lParam) { onWindowMessage(message, lParam); });
    connect(&d_->pollTimer, &QTimer::timeout, this, [this] { Trigger(); });
    if (userMode() && !driverStarted.exchange(true))
        VexaStart();
}

Plctag::~Plctag()
{
    platform::unregisterWindow(d_->window);
    d_->pollTimer.stop();
    d_->pollInterval = 0;
    d_->watchPoints.clear();
    // The driver still writes the reply of an outstanding request into the
    // packet, and no completion will tell when it is done: the packet is
    // left to it rather than freed under its feet.
    if (d_->busy)
        keepOrphanedPacket(std::move(d_->packet));
    d_->busy = false;
}

ControlSite* Plctag::site() const { return d_->site.data(); }
bool Plctag::userMode() const { return d_->site ? d_->site->userMode() : true; }
bool Plctag::enabled() const { return d_->site ? d_->site->enabled() : true; }

QString Plctag::Host() const { return d_->host; }
int Plctag::Adapter() const { return d_->adapter; }
int Plctag::TimeToLive() const { return d_->timeToLive; }
int Plctag::Port() const { return d_->port; }
qint32 Plctag::Address() const { return d_->address; }
int Plctag::RegType() const { return d_->regType; }
int Plctag::Function() const { return d_->function; }
QString Plctag::RoutePath() const { return d_->routePath; }
int Plctag::Size() const { return d_->size; }
qint32 Plctag::SlaveReg() const { return d_->slaveReg; }
bool Plctag::Busy() const { return d_->busy; }
int Plctag::ErrorCode() const { return d_->errorCode; }
int Plctag::ElementIndex() const { return d_->elementIndex; }
int Plctag::BitIndex() const { return d_->bitIndex; }
bool Plctag::valBit() const { return BitVal(d_->elementIndex, d_->bitIndex); }
void Plctag::setValBit(bool value) { setBitVal(d_->elementIndex, d_->bitIndex, value); }
int Plctag::valByte() const { return ByteVal(d_->elementIndex); }
void Plctag::setValByte(int value) { setByteVal(d_->elementIndex, value); }
int Plctag::valWord() const { return WordVal(d_->elementIndex); }
void Plctag::setValWord(int value) { setWordVal(d_->elementIndex, value); }
int Plctag::valBCD() const { return BCDVal(d_->elementIndex); }
void Plctag::setValBCD(int value) { setBCDVal(d_->elementIndex, value); }
qint32 Plctag::valLong() const { return LongVal(d_->elementIndex); }
void Plctag::setValLong(qint32 value) { setLongVal(d_->elementIndex, value); }
qint32 Plctag::valBCDLong() const { return BCDLong(d_->elementIndex); }
void Plctag::setValBCDLong(qint32 value) { setBCDLong(d_->elementIndex, value); }
float Plctag::valFloat() const { return FloatVal(d_->elementIndex); }
void Plctag::setValFloat(float value) { setFloatVal(d_->elementIndex, value); }
platform::WindowHandle Plctag::windowHandle() const { return d_->window; }
const RegisterBuffer& Plctag::registerBuffer() const { return d_->buffer; }
int Plctag::pollInterval() const { return d_->pollInterval; }
int Plctag::watchPointCount() const { return d_->watchPoints.size(); }
bool Plctag::isModified() const { return d_->modified; }
void Plctag::setModified(bool modified) { d_->modified = modified; }
void Plctag::markModified() { d_->modified = true; }

void Plctag::setHost(const QString& host)
{
    d_->host = host;
    d_->hostText = host.toStdString();
    markModified();
}
void Plctag::setAdapter(int adapter)
{
    d_->adapter = std::min(low16(adapter), 7);
    markModified();
}
void Plctag::setTimeToLive(int ttl)
{
    d_->timeToLive = low16(ttl);
    markModified();
}
void Plctag::setPort(int port)
{
    d_->port = low16(port);
    markModified();
}
void Plctag::setAddress(qint32 address)
{
    d_->address = address;
    markModified();
}
void Plctag::setRegType(int regType)
{
    d_->regType = low16(regType);
    markModified();
}
void Plctag::setFunction(int function)
{
    d_->function = low16(function);
    markModified();
}
void Plctag::setRoutePath(const QString& routePath)
{
    d_->routePath = routePath;
    const QByteArray text = routePath.toLatin1();
    d_->route = parseRoutePath(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    markModified();
}
void Plctag::setSize(int size)
{
    d_->size = low16(size);
    markModified();
}
void Plctag::setSlaveReg(qint32 slaveReg)
{
    d_->slaveReg = slaveReg;
    markModified();
}

qint32 Plctag::DataPtr() const
{
    return static_cast<qint32>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(d_->buffer.bytes().data())));
}

QString Plctag::StrVal() const
{
    if (!userMode())
        return QString();
    const std::string text = readString(d_->buffer, d_->size);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void Plctag::setStrVal(const QString& text)
{
    if (!userMode() || !enabled())
        return;
    const QByteArray bytes = text.toLatin1();
    d_->size = writeString(d_->buffer, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void Plctag::setElementIndex(int index) { d_->elementIndex = low16(index); }
void Plctag::setBitIndex(int index) { d_->bitIndex = low16(index); }

bool Plctag::BitVal(int wordIndex, int bitIndex) const { return d_->buffer.bit(wordIndex, bitIndex); }
void Plctag::setBitVal(int wordIndex, int bitIndex, bool value) { d_->buffer.setBit(wordIndex, bitIndex, value); }
int Plctag::ByteVal(int byteIndex) const { return d_->buffer.byte(byteIndex); }
void Plctag::setByteVal(int byteIndex, int value) { d_->buffer.setByte(byteIndex, value); }
int Plctag::WordVal(int wordIndex) const { return d_->buffer.word(wordIndex); }
void Plctag::setWordVal(int wordIndex, int value) { d_->buffer.setWord(wordIndex, value); }
int Plctag::BCDVal(int wordIndex) const { return d_->buffer.bcdWord(wordIndex); }
void Plctag::setBCDVal(int wordIndex, int value) { d_->buffer.setBcdWord(wordIndex, value); }
float Plctag::FloatVal(int floatIndex) const { return d_->buffer.floatValue(floatIndex); }
void Plctag::setFloatVal(int floatIndex, float value) { d_->buffer.setFloatValue(floatIndex, value); }
qint32 Plctag::LongVal(int longIndex) const { return d_->buffer.longValue(longIndex); }
void Plctag::setLongVal(int longIndex, qint32 value) { d_->buffer.setLongValue(longIndex, value); }
qint32 Plctag::BCDLong(int bcdLongIndex) const { return d_->buffer.bcdLong(bcdLongIndex); }
void Plctag::setBCDLong(int bcdLongIndex, qint32 value) { d_->buffer.setBcdLong(bcdLongIndex, value); }

bool Plctag::Trigger()
{
    if (!userMode() || !enabled())
        return false;
    if (d_->busy)
        return true;

    plcdrv::RequestPacket& packet = *d_->packet;
    packet.notifyWindow = d_->window;

    RequestParams params;
    params.function = d_->function;
    params.regType = d_->regType;
    params.address = d_->address;
    params.size = d_->size;
    params.route = d_->route;
    const BuiltRequest request = buildRequest(params, d_->buffer);
    if (request.size != d_->size)
        d_->size = request.size; // lowered to what one request can carry
    if (request.pduLength > 0) {
        std::memcpy(packet.route, params.route.bytes.data(), sizeof packet.route);
        packet.requestClass = request.requestClass;
        std::memcpy(pduBytes(packet), request.pdu.data(), static_cast<std::size_t>(request.pduLength));
        d_->requestLength = std::min(static_cast<std::size_t>(request.pduLength), d_->request.size());
        std::memcpy(d_->request.data(), request.pdu.data(), d_->requestLength);
    }

    const Transport transport = chooseTransport(readAdapterConfig(d_->adapter + 1), d_->host);
    if (request.pduLength == 0) {
        fireError(platform::ErrorCode::RequestRefused);
        return false;
    }
    traceFrame({TraceDirection::Request, d_->adapter + 1, transport == Transport::ModbusTcp, packet.route[0],
        std::span<const std::uint8_t>(pduBytes(packet), static_cast<std::size_t>(request.pduLength)), 0});
    if (transport == Transport::ModbusTcp)
        return triggerOverTcp(request.pduLength);

    packet.pduLength = request.pduLength;
    packet.adapter = static_cast<std::int16_t>(d_->adapter + 1);
    if (VexaPut(&packet, static_cast<int>(sizeof(plcdrv::RequestPacket))) != 0) {
        d_->busy = true;
        return true;
    }
    fireError(platform::ErrorCode::RequestRefused);
    return false;
}

bool Plctag::triggerOverTcp(int pduLength)
{
    plcdrv::RequestPacket& packet = *d_->packet;
    TcpRequest request;
    request.host = d_->hostText;
    request.pdu = std::span<const std::uint8_t>(pduBytes(packet), static_cast<std::size_t>(pduLength));
    request.unit = packet.route[0];
    request.timeToLive = d_->timeToLive;
    const TcpResult result = d_->tcp.exchange(request);
    if (result.error != 0) {
        fireError(platform::toErrorCode(result.error));
        return false;
    }
    traceFrame({TraceDirection::Reply, d_->adapter + 1, true, packet.route[0], result.pdu, 0});
    // The reply goes where the driver would put it, so one reply processing
    // serves both transports.
    const std::size_t length = std::min(result.pdu.size(), plcdrv::MaxPduLength);
    std::uint8_t* pdu = pduBytes(packet);
    std::memcpy(pdu, result.pdu.data(), length);
    std::memset(pdu + length, 0, plcdrv::MaxPduLength - length);
    completeRequest(static_cast<int>(length), true, 0);
    return true;
}

void Plctag::onWindowMessage(unsigned message, std::intptr_t lParam)
{
    if (message != platform::DRIVER_DONE_MESSAGE || !userMode())
        return;
    traceDriverReply(*d_->packet, static_cast<int>(lParam));
    // The driver wrote the reply into the packet's PDU fields and checked
    // its length against the frame; how long it was the packet does not say.
    completeRequest(static_cast<int>(plcdrv::MaxPduLength), false, static_cast<std::int32_t>(lParam));
}

void Plctag::completeRequest(int replyBytes, bool lengthKnown, std::int32_t status)
{
    const std::span<const std::uint8_t> reply(pduBytes(*d_->packet), static_cast<std::size_t>(replyBytes));
    const auto extent = lengthKnown ? plcdrv::ReplyExtent::Exact : plcdrv::ReplyExtent::AtLeast;
    const std::span<const std::uint8_t> request(d_->request.data(), d_->requestLength);
    const ReplyOutcome outcome = processReply(request, reply, extent, status, d_->buffer);
    d_->errorCode = outcome.errorCode;
    const QPointer<Plctag> alive(this);
    switch (outcome.kind) {
    case ReplyKind::Read:
        emit OnReadDone();
        if (!alive || !d_->watchPoints.evaluate(d_->buffer, *d_))
            return;
        break;
    case ReplyKind::Write: emit OnWriteDone(); break;
    case ReplyKind::Error: emit OnErrorEvent(outcome.errorCode); break;
    }
    if (alive)
        d_->busy = false;
}

void Plctag::fireError(platform::ErrorCode error)
{
    const int code = platform::errorNumber(error);
    TraceFrame failure;
    failure.direction = TraceDirection::Failure;
    failure.adapter = d_->adapter + 1;
    failure.unit = d_->route.bytes[0];
    failure.errorCode = low16(code);
    traceFrame(failure);
    emit OnErrorEvent(low16(code));
}

bool Plctag::UnsolicitedMsgStart() { return false; }
bool Plctag::UnsolicitedMsgStop() { return false; }

bool Plctag::WatchPointDelete(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.remove(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointSuspend(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.suspend(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointActivate(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.activate(low16(PtType), low16(PtWIndex), low16(PtBIndex));
}

bool Plctag::WatchPointAdd(int PtType, int Index1, int Index2, int EventFlags, const QVariant& LowLimit,
    const QVariant& HighLimit, bool ActiveFlag)
{
    return d_->watchPoints.add(
        low16(PtType), low16(Index1), low16(Index2), low16(EventFlags), LowLimit, HighLimit, ActiveFlag);
}

bool Plctag::AutoPoll(int Interval)
{
    if (!userMode() || !enabled())
        return false;
    d_->pollTimer.stop();
    d_->pollInterval = Interval;
    if (Interval != 0) {
        if (Interval > 0)
            d_->pollTimer.start(Interval);
        Trigger();
    }
    return true;
}

void Plctag::AboutBox()
{
    platform::messageBox(QStringLiteral("About PLCTAG"), QStringLiteral("PLCTAG register-access control\nVersion 4.0"),
        platform::MessageIcon::Information);
}

} // namespace regaccess
