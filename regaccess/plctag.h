#pragma once
// PLCTAG, the register-access control.
//
// A host describes one Modbus request by properties (Host, Adapter, RegType,
// Function, Address, Size, RoutePath), starts it with Trigger() or repeats it
// with AutoPoll(), and is told the outcome by OnReadDone, OnWriteDone or
// OnErrorEvent. Data travel through a 512-byte register buffer that the typed
// accessors (WordVal, BitVal, LongVal, FloatVal, StrVal, …) read and write.
//
// Requests for a TCP/IP adapter that PLCDRV does not run are performed here
// over Modbus TCP, synchronously: the completion event fires before Trigger()
// returns and Busy never becomes TRUE. Every other adapter's request goes to
// PLCDRV; Busy is TRUE until the driver's completion message has been handled
// and its event fired. transport_choice.h tells hosts which one a request
// takes.
//
// Every property, method and event carries the name hosts bind to; numeric
// dispatch identifiers are served by regaccess/dispatch.h. Values declared
// 16-bit are kept as their low 16 bits (a 16-bit signed number).
//
// Thread safety: a control is single-threaded. It lives on the thread that
// created it (the host's window thread, which must run a Qt event loop for
// driver completions and automatic polling), and every call, signal and timer
// tick happens on that thread. Event handlers run synchronously inside the
// call that fires them; they should not destroy the control directly
// (deleteLater() is fine).
#include "regaccess/plctag_export.h"
#include "regaccess/request_properties.h"

#include "platform/error_code.h"
#include "platform/window_messages.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

namespace regaccess {

class ControlSite;
class PlctagPrivate;
class RegisterBuffer;

class PLCTAG_EXPORT Plctag : public QObject {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "PLCTAGLib.Plctag")
    Q_CLASSINFO("Description", "Plctag Control")

    // Request description, persisted with the host.
    Q_PROPERTY(QString Host READ Host WRITE setHost)
    Q_PROPERTY(int Adapter READ Adapter WRITE setAdapter)
    Q_PROPERTY(int TimeToLive READ TimeToLive WRITE setTimeToLive)
    Q_PROPERTY(int Port READ Port WRITE setPort)
    Q_PROPERTY(qint32 Address READ Address WRITE setAddress)
    Q_PROPERTY(int RegType READ RegType WRITE setRegType)
    Q_PROPERTY(int Function READ Function WRITE setFunction)
    Q_PROPERTY(QString RoutePath READ RoutePath WRITE setRoutePath)
    Q_PROPERTY(int Size READ Size WRITE setSize)
    Q_PROPERTY(qint32 SlaveReg READ SlaveReg WRITE setSlaveReg)
    // State.
    Q_PROPERTY(bool Busy READ Busy)
    Q_PROPERTY(QString StrVal READ StrVal WRITE setStrVal)
    Q_PROPERTY(qint32 DataPtr READ DataPtr)
    Q_PROPERTY(int ErrorCode READ ErrorCode)
    // The element cursor and the values it selects.
    Q_PROPERTY(int ElementIndex READ ElementIndex WRITE setElementIndex)
    Q_PROPERTY(int BitIndex READ BitIndex WRITE setBitIndex)
    Q_PROPERTY(bool valBit READ valBit WRITE setValBit)
    Q_PROPERTY(int valByte READ valByte WRITE setValByte)
    Q_PROPERTY(int valWord READ valWord WRITE setValWord)
    Q_PROPERTY(int valBCD READ valBCD WRITE setValBCD)
    Q_PROPERTY(qint32 valLong READ valLong WRITE setValLong)
    Q_PROPERTY(qint32 valBCDLong READ valBCDLong WRITE setValBCDLong)
    Q_PROPERTY(float valFloat READ valFloat WRITE setValFloat)

public:
    enum ADAPTER_PROP { Adapter0, Adapter1, Adapter2, Adapter3, Adapter4, Adapter5, Adapter6, Adapter7 };
    Q_ENUM(ADAPTER_PROP)
    enum REG_TYPE_PROP {
        Coils_0xxxx = RegTypeCoils,
        InputBits_1xxxx = RegTypeInputBits,
        InputRegs_3xxxx = RegTypeInputRegs,
        HoldRegs_4xxxx = RegTypeHoldRegs,
    };
    Q_ENUM(REG_TYPE_PROP)
    // Functions 2 … 12 have names in request_properties.h only.
    enum FUNCTION_PROP { ReadRegs = FunctionRead, WriteRegs = FunctionWrite };
    Q_ENUM(FUNCTION_PROP)

    // Error codes the control raises itself (the device's exception codes
    // and socket error numbers are reported as they are); all of them are
    // named in platform/error_code.h.
    static constexpr int RequestNotBuilt = platform::errorNumber(platform::ErrorCode::RequestRefused);

    // Creating a control creates its window; the first control created in
    // user mode in a process starts PLCDRV. `site` may be shared and may be
    // null (user mode, enabled).
    explicit Plctag(QObject* parent = nullptr, ControlSite* site = nullptr);
    ~Plctag() override;

    ControlSite* site() const;
    bool userMode() const;
    bool enabled() const;

    QString Host() const;
    void setHost(const QString& host);
    int Adapter() const;
    // A value above 7 is stored as 7.
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
    void setRoutePath(const QString& routePath);
    int Size() const;
    void setSize(int size);
    qint32 SlaveReg() const;
    void setSlaveReg(qint32 slaveReg);

    bool Busy() const;
    // Low 32 bits of the register buffer's address; C++ hosts use registerBuffer().
    qint32 DataPtr() const;
    int ErrorCode() const;

    // Empty in design mode; else 2 × Size characters, zero bytes included.
    QString StrVal() const;
    // Ignored in design mode or when disabled. Stores the text's first 512
    // bytes (Latin-1) and sets Size to the words used.
    void setStrVal(const QString& text);

    int ElementIndex() const;
    void setElementIndex(int index);
    int BitIndex() const;
    void setBitIndex(int index);
    bool valBit() const;
    void setValBit(bool value);
    int valByte() const;
    void setValByte(int value);
    int valWord() const;
    void setValWord(int value);
    int valBCD() const;
    void setValBCD(int value);
    qint32 valLong() const;
    void setValLong(qint32 value);
    qint32 valBCDLong() const;
    void setValBCDLong(qint32 value);
    float valFloat() const;
    void setValFloat(float value);

    // Parameterised properties: the get takes the index, the put the index
    // and then the value. Indexes are clamped into the buffer.
    Q_INVOKABLE bool BitVal(int wordIndex, int bitIndex) const;
    Q_INVOKABLE void setBitVal(int wordIndex, int bitIndex, bool value);
    Q_INVOKABLE int ByteVal(int byteIndex) const;
    Q_INVOKABLE void setByteVal(int byteIndex, int value);
    Q_INVOKABLE int WordVal(int wordIndex) const;
    Q_INVOKABLE void setWordVal(int wordIndex, int value);
    Q_INVOKABLE int BCDVal(int wordIndex) const;
    Q_INVOKABLE void setBCDVal(int wordIndex, int value);
    Q_INVOKABLE float FloatVal(int floatIndex) const;
    Q_INVOKABLE void setFloatVal(int floatIndex, float value);
    Q_INVOKABLE qint32 LongVal(int longIndex) const;
    Q_INVOKABLE void setLongVal(int longIndex, qint32 value);
    Q_INVOKABLE qint32 BCDLong(int bcdLongIndex) const;
    Q_INVOKABLE void setBCDLong(int bcdLongIndex, qint32 value);

    // Starts the request the properties describe. FALSE in design mode, when
    // disabled, when the request cannot be built or handed over, or when a
    // TCP exchange fails; TRUE while a driver request is outstanding.
    Q_INVOKABLE bool Trigger();
    // The unsolicited-message service is not offered: both return FALSE.
    Q_INVOKABLE bool UnsolicitedMsgStart();
    Q_INVOKABLE bool UnsolicitedMsgStop();
    Q_INVOKABLE bool WatchPointDelete(int PtType, int PtWIndex, int PtBIndex);
    Q_INVOKABLE bool WatchPointSuspend(int PtType, int PtWIndex, int PtBIndex);
    Q_INVOKABLE bool WatchPointActivate(int PtType, int PtWIndex, int PtBIndex);
    // An invalid QVariant limit is "not given" and keeps the earlier limit.
    Q_INVOKABLE bool WatchPointAdd(int PtType, int Index1, int Index2, int EventFlags, const QVariant& LowLimit,
        const QVariant& HighLimit, bool ActiveFlag);
    // Interval in milliseconds; 0 stops polling. Any other value triggers at
    // once; a positive one then triggers every Interval ms.
    Q_INVOKABLE bool AutoPoll(int Interval);
    Q_INVOKABLE void AboutBox();

    // The window that receives the driver's completion message.
    platform::WindowHandle windowHandle() const;
    const RegisterBuffer& registerBuffer() const;
    int pollInterval() const;
    int watchPointCount() const;
    // Set by every change of a persisted property; the host clears it once it
    // has saved the control.
    bool isModified() const;
    void setModified(bool modified);

signals:
    void OnReadDone();
    void OnWriteDone();
    void OnErrorEvent(int nErrorCode);
    void OnDiscreteChange(int WordIndex, int BitIndex, const QVariant& CurrentVal, const QVariant& PreviousVal);
    void OnAnalogLow(
        int PtType, int PtIndex, const QVariant& CurrentVal, const QVariant& PreviousVal, const QVariant& LowerLimit);
    void OnAnalogHigh(
        int PtType, int PtIndex, const QVariant& CurrentVal, const QVariant& PreviousVal, const QVariant& UpperLimit);
    void OnAnalogNormal(int PtType, int PtIndex, const QVariant& CurrentVal, const QVariant& PreviousVal);
    void OnAnalogChange(int PtType, int PtIndex, const QVariant& CurrentVal, const QVariant& PreviousVal);
    // Part of the event interface; the unsolicited service is not offered, so
    // it never fires.
    void OnPLCWriteNotify(int nLogicalAdapter, const QString& sFromNode, int nWords);

private:
    void markModified();

    // Everything else the control holds lives behind this pointer, so that
    // the installed header shows no internals and the class keeps its size
    // across minor releases.
    std::unique_ptr<PlctagPrivate> d_;
};

} // namespace regaccess
