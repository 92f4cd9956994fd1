#pragma once
// How the member table (members.h) reaches each member: its accessors, with
// the arguments converted the way automation coercion converts them, and for
// the saved properties their field of PersistedProperties and its stored
// forms. members.cpp fills it; dispatch.cpp and property_bag.cpp call
// through it.
#include "regaccess/dispatch.h"
#include "regaccess/members.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <cmath>
#include <cstdint>
#include <limits>

class QDataStream;

namespace regaccess {

class Plctag;
struct PersistedProperties;

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

struct PersistedAccess {
    void (*store)(const Plctag&, PersistedProperties&); // the control's value into its field
    void (*apply)(Plctag&, const PersistedProperties&); // the field's value into the control
    QVariant (*value)(const PersistedProperties&);      // the field as a QSettings value
    // False when `value` is not of the field's type and range.
    bool (*setValue)(PersistedProperties&, const QVariant& value);
    void (*write)(QDataStream&, const PersistedProperties&);
    void (*read)(QDataStream&, PersistedProperties&);
};

struct MemberAccess {
    // A property's value (its indexes first among the arguments), or a
    // method's result (invalid for one that returns nothing).
    QVariant (*get)(Plctag&, Arguments&);
    // A property's put: its indexes, then the value. Stores nothing unless
    // every argument converted. Null for read-only properties and methods.
    void (*put)(Plctag&, Arguments&);
    const PersistedAccess* persisted; // null when not saved
};

} // namespace regaccess
