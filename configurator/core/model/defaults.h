#pragma once
// The configurator's default settings: those set when the window starts and
// those "Restore Default Settings" puts back. Neither sends anything to the
// module; a download does that.
#include "module_settings.h"
#include "point_table.h"

namespace chronel {

// Tools > Restore Default Settings, in this order: serial lists and delays
// (RS-232, then RS-485), "Type 2", "Auto-Negotiate" (which disables the duplex
// options), "Manual IP Address", "Time Sync Master" and "Enable Hourly Time
// Update" unchecked, event delay 500, GPS offset -5, IRIG-B offset 0, DST
// location "Disabled", then every point's defaults. Protocol lists, addresses,
// module name, Module ID, the lock, IEEE 1344, the duplex choice, the DST
// start and end fields and the display-only fields keep their values. The
// caller shows the point page afterwards.
void RestoreDefaultSettings(ModuleSettings& settings, PointTable& points);

// The settings the window gives itself at start: "Type 2", the point defaults,
// serial baud 9600, parity Even and delay 0 on both ports, "Manual IP
// Address". The rest of the start-up order lives with the window model.
void ApplyStartupSettings(ModuleSettings& settings, PointTable& points);

} // namespace chronel
