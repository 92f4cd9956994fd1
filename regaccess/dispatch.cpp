#include "regaccess/dispatch.h"

#include "regaccess/plctag.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace regaccess {

namespace {

struct MemberName {
    int id;
    const char* name;
};

constexpr std::array<MemberName, 39> Members{{
    {dispid::Host, "Host"},
    {dispid::Adapter, "Adapter"},
    {dispid::TimeToLive, "TimeToLive"},
    {dispid::Port, "Port"},
    {dispid::Address, "Address"},
    {dispid::RegType, "RegType"},
    {dispid::Function, "Function"},
    {dispid::RoutePath, "RoutePath"},
    {dispid::Size, "Size"},
    {dispid::SlaveReg, "SlaveReg"},
    {dispid::Busy, "Busy"},
    {dispid::StrVal, "StrVal"},
    {dispid::DataPtr, "DataPtr"},
    {dispid::ErrorCode, "ErrorCode"},
    {dispid::ElementIndex, "ElementIndex"},
    {dispid::BitIndex, "BitIndex"},
    {dispid::valBit, "valBit"},
    {dispid::valByte, "valByte"},
    {dispid::valWord, "valWord"},
    {dispid::valBCD, "valBCD"},
    {dispid::valLong, "valLong"},
    {dispid::valBCDLong, "valBCDLong"},
    {dispid::valFloat, "valFloat"},
    {dispid::Trigger, "Trigger"},
    {dispid::UnsolicitedMsgStart, "UnsolicitedMsgStart"},
    {dispid::UnsolicitedMsgStop, "UnsolicitedMsgStop"},
    {dispid::WatchPointDelete, "WatchPointDelete"},
    {dispid::WatchPointSuspend, "WatchPointSuspend"},
    {dispid::WatchPointActivate, "WatchPointActivate"},
    {dispid::WatchPointAdd, "WatchPointAdd"},
    {dispid::AutoPoll, "AutoPoll"},
    {dispid::BitVal, "BitVal"},
    {dispid::ByteVal, "ByteVal"},
    {dispid::WordVal, "WordVal"},
    {dispid::BCDVal, "BCDVal"},
    {dispid::FloatVal, "FloatVal"},
    {dispid::LongVal, "LongVal"},
    {dispid::BCDLong, "BCDLong"},
    {dispid::AboutBox, "AboutBox"},
}};

constexpr std::array<const char*, 9> Events{"OnReadDone", "OnWriteDone", "OnErrorEvent", "OnDiscreteChange",
    "OnAnalogLow", "OnAnalogHigh", "OnAnalogNormal", "OnAnalogChange", "OnPLCWriteNotify"};

// Converts arguments the way automation coercion does: numbers of any type
// and numeric text are accepted, fractions round half to even, and a value
// outside the parameter's range is an overflow.
class Arguments {
public:
    explicit Arguments(const QVariantList& args) : args_(args) { }

    int count() const { return static_cast<int>(args_.size()); }
    DispatchError error() const { return error_; }

    std::int32_t integer(int i, std::int64_t low, std::int64_t high)
    {
        const QVariant& v = args_[i];
        bool ok = false;
        double number = 0;
        if (v.typeId() == QMetaType::Bool) {
            number = v.toBool() ? -1 : 0;
            ok = true;
        } else {
            number = v.toDouble(&ok);
        }
        if (!ok || std::isnan(number))
            return fail(DispatchError::TypeMismatch);
        number = std::nearbyint(number);
        if (number < static_cast<double>(low) || number > static_cast<double>(high))
            return fail(DispatchError::Overflow);
        return static_cast<std::int32_t>(number);
    }
    int i16(int i)
    {
        return integer(i, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max());
    }
    // A 16-bit register value may also come as its unsigned reading.
    int word(int i)
    {
        return integer(i, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::uint16_t>::max());
    }
    std::int32_t i32(int i)
    {
        return integer(i, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
    }
    bool boolean(int i)
    {
        const QVariant& v = args_[i];
        if (v.typeId() == QMetaType::QString) {
            const QString text = v.toString().trimmed();
            if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                return true;
            if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
                return false;
        }
        bool ok = false;
        const double number = v.toDouble(&ok);
        if (!ok) {
            fail(DispatchError::TypeMismatch);
            return false;
        }
        return number != 0;
    }
    float single(int i)
    {
        bool ok = false;
        const double number = args_[i].toDouble(&ok);
        if (!ok)
            return static_cast<float>(fail(DispatchError::TypeMismatch));
        if (std::isfinite(number) && std::fabs(number) > std::numeric_limits<float>::max())
            return static_cast<float>(fail(DispatchError::Overflow));
        return static_cast<float>(number);
    }
    QString text(int i)
    {
        if (!args_[i].canConvert<QString>()) {
            fail(DispatchError::TypeMismatch);
            return {};
        }
        return args_[i].toString();
    }
    const QVariant& raw(int i) const { return args_[i]; }

private:
    int fail(DispatchError error)
    {
        if (error_ == DispatchError::None)
            error_ = error;
        return 0;
    }

    const QVariantList& args_;
    DispatchError error_ = DispatchError::None;
};

DispatchResult failed(DispatchError error) { return {error, {}}; }

// A property without parameters.
template <typename Get, typename Put>
DispatchResult simpleProperty(DispatchKind kind, Arguments& args, Get get, Put put)
{
    if (kind == DispatchKind::PropertyPut) {
        if (args.count() != 1)
            return failed(DispatchError::BadArgumentCount);
        put(args);
        return {args.error(), {}};
    }
    if (args.count() != 0)
        return failed(DispatchError::BadArgumentCount);
    return {DispatchError::None, get()};
}

template <typename Get> DispatchResult readOnlyProperty(DispatchKind kind, Arguments& args, Get get)
{
    if (kind == DispatchKind::PropertyPut)
        return failed(DispatchError::ReadOnly);
    if (args.count() != 0)
        return failed(DispatchError::BadArgumentCount);
    return {DispatchError::None, get()};
}

// A property with `indexes` index parameters; the put's value comes last.
template <typename Get, typename Put>
DispatchResult indexedProperty(DispatchKind kind, Arguments& args, int indexes, Get get, Put put)
{
    if (kind == DispatchKind::PropertyPut) {
        if (args.count() != indexes + 1)
            return failed(DispatchError::BadArgumentCount);
        put(args);
        return {args.error(), {}};
    }
    if (args.count() != indexes)
        return failed(DispatchError::BadArgumentCount);
    QVariant value = get(args);
    if (args.error() != DispatchError::None)
        return failed(args.error());
    return {DispatchError::None, value};
}

template <typename Call> DispatchResult method(DispatchKind kind, Arguments& args, int parameters, Call call)
{
    if (kind == DispatchKind::PropertyPut)
        return failed(DispatchError::UnknownMember);
    if (args.count() != parameters)
        return failed(DispatchError::BadArgumentCount);
    QVariant value = call(args);
    if (args.error() != DispatchError::None)
        return failed(args.error());
    return {DispatchError::None, value};
}

// Puts check the whole argument list before anything is stored.
template <typename Store> void whenConverted(Arguments& args, Store store)
{
    if (args.error() == DispatchError::None)
        store();
}

} // namespace

std::optional<int> dispIdOfName(QStringView name)
{
    for (const MemberName& member : Members) {
        if (name.compare(QLatin1String(member.name), Qt::CaseInsensitive) == 0)
            return member.id;
    }
    return std::nullopt;
}

QString nameOfDispId(int id)
{
    if (id == dispid::Value)
        id = dispid::Host;
    for (const MemberName& member : Members) {
        if (member.id == id)
            return QString::fromLatin1(member.name);
    }
    return {};
}

QString eventName(int eventId)
{
    if (eventId < 1 || eventId > static_cast<int>(Events.size()))
        return {};
    return QString::fromLatin1(Events[static_cast<std::size_t>(eventId - 1)]);
}

DispatchResult invoke(Plctag& c, int id, DispatchKind kind, const QVariantList& list)
{
    Arguments args(list);
    using A = Arguments;
    switch (id) {
    case dispid::Value:
    case dispid::Host:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Host()); },
            [&](A& a) {
                QString v = a.text(0);
                whenConverted(a, [&] { c.setHost(v); });
            });
    case dispid::Adapter:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Adapter()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setAdapter(v); });
            });
    case dispid::TimeToLive:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.TimeToLive()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setTimeToLive(v); });
            });
    case dispid::Port:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Port()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setPort(v); });
            });
    case dispid::Address:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Address()); },
            [&](A& a) {
                qint32 v = a.i32(0);
                whenConverted(a, [&] { c.setAddress(v); });
            });
    case dispid::RegType:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.RegType()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setRegType(v); });
            });
    case dispid::Function:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Function()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setFunction(v); });
            });
    case dispid::RoutePath:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.RoutePath()); },
            [&](A& a) {
                QString v = a.text(0);
                whenConverted(a, [&] { c.setRoutePath(v); });
            });
    case dispid::Size:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.Size()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setSize(v); });
            });
    case dispid::SlaveReg:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.SlaveReg()); },
            [&](A& a) {
                qint32 v = a.i32(0);
                whenConverted(a, [&] { c.setSlaveReg(v); });
            });
    case dispid::Busy: return readOnlyProperty(kind, args, [&] { return QVariant(c.Busy()); });
    case dispid::StrVal:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.StrVal()); },
            [&](A& a) {
                QString v = a.text(0);
                whenConverted(a, [&] { c.setStrVal(v); });
            });
    case dispid::DataPtr: return readOnlyProperty(kind, args, [&] { return QVariant(c.DataPtr()); });
    case dispid::ErrorCode: return readOnlyProperty(kind, args, [&] { return QVariant(c.ErrorCode()); });
    case dispid::ElementIndex:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.ElementIndex()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setElementIndex(v); });
            });
    case dispid::BitIndex:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.BitIndex()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setBitIndex(v); });
            });
    case dispid::valBit:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valBit()); },
            [&](A& a) {
                bool v = a.boolean(0);
                whenConverted(a, [&] { c.setValBit(v); });
            });
    case dispid::valByte:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valByte()); },
            [&](A& a) {
                int v = a.word(0);
                whenConverted(a, [&] { c.setValByte(v); });
            });
    case dispid::valWord:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valWord()); },
            [&](A& a) {
                int v = a.word(0);
                whenConverted(a, [&] { c.setValWord(v); });
            });
    case dispid::valBCD:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valBCD()); },
            [&](A& a) {
                int v = a.i16(0);
                whenConverted(a, [&] { c.setValBCD(v); });
            });
    case dispid::valLong:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valLong()); },
            [&](A& a) {
                qint32 v = a.i32(0);
                whenConverted(a, [&] { c.setValLong(v); });
            });
    case dispid::valBCDLong:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valBCDLong()); },
            [&](A& a) {
                qint32 v = a.i32(0);
                whenConverted(a, [&] { c.setValBCDLong(v); });
            });
    case dispid::valFloat:
        return simpleProperty(
            kind, args, [&] { return QVariant(c.valFloat()); },
            [&](A& a) {
                float v = a.single(0);
                whenConverted(a, [&] { c.setValFloat(v); });
            });
    case dispid::Trigger: return method(kind, args, 0, [&](A&) { return QVariant(c.Trigger()); });
    case dispid::UnsolicitedMsgStart:
        return method(kind, args, 0, [&](A&) { return QVariant(c.UnsolicitedMsgStart()); });
    case dispid::UnsolicitedMsgStop: return method(kind, args, 0, [&](A&) { return QVariant(c.UnsolicitedMsgStop()); });
    case dispid::WatchPointDelete:
    case dispid::WatchPointSuspend:
    case dispid::WatchPointActivate:
        return method(kind, args, 3, [&](A& a) {
            const int type = a.i16(0), word = a.i16(1), bit = a.i16(2);
            if (a.error() != DispatchError::None)
                return QVariant();
            if (id == dispid::WatchPointDelete)
                return QVariant(c.WatchPointDelete(type, word, bit));
            if (id == dispid::WatchPointSuspend)
                return QVariant(c.WatchPointSuspend(type, word, bit));
            return QVariant(c.WatchPointActivate(type, word, bit));
        });
    case dispid::WatchPointAdd:
        return method(kind, args, 7, [&](A& a) {
            const int type = a.i16(0), index1 = a.i16(1), index2 = a.i16(2), flags = a.i16(3);
            const bool active = a.boolean(6);
            if (a.error() != DispatchError::None)
                return QVariant();
            return QVariant(c.WatchPointAdd(type, index1, index2, flags, a.raw(4), a.raw(5), active));
        });
    case dispid::AutoPoll:
        return method(kind, args, 1, [&](A& a) {
            const int interval = a.i16(0);
            return a.error() == DispatchError::None ? QVariant(c.AutoPoll(interval)) : QVariant();
        });
    case dispid::AboutBox:
        return method(kind, args, 0, [&](A&) {
            c.AboutBox();
            return QVariant();
        });
    case dispid::BitVal:
        return indexedProperty(
            kind, args, 2,
            [&](A& a) {
                int w = a.i16(0), b = a.i16(1);
                return QVariant(c.BitVal(w, b));
            },
            [&](A& a) {
                int w = a.i16(0), b = a.i16(1);
                bool v = a.boolean(2);
                whenConverted(a, [&] { c.setBitVal(w, b, v); });
            });
    case dispid::ByteVal:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.ByteVal(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0), v = a.word(1);
                whenConverted(a, [&] { c.setByteVal(i, v); });
            });
    case dispid::WordVal:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.WordVal(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0), v = a.word(1);
                whenConverted(a, [&] { c.setWordVal(i, v); });
            });
    case dispid::BCDVal:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.BCDVal(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0), v = a.i16(1);
                whenConverted(a, [&] { c.setBCDVal(i, v); });
            });
    case dispid::FloatVal:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.FloatVal(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0);
                float v = a.single(1);
                whenConverted(a, [&] { c.setFloatVal(i, v); });
            });
    case dispid::LongVal:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.LongVal(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0);
                qint32 v = a.i32(1);
                whenConverted(a, [&] { c.setLongVal(i, v); });
            });
    case dispid::BCDLong:
        return indexedProperty(
            kind, args, 1, [&](A& a) { return QVariant(c.BCDLong(a.i16(0))); },
            [&](A& a) {
                int i = a.i16(0);
                qint32 v = a.i32(1);
                whenConverted(a, [&] { c.setBCDLong(i, v); });
            });
    default: return failed(DispatchError::UnknownMember);
    }
}

} // namespace regaccess
