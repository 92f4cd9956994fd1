#pragma once
// The factory through which the window creates its channels: PLCTAG controls
// by class name ("PLCTAGLib.Plctag").
#include "channel_set.h"

namespace regaccess {
class ControlSite;
}

namespace chronel {

// Controls are created in user mode and enabled unless `site` says otherwise.
ControlFactory PlctagControlFactory(regaccess::ControlSite* site = nullptr);

} // namespace chronel
