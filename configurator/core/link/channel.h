#pragma once
// One register-access channel of the main window: a PLCTAG control created by
// class name, driven through its Qt meta-object the way an automation host
// binds late — properties by name, methods by name with their arguments
// converted to the control's own parameter types, events relayed as signals.
// The core therefore needs no compile-time knowledge of the control's class,
// only that it is a QObject offering the members below under their names.
//
// A control that lacks one of them is still wrapped; missingMembers() lists
// what is absent and the calls that need it do nothing (reads give 0/empty).
#include "platform/error_code.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace chronel {

// The reply window of a slow link: the TimeToLive (ms) every channel created
// from now on gets, instead of the stored 500, so that modules behind a VPN,
// radio or cellular link are waited for. The programs set it once from their
// --timeout option, before the first channel exists; 0 restores the stored
// values.
constexpr int ReplyWindowMinMs = 100;
constexpr int ReplyWindowMaxMs = 32627; // the control's own limit for TimeToLive
void SetReplyWindow(int ms);
int ReplyWindow(); // 0 when not set

class Channel : public QObject {
    Q_OBJECT
public:
    // Wraps `control` (not owned; normally a child of the same window) as the
    // channel called `name`, e.g. "modEventScan".
    Channel(const QString& name, QObject* control, QObject* parent = nullptr);

    QString name() const { return name_; }
    QObject* control() const { return control_; }
    // Properties, methods and events the control does not offer.
    QStringList missingMembers() const;

    QString Host() const;
    void setHost(const QString& host);
    int Adapter() const;
    void setAdapter(int adapter);
    int TimeToLive() const;
    void setTimeToLive(int ttl);
    int Port() const;
    void setPort(int port);
    qint32 Address() const;
    void setAddress(qint32 address);
    int RegType() const;
    void setRegType(int regType);
    int Function() const;
    void setFunction(int function);
    QString RoutePath() const;
    void setRoutePath(const QString& route);
    int Size() const;
    void setSize(int size);
    qint32 SlaveReg() const;
    void setSlaveReg(qint32 reg);
    bool Busy() const;
    platform::ErrorCode ErrorCode() const;

    bool Trigger();
    bool AutoPoll(int intervalMs);
    // The interval of the last AutoPoll the control accepted; 0 when the
    // channel does not poll.
    int pollInterval() const { return pollInterval_; }

    qint16 WordVal(int wordIndex) const;
    void setWordVal(int wordIndex, qint16 value);
    bool BitVal(int wordIndex, int bitIndex) const;

    // Prepares a request the way every activity does: host, register,
    // function, register type, size, then the route to unit 255.
    void prepare(const QString& host, qint32 address, int function, int regType, int size);

signals:
    void OnReadDone();
    void OnWriteDone();
    void OnErrorEvent(platform::ErrorCode errorCode);

private slots:
    void relayReadDone();
    void relayWriteDone();
    void relayErrorShort(short code);
    void relayErrorInt(int code);

private:
    QVariant property(const char* name) const;
    void setProperty(const char* name, const QVariant& value);
    // Calls the control's method `name` taking args.size() arguments; the
    // result is invalid when there is no such method or it returns nothing.
    QVariant invoke(const char* name, const QVariantList& args, bool* found = nullptr) const;
    void connectEvents();

    QString name_;
    QPointer<QObject> control_;
    QStringList missing_;
    int pollInterval_ = 0;
};

} // namespace chronel
