#pragma once
// Which transport carries a request: the control's own Modbus TCP client or
// the adapter driver. Decided at every Trigger from PLCDRV.INI, so that an
// edit made with the setup utility counts from the next request on.
#include "platform/plcdrv_ini.h"
#include "platform/profile.h"

#include <QString>

namespace regaccess {

enum class Transport { ModbusTcp, Driver };

// Adapter types of PLCDRV.INI.
constexpr int SerialAdapterType = platform::plcdrvini::SerialAdapter;
constexpr int ModbusPlusAdapterType = platform::plcdrvini::ModbusPlusAdapter;
constexpr int TcpIpAdapterType = platform::plcdrvini::TcpIpAdapter;

struct AdapterConfig {
    int type = SerialAdapterType;
    int enabled = 0;
};

// "Type" and "Enabled" of section "Adapter.Object.<adapterNumber>"; a missing
// file, section or key reads as 0. Every call sees the file as it is now.
// Thread safety: may be called from any thread.
AdapterConfig readAdapterConfig(int adapterNumber);

// Why this thread's last readAdapterConfig() gave defaults instead of the
// file's values: the file could not be read (no file descriptor left, not a
// regular file, too large). Empty when it was read or there is no file.
platform::ProfileReadFailure lastAdapterConfigFailure();

// TCP when the adapter is a TCP/IP adapter that the driver does not run
// (Enabled 0) and a host is named; every other adapter belongs to the driver.
Transport chooseTransport(const AdapterConfig& config, const QString& host);

} // namespace regaccess
