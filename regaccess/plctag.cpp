#include "regaccess/plctag.h"

#include "regaccess/control_site.h"
#include "regaccess/frame_tracing.h"
#include "regaccess/property_bag.h"
#include "regaccess/register_buffer.h"
#include "regaccess/reply_processor.h"
#include "regaccess/request_builder.h"
#include "regaccess/route_path.h"
#include "regaccess/transport_set.h"
#include "regaccess/watch_points.h"

#include "driver/request_packet.h"
#include "platform/message_box.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace regaccess {

namespace {

int Low16(int value) { return static_cast<std::int16_t>(value); }

} // namespace

class PlctagPrivate final : public WatchPointEvents {
public:
    PlctagPrivate(Plctag& control, ControlSite* controlSite)
        : q(control),
          site(controlSite),
          transports(&control, [this](const IncomingReply& reply) { onDriverDone(reply); })
    {
    }

    void onDriverDone(const IncomingReply& reply);
    void complete(const IncomingReply& reply);
    void fireError(platform::ErrorCode code);

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

    // The saved properties; a new control takes PersistedProperties' defaults.
    QString host;
    std::string hostText; // host as the transport takes it
    int adapter = 0;
    int timeToLive = 0;
    int port = 0;
    qint32 address = 0;
    int regType = 0;
    int function = 0;
    QString routePath;
    RouteBytes route; // routePath parsed
    int size = 0;
    qint32 slaveReg = 0;

    bool busy = false;
    int errorCode = 0;
    int elementIndex = 0;
    int bitIndex = 0;
    bool modified = false;

    RegisterBuffer buffer;
    // The PDU of the last request built: its reply is checked against it.
    std::array<std::uint8_t, plcdrv::MaxPduLength> request{};
    std::size_t requestLength = 0;
    TransportSet transports;
    QTimer pollTimer;
    int pollInterval = 0;
    WatchList watchPoints;
};

Plctag::Plctag(QObject* parent, ControlSite* site) : QObject(parent), d_(std::make_unique<PlctagPrivate>(*this, site))
{
    applyPersistedProperties(*this, PersistedProperties{});
    connect(&d_->pollTimer, &QTimer::timeout, this, [this] { Trigger(); });
    if (userMode())
        DriverTransport::startDriver();
}

Plctag::~Plctag()
{
    d_->pollTimer.stop();
    d_->pollInterval = 0;
    d_->watchPoints.clear();
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
platform::WindowHandle Plctag::windowHandle() const { return d_->transports.driver().window(); }
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
    d_->adapter = std::min(Low16(adapter), 7);
    markModified();
}
void Plctag::setTimeToLive(int ttl)
{
    d_->timeToLive = Low16(ttl);
    markModified();
}
void Plctag::setPort(int port)
{
    d_->port = Low16(port);
    markModified();
}
void Plctag::setAddress(qint32 address)
{
    d_->address = address;
    markModified();
}
void Plctag::setRegType(int regType)
{
    d_->regType = Low16(regType);
    markModified();
}
void Plctag::setFunction(int function)
{
    d_->function = Low16(function);
    markModified();
}
void Plctag::setRoutePath(const QString& routePath)
{
    d_->routePath = routePath;
    const QByteArray text = routePath.toLatin1();
    d_->route = ParseRoutePath(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    markModified();
}
void Plctag::setSize(int size)
{
    d_->size = Low16(size);
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

void Plctag::setElementIndex(int index) { d_->elementIndex = Low16(index); }
void Plctag::setBitIndex(int index) { d_->bitIndex = Low16(index); }

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

    RequestParams params;
    params.function = d_->function;
    params.regType = d_->regType;
    params.address = d_->address;
    params.size = d_->size;
    params.route = d_->route;
    const BuiltRequest request = BuildRequest(params, d_->buffer);
    if (request.size != d_->size)
        d_->size = request.size; // lowered to what one request can carry
    if (request.pduLength > 0) {
        d_->requestLength = std::min(static_cast<std::size_t>(request.pduLength), d_->request.size());
        std::memcpy(d_->request.data(), request.pdu.data(), d_->requestLength);
    }

    const int adapterNumber = d_->adapter + 1;
    Transport& transport = d_->transports.forRequest(adapterNumber, d_->host);
    if (request.pduLength == 0) {
        d_->fireError(platform::ErrorCode::RequestRefused);
        return false;
    }
    OutgoingRequest outgoing;
    outgoing.pdu = std::span<const std::uint8_t>(request.pdu).first(static_cast<std::size_t>(request.pduLength));
    outgoing.requestClass = request.requestClass;
    outgoing.route = d_->route.bytes;
    outgoing.adapter = adapterNumber;
    outgoing.host = d_->hostText;
    outgoing.timeToLive = d_->timeToLive;
    ReportFrame({TraceDirection::Request, adapterNumber, transport.kind(), outgoing.route[0], outgoing.pdu, 0});

    const Transport::Sent sent = transport.send(outgoing);
    switch (sent.handover) {
    case Transport::Handover::Pending: d_->busy = true; return true;
    case Transport::Handover::Replied:
        // Events fire inside; the control may be gone when this returns.
        d_->complete(sent.reply);
        return true;
    case Transport::Handover::Failed: break;
    }
    d_->fireError(sent.error);
    return false;
}

void PlctagPrivate::onDriverDone(const IncomingReply& reply)
{
    if (q.userMode())
        complete(reply);
}

void PlctagPrivate::complete(const IncomingReply& reply)
{
    TraceFrame trace;
    trace.adapter = reply.adapter;
    trace.unit = reply.unit;
    trace.transport = reply.transport;
    if (reply.status != platform::ErrorCode::NoError) {
        trace.direction = TraceDirection::Failure;
        trace.errorCode = platform::errorNumber(reply.status);
    } else {
        trace.direction = TraceDirection::Reply;
        trace.pdu = reply.traced;
    }
    ReportFrame(trace);

    const std::span<const std::uint8_t> sentPdu(request.data(), requestLength);
    const ReplyOutcome outcome = ProcessReply(sentPdu, reply.pdu, reply.extent, reply.status, buffer);
    errorCode = platform::errorNumber(outcome.error);
    const QPointer<Plctag> alive(&q);
    switch (outcome.kind) {
    case ReplyKind::Read:
        emit q.OnReadDone();
        if (!alive || !watchPoints.evaluate(buffer, *this))
            return;
        break;
    case ReplyKind::Write: emit q.OnWriteDone(); break;
    case ReplyKind::Error: emit q.OnErrorEvent(errorCode); break;
    }
    if (alive)
        busy = false;
}

void PlctagPrivate::fireError(platform::ErrorCode error)
{
    const int code = platform::errorNumber(error);
    TraceFrame failure;
    failure.direction = TraceDirection::Failure;
    failure.adapter = adapter + 1;
    failure.unit = route.bytes[0];
    failure.errorCode = Low16(code);
    ReportFrame(failure);
    emit q.OnErrorEvent(Low16(code));
}

bool Plctag::UnsolicitedMsgStart() { return false; }
bool Plctag::UnsolicitedMsgStop() { return false; }

bool Plctag::WatchPointDelete(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.remove(Low16(PtType), Low16(PtWIndex), Low16(PtBIndex));
}

bool Plctag::WatchPointSuspend(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.suspend(Low16(PtType), Low16(PtWIndex), Low16(PtBIndex));
}

bool Plctag::WatchPointActivate(int PtType, int PtWIndex, int PtBIndex)
{
    return d_->watchPoints.activate(Low16(PtType), Low16(PtWIndex), Low16(PtBIndex));
}

bool Plctag::WatchPointAdd(int PtType, int Index1, int Index2, int EventFlags, const QVariant& LowLimit,
    const QVariant& HighLimit, bool ActiveFlag)
{
    return d_->watchPoints.add(
        Low16(PtType), Low16(Index1), Low16(Index2), Low16(EventFlags), LowLimit, HighLimit, ActiveFlag);
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
    platform::MessageBox(QStringLiteral("About PLCTAG"), QStringLiteral("PLCTAG register-access control\nVersion 4.0"),
        platform::MessageIcon::Information);
}

} // namespace regaccess
