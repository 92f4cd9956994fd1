#pragma once
// The control's design-time settings as a host stores them with its form:
// the ten saved properties of members.h, always in their order, under their
// names and with the types below, after the version stamp 0x40000. Two
// forms: a QSettings group (a property bag, missing values take their
// defaults) and a QDataStream (a property stream, complete or refused).
//
// Loading never changes the control halfway: every value is read and
// checked first, and only a complete, valid set is applied.
#include "regaccess/plctag_export.h"

#include <QString>

#include <cstdint>

class QDataStream;
class QSettings;

namespace regaccess {

class Plctag;

constexpr std::uint32_t PropertyVersion = 0x40000;

// Their values; the defaults are a new control's.
struct PersistedProperties {
    QString host = QStringLiteral("127.0.0.1");
    std::int16_t port = 8001;
    std::int16_t timeToLive = 500;
    QString routePath = QStringLiteral("1.0.0.0.0");
    std::int16_t adapter = 0;
    std::int16_t function = 0;
    std::int16_t regType = 0;
    std::int32_t address = 1;
    std::int16_t size = 1;
    std::int32_t slaveReg = 40001;

    bool operator==(const PersistedProperties&) const = default;
};

PLCTAG_EXPORT PersistedProperties persistedProperties(const Plctag& control);
// Sets the ten properties; the control then counts as saved (not modified).
PLCTAG_EXPORT void applyPersistedProperties(Plctag& control, const PersistedProperties& values);

// Writes "Version" and the ten values into the settings' current group.
PLCTAG_EXPORT void saveProperties(const Plctag& control, QSettings& settings);
// Reads the current group. Refused, with `error` set and the control left as
// it was, when "Version" is present and not 0x40000 or a value is not of its
// property's type and range.
PLCTAG_EXPORT bool loadProperties(Plctag& control, QSettings& settings, QString* error = nullptr);

// Writes the version stamp, then each property as its name and its value.
PLCTAG_EXPORT void saveProperties(const Plctag& control, QDataStream& stream);
// Refused, with `error` set and the control left as it was, for another
// version stamp, a damaged or short stream, or names out of order.
PLCTAG_EXPORT bool loadProperties(Plctag& control, QDataStream& stream, QString* error = nullptr);

} // namespace regaccess
