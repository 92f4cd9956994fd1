#pragma once
// The control's members in one table: each property and method with its
// dispatch identifier (dispatch.h), its name, its shape, the type of its
// value and, for the ten properties a host saves with its form, their place
// in the saved form (property_bag.h). Dispatch, persistence and hosts that
// bind by name read it; a new property is a row here, its accessors in
// plctag.h and its DISPID. The Q_PROPERTY list in plctag.h, which the
// meta-object needs spelled out, is checked against the table by the tests.
#include "regaccess/plctag_export.h"

#include <QStringView>

#include <span>

namespace regaccess {

enum class MemberShape {
    Property,         // get and put
    ReadOnlyProperty, // get only
    IndexedProperty,  // get with its indexes; put with its indexes, then the value
    Method,
};

// What a property holds or a method returns, as dispatch converts it. Index
// parameters and methods' int parameters are 16-bit.
enum class ValueType {
    None, // a method that returns nothing
    Bool,
    Int16,
    Word, // a 16-bit register: signed, or on a put also 0 … 65535
    Int32,
    Float,
    Text,
};

// How the library reaches a member; its own.
struct MemberAccess;

struct Member {
    int dispId;
    const char* name;
    MemberShape shape;
    ValueType type;
    int parameters;  // index parameters of an indexed property; arguments of a method
    int persistedAt; // place in the saved form; -1 when not saved
    const MemberAccess* access;
};

// Every member, in DISPID order (AboutBox last).
PLCTAG_EXPORT std::span<const Member> controlMembers();
// The member with this DISPID (0 is the default property, Host), or null.
PLCTAG_EXPORT const Member* memberOfDispId(int dispId);
// The member of this name, compared case-insensitively, or null.
PLCTAG_EXPORT const Member* memberOfName(QStringView name);
// The saved properties, in the order of the saved form.
PLCTAG_EXPORT std::span<const Member* const> persistedMembers();

} // namespace regaccess
