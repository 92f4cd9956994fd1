#pragma once
// Reading the adapters' settings from PLCDRV.INI, with the driver's defaults,
// checks and messages. Each problem is reported once, through `report`, and
// drops the adapter; the driver then goes on with the next section.
#include "driver/adapter_link.h"

#include <QString>

#include <functional>

namespace plcdrv {

// Shows one configuration message and returns when the user has read it.
using ConfigReport = std::function<void(const QString& text)>;

// The driver's reporter: a modal message box with an OK button (stderr
// without a GUI).
ConfigReport MessageBoxReport();

class AdapterConfig {
public:
    explicit AdapterConfig(QString iniPath, ConfigReport report = MessageBoxReport());

    // Where the driver reads PLCDRV.INI from.
    static QString defaultIniPath();

    // Enabled of section n (default 0).
    bool enabled(int n) const;
    // Fills `link` from "GENERAL" and section n. Returns n when the adapter
    // can be started, 0 when it is dropped (after its message, if any).
    int configure(int n, AdapterLink& link) const;

    // The device of COM port `comNumber`: key COMn of section "Ports" when
    // present, else /dev/ttyS(n-1).
    QString comPortDevice(int comNumber) const;

private:
    int readInt(const QString& section, const QString& key, int defaultValue) const;

    QString iniPath_;
    ConfigReport report_;
};

} // namespace plcdrv
