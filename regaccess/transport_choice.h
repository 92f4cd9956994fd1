#pragma once
// Which transport carries a control's requests: the control's own Modbus TCP
// client, or an adapter of PLCDRV. A control decides at every Trigger() from
// the PLCDRV.INI section of its Adapter and its Host, so that an edit made
// with the setup utility counts from the next request on. Hosts ask the same
// question here: to name a module by where its requests go, or to know which
// modules share a driver adapter (whose requests go one at a time).
//
// Thread safety: every function may be called from any thread.
#include "regaccess/plctag_export.h"

#include <QString>

namespace regaccess {

enum class TransportKind { ModbusTcp, Driver };

// How traces and reports name a transport: "tcp", "driver".
PLCTAG_EXPORT const char* transportName(TransportKind kind);

struct TransportChoice {
    TransportKind kind = TransportKind::Driver;
    // The server the requests go to, "10.0.0.7:502", over Modbus TCP; empty
    // for a driver adapter, whose own settings say where they go.
    QString peer;
};

// The transport of the next request of a control whose Adapter (0 … 7) and
// Host are these; PLCDRV.INI is read as Trigger() reads it.
PLCTAG_EXPORT TransportChoice transportFor(int adapter, const QString& host);

// Why the adapter settings last read on this thread (by transportFor() or a
// control's Trigger()) gave the defaults instead of the file's values: the
// file could not be read (no file descriptor left, not a regular file, too
// large). `file` is empty when it was read or there is no file.
struct AdapterSettingsFailure {
    QString file;
    QString reason;      // "Too many open files", "not a regular file", …
    int systemError = 0; // errno, when the system gave one
};
PLCTAG_EXPORT AdapterSettingsFailure lastAdapterSettingsFailure();

} // namespace regaccess
