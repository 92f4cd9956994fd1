#pragma once
// The transports of one control and the choice among them, in one place:
// every Trigger() asks forRequest() which transport carries its request, and
// transportFor() (transport_choice.h) answers hosts by the same rule.
#include "regaccess/adapter_settings.h"
#include "regaccess/driver_transport.h"
#include "regaccess/tcp_transport.h"
#include "regaccess/transport_choice.h"

#include <QString>

class QObject;

namespace regaccess {

// Modbus TCP when the adapter is a TCP/IP adapter that the driver does not
// run (Enabled 0) and a host is named; every other adapter belongs to the
// driver.
TransportKind ChooseTransport(const AdapterConfig& config, const QString& host);

class TransportSet {
public:
    // `owner` and `completion` are the driver transport's (driver_transport.h).
    TransportSet(QObject* owner, DriverTransport::Completion completion);

    // The transport of a request for adapter `adapterNumber` (1 … 8) to
    // `host`, by PLCDRV.INI as it is now.
    Transport& forRequest(int adapterNumber, const QString& host);
    Transport& of(TransportKind kind);
    DriverTransport& driver() { return driver_; }

private:
    TcpTransport tcp_;
    DriverTransport driver_;
};

} // namespace regaccess
