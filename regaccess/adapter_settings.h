#pragma once
// The two PLCDRV.INI values of an adapter that decide its transport (Type
// and Enabled), read afresh for every request; transport_set.h makes the
// choice from them.
#include "platform/plcdrv_ini.h"
#include "platform/profile.h"

namespace regaccess {

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
AdapterConfig ReadAdapterConfig(int adapterNumber);

// Why this thread's last readAdapterConfig() gave defaults instead of the
// file's values: the file could not be read (no file descriptor left, not a
// regular file, too large). Empty when it was read or there is no file.
platform::ProfileReadFailure LastAdapterConfigFailure();

} // namespace regaccess
