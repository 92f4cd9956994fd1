#include "regaccess/property_bag.h"

#include "regaccess/member_access.h"
#include "regaccess/members.h"
#include "regaccess/plctag.h"

#include <QDataStream>
#include <QSettings>

namespace regaccess {

namespace {

// The stream encoding is fixed so that a form saved today loads with any
// later Qt.
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_0;

QString VersionError(quint64 version)
{
    return QStringLiteral("The PLCTAG settings were saved with version 0x%1, which this control (version 0x%2) "
                          "does not know; they were not loaded.")
        .arg(version, 0, 16)
        .arg(PropertyVersion, 0, 16);
}

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

PersistedProperties persistedProperties(const Plctag& control)
{
    PersistedProperties values;
    for (const Member* member : persistedMembers())
        member->access->persisted->store(control, values);
    return values;
}

void applyPersistedProperties(Plctag& control, const PersistedProperties& values)
{
    for (const Member* member : persistedMembers())
        member->access->persisted->apply(control, values);
    control.setModified(false);
}

void saveProperties(const Plctag& control, QSettings& settings)
{
    const PersistedProperties values = persistedProperties(control);
    settings.setValue(QStringLiteral("Version"), PropertyVersion);
    for (const Member* member : persistedMembers())
        settings.setValue(QLatin1String(member->name), member->access->persisted->value(values));
}

bool loadProperties(Plctag& control, QSettings& settings, QString* error)
{
    if (settings.contains(QStringLiteral("Version"))) {
        bool ok = false;
        const qlonglong version = settings.value(QStringLiteral("Version")).toLongLong(&ok);
        if (!ok || version != PropertyVersion) {
            SetError(error, VersionError(ok ? static_cast<quint64>(version) : 0));
            return false;
        }
    }
    PersistedProperties values;
    for (const Member* member : persistedMembers()) {
        const QString key = QLatin1String(member->name);
        if (!settings.contains(key))
            continue;
        if (!member->access->persisted->setValue(values, settings.value(key))) {
            SetError(error,
                QStringLiteral("The stored PLCTAG setting %1 is not a valid value; the settings were not loaded.")
                    .arg(key));
            return false;
        }
    }
    applyPersistedProperties(control, values);
    return true;
}

void saveProperties(const Plctag& control, QDataStream& stream)
{
    stream.setVersion(StreamVersion);
    const PersistedProperties values = persistedProperties(control);
    stream << static_cast<quint32>(PropertyVersion);
    for (const Member* member : persistedMembers()) {
        stream << QString::fromLatin1(member->name);
        member->access->persisted->write(stream, values);
    }
}

bool loadProperties(Plctag& control, QDataStream& stream, QString* error)
{
    stream.setVersion(StreamVersion);
    quint32 version = 0;
    stream >> version;
    if (stream.status() != QDataStream::Ok) {
        SetError(
            error, QStringLiteral("The PLCTAG settings stream is empty or damaged; the settings were not loaded."));
        return false;
    }
    if (version != PropertyVersion) {
        SetError(error, VersionError(version));
        return false;
    }
    PersistedProperties values;
    for (const Member* member : persistedMembers()) {
        QString storedName;
        stream >> storedName;
        member->access->persisted->read(stream, values);
        if (stream.status() != QDataStream::Ok || storedName != QLatin1String(member->name)) {
            SetError(error, QStringLiteral("The PLCTAG settings stream is damaged; the settings were not loaded."));
            return false;
        }
    }
    applyPersistedProperties(control, values);
    return true;
}

} // namespace regaccess
