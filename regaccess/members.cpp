#include "regaccess/members.h"

#include "regaccess/member_access.h"
#include "regaccess/plctag.h"
#include "regaccess/property_bag.h"

#include <QDataStream>

#include <array>
#include <limits>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace regaccess {

namespace {

// A property's value argument, converted as its type says.
template <ValueType T> auto Argument(Arguments& a, int i)
{
    if constexpr (T == ValueType::Bool)
        return a.boolean(i);
    else if constexpr (T == ValueType::Int16)
        return a.i16(i);
    else if constexpr (T == ValueType::Word)
        return a.word(i);
    else if constexpr (T == ValueType::Int32)
        return a.i32(i);
    else if constexpr (T == ValueType::Float)
        return a.single(i);
    else {
        static_assert(T == ValueType::Text);
        return a.text(i);
    }
}

// An index or a method's argument: ints are 16-bit, the rest as declared.
template <typename P> P Parameter(Arguments& a, int i)
{
    if constexpr (std::is_same_v<P, bool>)
        return a.boolean(i);
    else if constexpr (std::is_same_v<P, QVariant>)
        return a.raw(i);
    else {
        static_assert(std::is_same_v<P, int>);
        return a.i16(i);
    }
}

template <typename> struct Signature;
template <typename R, typename... P> struct Signature<R (Plctag::*)(P...)> {
    using Result = R;
    using Parameters = std::tuple<std::decay_t<P>...>;
    static constexpr int count = sizeof...(P);
};
template <typename R, typename... P> struct Signature<R (Plctag::*)(P...) const> : Signature<R (Plctag::*)(P...)> {
};

template <typename Tuple, std::size_t... I> Tuple Parameters(Arguments& a, std::index_sequence<I...>)
{
    // A braced list converts from left to right, so the first argument that
    // does not convert is the one reported.
    return Tuple{Parameter<std::tuple_element_t<I, Tuple>>(a, static_cast<int>(I))...};
}

template <typename R> constexpr ValueType ResultType()
{
    if constexpr (std::is_void_v<R>)
        return ValueType::None;
    else {
        static_assert(std::is_same_v<R, bool>);
        return ValueType::Bool;
    }
}

// A getter (with its indexes) or a method (with its arguments).
template <auto M> QVariant Call(Plctag& control, Arguments& a)
{
    using S = Signature<decltype(M)>;
    auto values = Parameters<typename S::Parameters>(a, std::make_index_sequence<S::count>());
    if (a.error() != DispatchError::None)
        return {};
    const auto invoke = [&control](auto&&... v) { return (control.*M)(v...); };
    if constexpr (std::is_void_v<typename S::Result>) {
        std::apply(invoke, values);
        return {};
    } else {
        return QVariant(std::apply(invoke, values));
    }
}

// A setter: its indexes (16-bit), then the value as `T` converts it.
template <auto Set, ValueType T> void Put(Plctag& control, Arguments& a)
{
    constexpr int indexes = Signature<decltype(Set)>::count - 1;
    std::array<int, indexes> at{};
    for (int i = 0; i < indexes; ++i)
        at[static_cast<std::size_t>(i)] = a.i16(i);
    const auto value = Argument<T>(a, indexes);
    if (a.error() != DispatchError::None)
        return;
    if constexpr (indexes == 0)
        (control.*Set)(value);
    else if constexpr (indexes == 1)
        (control.*Set)(at[0], value);
    else
        (control.*Set)(at[0], at[1], value);
}

template <typename Int> std::optional<Int> IntegerOf(const QVariant& value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(number);
}

template <typename> struct FieldOf;
template <typename F> struct FieldOf<F PersistedProperties::*> {
    using Type = F;
};

// A saved property: its field of PersistedProperties and the field's stored forms.
template <auto Get, auto Set, auto Field>
constexpr PersistedAccess persistedAccess{
    [](const Plctag& control, PersistedProperties& values) {
        using F = typename FieldOf<decltype(Field)>::Type;
        values.*Field = static_cast<F>((control.*Get)());
    },
    [](Plctag& control, const PersistedProperties& values) { (control.*Set)(values.*Field); },
    [](const PersistedProperties& values) {
        using F = typename FieldOf<decltype(Field)>::Type;
        if constexpr (std::is_same_v<F, QString>)
            return QVariant(values.*Field);
        else
            return QVariant(static_cast<int>(values.*Field));
    },
    [](PersistedProperties& values, const QVariant& value) {
        using F = typename FieldOf<decltype(Field)>::Type;
        if constexpr (std::is_same_v<F, QString>) {
            values.*Field = value.toString();
            return true;
        } else {
            const std::optional<F> number = IntegerOf<F>(value);
            if (number)
                values.*Field = *number;
            return number.has_value();
        }
    },
    [](QDataStream& stream, const PersistedProperties& values) { stream << values.*Field; },
    [](QDataStream& stream, PersistedProperties& values) { stream >> values.*Field; },
};

template <auto Get, auto Set, ValueType T> constexpr MemberAccess propertyAccess{&Call<Get>, &Put<Set, T>, nullptr};
template <auto Get, auto Set, ValueType T, auto Field>
constexpr MemberAccess savedAccess{&Call<Get>, &Put<Set, T>, &persistedAccess<Get, Set, Field>};
template <auto Get> constexpr MemberAccess getOnlyAccess{&Call<Get>, nullptr, nullptr};

// The rows, by shape.
template <auto Get, auto Set, ValueType T> constexpr Member Property(int id, const char* name)
{
    return {id, name, MemberShape::Property, T, 0, -1, &propertyAccess<Get, Set, T>};
}
template <auto Get, auto Set, ValueType T, auto Field> constexpr Member Saved(int id, const char* name, int at)
{
    return {id, name, MemberShape::Property, T, 0, at, &savedAccess<Get, Set, T, Field>};
}
template <auto Get, ValueType T> constexpr Member ReadOnly(int id, const char* name)
{
    return {id, name, MemberShape::ReadOnlyProperty, T, 0, -1, &getOnlyAccess<Get>};
}
template <auto Get, auto Set, ValueType T> constexpr Member Indexed(int id, const char* name)
{
    return {
        id, name, MemberShape::IndexedProperty, T, Signature<decltype(Get)>::count, -1, &propertyAccess<Get, Set, T>};
}
template <auto M> constexpr Member Method(int id, const char* name)
{
    using S = Signature<decltype(M)>;
    return {id, name, MemberShape::Method, ResultType<typename S::Result>(), S::count, -1, &getOnlyAccess<M>};
}

using P = Plctag;
using V = ValueType;
using SavedForm = PersistedProperties;

// Saved properties name their place in the saved form (property_bag.h).
constexpr Member Members[] = {
    Saved<&P::Host, &P::setHost, V::Text, &SavedForm::host>(dispid::Host, "Host", 0),
    Saved<&P::Adapter, &P::setAdapter, V::Int16, &SavedForm::adapter>(dispid::Adapter, "Adapter", 4),
    Saved<&P::TimeToLive, &P::setTimeToLive, V::Int16, &SavedForm::timeToLive>(dispid::TimeToLive, "TimeToLive", 2),
    Saved<&P::Port, &P::setPort, V::Int16, &SavedForm::port>(dispid::Port, "Port", 1),
    Saved<&P::Address, &P::setAddress, V::Int32, &SavedForm::address>(dispid::Address, "Address", 7),
    Saved<&P::RegType, &P::setRegType, V::Int16, &SavedForm::regType>(dispid::RegType, "RegType", 6),
    Saved<&P::Function, &P::setFunction, V::Int16, &SavedForm::function>(dispid::Function, "Function", 5),
    Saved<&P::RoutePath, &P::setRoutePath, V::Text, &SavedForm::routePath>(dispid::RoutePath, "RoutePath", 3),
    Saved<&P::Size, &P::setSize, V::Int16, &SavedForm::size>(dispid::Size, "Size", 8),
    Saved<&P::SlaveReg, &P::setSlaveReg, V::Int32, &SavedForm::slaveReg>(dispid::SlaveReg, "SlaveReg", 9),
    ReadOnly<&P::Busy, V::Bool>(dispid::Busy, "Busy"),
    Property<&P::StrVal, &P::setStrVal, V::Text>(dispid::StrVal, "StrVal"),
    ReadOnly<&P::DataPtr, V::Int32>(dispid::DataPtr, "DataPtr"),
    ReadOnly<&P::ErrorCode, V::Int16>(dispid::ErrorCode, "ErrorCode"),
    Property<&P::ElementIndex, &P::setElementIndex, V::Int16>(dispid::ElementIndex, "ElementIndex"),
    Property<&P::BitIndex, &P::setBitIndex, V::Int16>(dispid::BitIndex, "BitIndex"),
    Property<&P::valBit, &P::setValBit, V::Bool>(dispid::valBit, "valBit"),
    Property<&P::valByte, &P::setValByte, V::Word>(dispid::valByte, "valByte"),
    Property<&P::valWord, &P::setValWord, V::Word>(dispid::valWord, "valWord"),
    Property<&P::valBCD, &P::setValBCD, V::Int16>(dispid::valBCD, "valBCD"),
    Property<&P::valLong, &P::setValLong, V::Int32>(dispid::valLong, "valLong"),
    Property<&P::valBCDLong, &P::setValBCDLong, V::Int32>(dispid::valBCDLong, "valBCDLong"),
    Property<&P::valFloat, &P::setValFloat, V::Float>(dispid::valFloat, "valFloat"),
    Method<&P::Trigger>(dispid::Trigger, "Trigger"),
    Method<&P::UnsolicitedMsgStart>(dispid::UnsolicitedMsgStart, "UnsolicitedMsgStart"),
    Method<&P::UnsolicitedMsgStop>(dispid::UnsolicitedMsgStop, "UnsolicitedMsgStop"),
    Method<&P::WatchPointDelete>(dispid::WatchPointDelete, "WatchPointDelete"),
    Method<&P::WatchPointSuspend>(dispid::WatchPointSuspend, "WatchPointSuspend"),
    Method<&P::WatchPointActivate>(dispid::WatchPointActivate, "WatchPointActivate"),
    Method<&P::WatchPointAdd>(dispid::WatchPointAdd, "WatchPointAdd"),
    Method<&P::AutoPoll>(dispid::AutoPoll, "AutoPoll"),
    Indexed<&P::BitVal, &P::setBitVal, V::Bool>(dispid::BitVal, "BitVal"),
    Indexed<&P::ByteVal, &P::setByteVal, V::Word>(dispid::ByteVal, "ByteVal"),
    Indexed<&P::WordVal, &P::setWordVal, V::Word>(dispid::WordVal, "WordVal"),
    Indexed<&P::BCDVal, &P::setBCDVal, V::Int16>(dispid::BCDVal, "BCDVal"),
    Indexed<&P::FloatVal, &P::setFloatVal, V::Float>(dispid::FloatVal, "FloatVal"),
    Indexed<&P::LongVal, &P::setLongVal, V::Int32>(dispid::LongVal, "LongVal"),
    Indexed<&P::BCDLong, &P::setBCDLong, V::Int32>(dispid::BCDLong, "BCDLong"),
    Method<&P::AboutBox>(dispid::AboutBox, "AboutBox"),
};

constexpr std::size_t SavedCount = [] {
    std::size_t count = 0;
    for (const Member& m : Members)
        count += m.persistedAt >= 0 ? 1 : 0;
    return count;
}();

// Out of range fails to compile; a place taken twice leaves another empty.
constexpr std::array<const Member*, SavedCount> SavedInOrder = [] {
    std::array<const Member*, SavedCount> order{};
    for (const Member& m : Members) {
        if (m.persistedAt >= 0)
            order[static_cast<std::size_t>(m.persistedAt)] = &m;
    }
    return order;
}();
static_assert([] {
    for (const Member* m : SavedInOrder)
        if (m == nullptr)
            return false;
    return true;
}());

} // namespace

std::span<const Member> controlMembers() { return Members; }

const Member* memberOfDispId(int dispId)
{
    if (dispId == dispid::Value)
        dispId = dispid::Host;
    for (const Member& m : Members) {
        if (m.dispId == dispId)
            return &m;
    }
    return nullptr;
}

const Member* memberOfName(QStringView name)
{
    for (const Member& m : Members) {
        if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0)
            return &m;
    }
    return nullptr;
}

std::span<const Member* const> persistedMembers() { return SavedInOrder; }

} // namespace regaccess
