#include "regaccess/transport_set.h"

namespace regaccess {

TransportKind ChooseTransport(const AdapterConfig& config, const QString& host)
{
    if (config.type == TcpIpAdapterType && config.enabled == 0 && !host.isEmpty())
        return TransportKind::ModbusTcp;
    return TransportKind::Driver;
}

TransportSet::TransportSet(QObject* owner, DriverTransport::Completion completion)
    : driver_(owner, std::move(completion))
{
}

Transport& TransportSet::forRequest(int adapterNumber, const QString& host)
{
    return of(ChooseTransport(ReadAdapterConfig(adapterNumber), host));
}

Transport& TransportSet::of(TransportKind kind)
{
    switch (kind) {
    case TransportKind::ModbusTcp: return tcp_;
    case TransportKind::Driver: break;
    }
    return driver_;
}

} // namespace regaccess
