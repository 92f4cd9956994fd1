#pragma once
// Shared set-up for the control's tests: a PLCDRV.INI of their own and a
// recorder of the control's events.
#include "regaccess/plctag.h"

#include "platform/error_code.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <ostream>

// Readable failure output for Qt texts and failure codes.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
namespace platform {
inline void PrintTo(ErrorCode code, std::ostream* os) { *os << errorNumber(code); }
} // namespace platform

namespace regaccess::test {

// Adapter numbers (the Adapter property) in the test PLCDRV.INI.
constexpr int TcpAdapter = 0;          // Type=2 Enabled=0: the control's own TCP client
constexpr int DriverTcpAdapter = 1;    // Type=2 Enabled=1: belongs to the driver
constexpr int SerialAdapter = 2;       // Type=0 Enabled=0: not started by the driver
constexpr int UnconfiguredAdapter = 5; // no section

// Writes the test PLCDRV.INI and points PLCDRV_INI at it for the process.
void InstallAdapterFile();
// Points the control's TCP client at a test server's port.
void UseServerPort(std::uint16_t port);

// Records the events of one control as text: "read", "write", "error -5",
// each followed by "(busy)" when Busy was TRUE while the event fired.
class EventRecorder {
public:
    explicit EventRecorder(Plctag& control);
    QStringList events;
    QString last() const { return events.isEmpty() ? QString() : events.last(); }
    void clear() { events.clear(); }
};

} // namespace regaccess::test
