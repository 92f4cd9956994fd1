#include "regaccess/dispatch.h"

#include "regaccess/member_access.h"
#include "regaccess/members.h"

#include <array>

namespace regaccess {

namespace {

constexpr std::array<const char*, 9> Events{"OnReadDone", "OnWriteDone", "OnErrorEvent", "OnDiscreteChange",
    "OnAnalogLow", "OnAnalogHigh", "OnAnalogNormal", "OnAnalogChange", "OnPLCWriteNotify"};

DispatchResult Failed(DispatchError error) { return {error, {}}; }

} // namespace

std::optional<int> dispIdOfName(QStringView name)
{
    if (const Member* member = memberOfName(name))
        return member->dispId;
    return std::nullopt;
}

QString nameOfDispId(int id)
{
    const Member* member = memberOfDispId(id);
    return member ? QString::fromLatin1(member->name) : QString();
}

QString eventName(int eventId)
{
    if (eventId < 1 || eventId > static_cast<int>(Events.size()))
        return {};
    return QString::fromLatin1(Events[static_cast<std::size_t>(eventId - 1)]);
}

DispatchResult invoke(Plctag& control, int id, DispatchKind kind, const QVariantList& list)
{
    const Member* member = memberOfDispId(id);
    if (member == nullptr)
        return Failed(DispatchError::UnknownMember);
    Arguments args(list);
    // A get takes the indexes of an indexed property or a method's
    // arguments; a put takes the same and then the value.
    const int parameters = member->parameters;
    if (kind == DispatchKind::PropertyPut) {
        if (member->shape == MemberShape::Method)
            return Failed(DispatchError::UnknownMember);
        if (member->shape == MemberShape::ReadOnlyProperty)
            return Failed(DispatchError::ReadOnly);
        if (args.count() != parameters + 1)
            return Failed(DispatchError::BadArgumentCount);
        member->access->put(control, args);
        return {args.error(), {}};
    }
    if (args.count() != parameters)
        return Failed(DispatchError::BadArgumentCount);
    QVariant value = member->access->get(control, args);
    if (args.error() != DispatchError::None)
        return Failed(args.error());
    return {DispatchError::None, value};
}

} // namespace regaccess
