#include "regaccess/transport_choice.h"

#include "regaccess/tcp_transport.h"
#include "regaccess/transport_set.h"

namespace regaccess {

const char* transportName(TransportKind kind)
{
    switch (kind) {
    case TransportKind::ModbusTcp: return "tcp";
    case TransportKind::Driver: break;
    }
    return "driver";
}

TransportChoice transportFor(int adapter, const QString& host)
{
    // Logical adapter N is the section "Adapter.Object.N+1".
    TransportChoice choice;
    choice.kind = ChooseTransport(ReadAdapterConfig(adapter + 1), host);
    if (choice.kind == TransportKind::ModbusTcp)
        choice.peer = QStringLiteral("%1:%2").arg(host).arg(ModbusTcpPort());
    return choice;
}

AdapterSettingsFailure lastAdapterSettingsFailure()
{
    const platform::ProfileReadFailure failure = LastAdapterConfigFailure();
    return {failure.file, failure.reason, failure.systemError};
}

} // namespace regaccess
