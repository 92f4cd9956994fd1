#pragma once
// Late binding: hosts reach the control's members by their numeric dispatch
// identifiers (DISPIDs), which are a fixed contract, or by name; members.h
// tables each member under both. A property
// get, a property put and a method call are told apart by DispatchKind; as
// with automation hosts, a method call on a property reads it, so
// invoke(control, 34, Method, {3}) and invoke(control, 34, PropertyGet, {3})
// both read WordVal(3).
//
// Arguments are converted to the member's declared type; a value that does
// not fit a 16-bit parameter is refused with Overflow rather than cut. The
// value put into WordVal, valWord, ByteVal or valByte may also be given as
// an unsigned 16-bit number (0 … 65535).
#include "regaccess/plctag_export.h"

#include <QString>
#include <QStringView>
#include <QVariant>
#include <QVariantList>

#include <optional>

namespace regaccess {

class Plctag;

namespace dispid {
enum : int {
    Value = 0, // the default property: Host
    Host = 1,
    Adapter = 2,
    TimeToLive = 3,
    Port = 4,
    Address = 5,
    RegType = 6,
    Function = 7,
    RoutePath = 8,
    Size = 9,
    SlaveReg = 10,
    Busy = 11,
    StrVal = 12,
    DataPtr = 13,
    ErrorCode = 14,
    ElementIndex = 15,
    BitIndex = 16,
    valBit = 17,
    valByte = 18,
    valWord = 19,
    valBCD = 20,
    valLong = 21,
    valBCDLong = 22,
    valFloat = 23,
    Trigger = 24,
    UnsolicitedMsgStart = 25,
    UnsolicitedMsgStop = 26,
    WatchPointDelete = 27,
    WatchPointSuspend = 28,
    WatchPointActivate = 29,
    WatchPointAdd = 30,
    AutoPoll = 31,
    BitVal = 32,
    ByteVal = 33,
    WordVal = 34,
    BCDVal = 35,
    FloatVal = 36,
    LongVal = 37,
    BCDLong = 38,
    AboutBox = -552,
};

// The event interface: DISPID = position.
enum Event : int {
    OnReadDone = 1,
    OnWriteDone = 2,
    OnErrorEvent = 3,
    OnDiscreteChange = 4,
    OnAnalogLow = 5,
    OnAnalogHigh = 6,
    OnAnalogNormal = 7,
    OnAnalogChange = 8,
    OnPLCWriteNotify = 9,
};
} // namespace dispid

enum class DispatchKind { Method, PropertyGet, PropertyPut };

enum class DispatchError {
    None,
    UnknownMember, // no such DISPID, or the kind does not apply (put on a method)
    ReadOnly,      // put on a read-only property
    BadArgumentCount,
    TypeMismatch, // an argument cannot be converted to the parameter's type
    Overflow,     // an argument does not fit the parameter's width
};

struct DispatchResult {
    DispatchError error = DispatchError::None;
    QVariant value; // the result of a get or a method; invalid for puts and void methods
    bool ok() const { return error == DispatchError::None; }
};

// Case-insensitive, as automation names are; nullopt for an unknown name.
PLCTAG_EXPORT std::optional<int> dispIdOfName(QStringView name);
// The member's name; empty for an unknown DISPID. DISPID 0 names Host.
PLCTAG_EXPORT QString nameOfDispId(int id);
PLCTAG_EXPORT QString eventName(int eventId);

PLCTAG_EXPORT DispatchResult invoke(Plctag& control, int id, DispatchKind kind, const QVariantList& args = {});

} // namespace regaccess
