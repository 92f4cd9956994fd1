#include "regaccess/adapter_selection.h"

#include "platform/profile.h"

namespace regaccess {

AdapterConfig readAdapterConfig(int adapterNumber)
{
    const QString file = platform::plcdrvIniReadPath();
    const QString section = QStringLiteral("Adapter.Object.%1").arg(adapterNumber);
    AdapterConfig config;
    config.type = platform::PrivateProfile::getInt(file, section, QStringLiteral("Type"), 0);
    config.enabled = platform::PrivateProfile::getInt(file, section, QStringLiteral("Enabled"), 0);
    return config;
}

Transport chooseTransport(const AdapterConfig& config, const QString& host)
{
    if (config.type == TcpIpAdapterType && config.enabled == 0 && !host.isEmpty())
        return Transport::ModbusTcp;
    return Transport::Driver;
}

} // namespace regaccess
