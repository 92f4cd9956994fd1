#include "channel.h"

#include "core/fields/module_address.h"
#include "regaccess/members.h"

#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <array>
#include <atomic>

namespace chronel {

namespace {

// Besides the saved properties (regaccess/members.h), the state the channel reads.
const char* const StateProperties[] = {"Busy", "ErrorCode"};
// Methods with the number of arguments the channel passes.
const std::pair<const char*, int> Methods[] = {
    {"Trigger", 0}, {"AutoPoll", 1}, {"WordVal", 1}, {"setWordVal", 2}, {"BitVal", 2}};

int FindMethod(const QMetaObject* meta, const char* name, int argc, QMetaMethod::MethodType type)
{
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == type && m.parameterCount() == argc && m.name() == name)
            return i;
        if (type == QMetaMethod::Method && m.methodType() == QMetaMethod::Slot && m.parameterCount() == argc &&
            m.name() == name)
            return i;
    }
    return -1;
}

std::atomic<int> replyWindowMs{0};

} // namespace

void SetReplyWindow(int ms) { replyWindowMs = ms; }
int ReplyWindow() { return replyWindowMs; }

Channel::Channel(const QString& name, QObject* control, QObject* parent)
    : QObject(parent), name_(name), control_(control)
{
    if (!control) {
        missing_ << QStringLiteral("control");
        return;
    }
    const QMetaObject* meta = control->metaObject();
    for (const regaccess::Member& member : regaccess::controlMembers()) {
        if (member.persistedAt >= 0 && meta->indexOfProperty(member.name) < 0)
            missing_ << QString::fromLatin1(member.name);
    }
    for (const char* p : StateProperties) {
        if (meta->indexOfProperty(p) < 0)
            missing_ << QString::fromLatin1(p);
    }
    for (const auto& [method, argc] : Methods) {
        if (FindMethod(meta, method, argc, QMetaMethod::Method) < 0)
            missing_ << QString::fromLatin1(method);
    }
    connectEvents();
    if (const int window = ReplyWindow(); window > 0)
        setTimeToLive(window);
}

QStringList Channel::missingMembers() const { return missing_; }

void Channel::connectEvents()
{
    const QMetaObject* meta = control_->metaObject();
    const QMetaObject* mine = metaObject();
    auto link = [&](const char* event, int argc, const char* slot) {
        const int signal = FindMethod(meta, event, argc, QMetaMethod::Signal);
        if (signal < 0)
            return false;
        const QMetaMethod relayProbe = mine->method(mine->indexOfSlot(QMetaObject::normalizedSignature(slot)));
        if (!QMetaObject::checkConnectArgs(meta->method(signal), relayProbe))
            return false;
        const QMetaMethod relay = mine->method(mine->indexOfSlot(QMetaObject::normalizedSignature(slot)));
        return bool(connect(control_, meta->method(signal), this, relay));
    };
    if (!link("OnReadDone", 0, "relayReadDone()"))
        missing_ << QStringLiteral("OnReadDone");
    if (!link("OnWriteDone", 0, "relayWriteDone()"))
        missing_ << QStringLiteral("OnWriteDone");
    // The error code is a 16-bit value; accept the control's event whether it
    // declares it as short or as int.
    if (!link("OnErrorEvent", 1, "relayErrorShort(short)") && !link("OnErrorEvent", 1, "relayErrorInt(int)"))
        missing_ << QStringLiteral("OnErrorEvent");
}

void Channel::relayReadDone() { emit OnReadDone(); }
void Channel::relayWriteDone() { emit OnWriteDone(); }
void Channel::relayErrorShort(short code) { emit OnErrorEvent(platform::toErrorCode(code)); }
void Channel::relayErrorInt(int code) { emit OnErrorEvent(platform::toErrorCode(qint16(code))); }

QVariant Channel::property(const char* name) const
{
    if (!control_ || control_->metaObject()->indexOfProperty(name) < 0)
        return {};
    return control_->property(name);
}

void Channel::setProperty(const char* name, const QVariant& value)
{
    // Never create a dynamic property on a control that lacks the real one.
    if (!control_ || control_->metaObject()->indexOfProperty(name) < 0)
        return;
    control_->setProperty(name, value);
}

QVariant Channel::invoke(const char* name, const QVariantList& args, bool* found) const
{
    if (found)
        *found = false;
    if (!control_ || args.size() > 4)
        return {};
    const QMetaObject* meta = control_->metaObject();
    const int index = FindMethod(meta, name, int(args.size()), QMetaMethod::Method);
    if (index < 0)
        return {};
    const QMetaMethod method = meta->method(index);

    // QGenericArgument keeps only pointers: the type names and the values
    // must live until the call has returned.
    std::array<QVariant, 4> converted;
    std::array<QByteArray, 4> typeNames;
    std::array<QGenericArgument, 4> generic;
    for (int i = 0; i < int(args.size()); ++i) {
        QVariant v = args[i];
        if (!v.convert(method.parameterMetaType(i)))
            return {};
        converted[std::size_t(i)] = v;
        typeNames[std::size_t(i)] = method.parameterTypeName(i);
        generic[std::size_t(i)] =
            QGenericArgument(typeNames[std::size_t(i)].constData(), converted[std::size_t(i)].constData());
    }
    QVariant result;
    QGenericReturnArgument ret;
    if (method.returnMetaType().id() != QMetaType::Void) {
        result = QVariant(method.returnMetaType());
        ret = QGenericReturnArgument(method.typeName(), result.data());
    }
    const bool ok = method.invoke(control_, Qt::DirectConnection, ret, generic[0], generic[1], generic[2], generic[3]);
    if (found)
        *found = ok;
    return ok ? result : QVariant();
}

QString Channel::Host() const { return property("Host").toString(); }
void Channel::setHost(const QString& host) { setProperty("Host", host); }
int Channel::Adapter() const { return property("Adapter").toInt(); }
void Channel::setAdapter(int adapter) { setProperty("Adapter", adapter); }
int Channel::TimeToLive() const { return property("TimeToLive").toInt(); }
void Channel::setTimeToLive(int ttl) { setProperty("TimeToLive", ttl); }
int Channel::Port() const { return property("Port").toInt(); }
void Channel::setPort(int port) { setProperty("Port", port); }
qint32 Channel::Address() const { return property("Address").toInt(); }
void Channel::setAddress(qint32 address) { setProperty("Address", address); }
int Channel::RegType() const { return property("RegType").toInt(); }
void Channel::setRegType(int regType) { setProperty("RegType", regType); }
int Channel::Function() const { return property("Function").toInt(); }
void Channel::setFunction(int function) { setProperty("Function", function); }
QString Channel::RoutePath() const { return property("RoutePath").toString(); }
void Channel::setRoutePath(const QString& route) { setProperty("RoutePath", route); }
int Channel::Size() const { return property("Size").toInt(); }
void Channel::setSize(int size) { setProperty("Size", size); }
qint32 Channel::SlaveReg() const { return property("SlaveReg").toInt(); }
void Channel::setSlaveReg(qint32 reg) { setProperty("SlaveReg", reg); }
bool Channel::Busy() const { return property("Busy").toBool(); }
platform::ErrorCode Channel::ErrorCode() const { return platform::toErrorCode(property("ErrorCode").toInt()); }

bool Channel::Trigger() { return invoke("Trigger", {}).toBool(); }
bool Channel::AutoPoll(int intervalMs)
{
    const bool accepted = invoke("AutoPoll", {intervalMs}).toBool();
    if (accepted)
        pollInterval_ = intervalMs > 0 ? intervalMs : 0;
    return accepted;
}

qint16 Channel::WordVal(int wordIndex) const { return qint16(invoke("WordVal", {wordIndex}).toInt()); }
void Channel::setWordVal(int wordIndex, qint16 value) { invoke("setWordVal", {wordIndex, int(value)}); }
bool Channel::BitVal(int wordIndex, int bitIndex) const { return invoke("BitVal", {wordIndex, bitIndex}).toBool(); }

void Channel::prepare(const QString& host, qint32 address, int function, int regType, int size)
{
    setHost(host);
    setAddress(address);
    setFunction(function);
    setRegType(regType);
    setSize(size);
    setRoutePath(ModuleRoutePath());
}

} // namespace chronel
