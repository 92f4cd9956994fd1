#include "regaccess/property_bag.h"

#include "regaccess/plctag.h"

#include <QDataStream>
#include <QSettings>

#include <limits>
#include <optional>
#include <type_traits>

namespace regaccess {

namespace {

// The stream encoding is fixed so that a form saved today loads with any
// later Qt.
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_0;

QString versionError(quint64 version)
{
    return QStringLiteral("The PLCTAG settings were saved with version 0x%1, which this control (version 0x%2) "
                          "does not know; they were not loaded.")
        .arg(version, 0, 16)
        .arg(PropertyVersion, 0, 16);
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The ten properties in their fixed order; `visit` gets (name, field).
template <typename Values, typename Visit> void forEachProperty(Values& v, Visit&& visit)
{
    visit("Host", v.host);
    visit("Port", v.port);
    visit("TimeToLive", v.timeToLive);
    visit("RoutePath", v.routePath);
    visit("Adapter", v.adapter);
    visit("Function", v.function);
    visit("RegType", v.regType);
    visit("Address", v.address);
    visit("Size", v.size);
    visit("SlaveReg", v.slaveReg);
}

template <typename Int> std::optional<Int> integerOf(const QVariant& value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(number);
}

} // namespace

PersistedProperties persistedProperties(const Plctag& control)
{
    PersistedProperties v;
    v.host = control.Host();
    v.port = static_cast<std::int16_t>(control.Port());
    v.timeToLive = static_cast<std::int16_t>(control.TimeToLive());
    v.routePath = control.RoutePath();
    v.adapter = static_cast<std::int16_t>(control.Adapter());
    v.function = static_cast<std::int16_t>(control.Function());
    v.regType = static_cast<std::int16_t>(control.RegType());
    v.address = control.Address();
    v.size = static_cast<std::int16_t>(control.Size());
    v.slaveReg = control.SlaveReg();
    return v;
}

void applyPersistedProperties(Plctag& control, const PersistedProperties& v)
{
    control.setHost(v.host);
    control.setPort(v.port);
    control.setTimeToLive(v.timeToLive);
    control.setRoutePath(v.routePath);
    control.setAdapter(v.adapter);
    control.setFunction(v.function);
    control.setRegType(v.regType);
    control.setAddress(v.address);
    control.setSize(v.size);
    control.setSlaveReg(v.slaveReg);
    control.setModified(false);
}

void saveProperties(const Plctag& control, QSettings& settings)
{
    const PersistedProperties values = persistedProperties(control);
    settings.setValue(QStringLiteral("Version"), PropertyVersion);
    forEachProperty(values, [&](const char* name, const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, QString>)
            settings.setValue(QLatin1String(name), field);
        else
            settings.setValue(QLatin1String(name), static_cast<int>(field));
    });
}

bool loadProperties(Plctag& control, QSettings& settings, QString* error)
{
    if (settings.contains(QStringLiteral("Version"))) {
        const auto version = integerOf<qint64>(settings.value(QStringLiteral("Version")));
        if (!version || *version != PropertyVersion) {
            setError(error, versionError(version ? static_cast<quint64>(*version) : 0));
            return false;
        }
    }
    PersistedProperties values;
    QString bad;
    forEachProperty(values, [&](const char* name, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        const QString key = QLatin1String(name);
        if (!bad.isEmpty() || !settings.contains(key))
            return;
        const QVariant stored = settings.value(key);
        if constexpr (std::is_same_v<Field, QString>) {
            field = stored.toString();
        } else if (const auto number = integerOf<Field>(stored)) {
            field = *number;
        } else {
            bad = key;
        }
    });
    if (!bad.isEmpty()) {
        setError(error,
            QStringLiteral("The stored PLCTAG setting %1 is not a valid value; the settings were not loaded.")
                .arg(bad));
        return false;
    }
    applyPersistedProperties(control, values);
    return true;
}

void saveProperties(const Plctag& control, QDataStream& stream)
{
    stream.setVersion(StreamVersion);
    const PersistedProperties values = persistedProperties(control);
    stream << static_cast<quint32>(PropertyVersion);
    forEachProperty(values, [&](const char* name, const auto& field) { stream << QString::fromLatin1(name) << field; });
}

bool loadProperties(Plctag& control, QDataStream& stream, QString* error)
{
    stream.setVersion(StreamVersion);
    quint32 version = 0;
    stream >> version;
    if (stream.status() != QDataStream::Ok) {
        setError(
            error, QStringLiteral("The PLCTAG settings stream is empty or damaged; the settings were not loaded."));
        return false;
    }
    if (version != PropertyVersion) {
        setError(error, versionError(version));
        return false;
    }
    PersistedProperties values;
    bool intact = true;
    forEachProperty(values, [&](const char* name, auto& field) {
        if (!intact)
            return;
        QString storedName;
        stream >> storedName >> field;
        intact = stream.status() == QDataStream::Ok && storedName == QLatin1String(name);
    });
    if (!intact) {
        setError(error, QStringLiteral("The PLCTAG settings stream is damaged; the settings were not loaded."));
        return false;
    }
    applyPersistedProperties(control, values);
    return true;
}

} // namespace regaccess
