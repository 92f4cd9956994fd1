// The four C entry points. Nothing may escape them as an exception: the
// caller is C (or behaves like it) and would be torn down by one.
#include "driver/plcdrv.h"

#include "driver/driver_app.h"
#include "platform/profile.h"

#include <cstdio>

namespace {

// One driver per loaded library; its destruction at unload stops the
// adapters, and a later load starts afresh.
plcdrv::DriverApp& TheDriverApp()
{
    static plcdrv::DriverApp app;
    return app;
}

void ReportFailure(const char* where) { std::fprintf(stderr, "PLCDRV: %s failed\n", where); }

} // namespace

extern "C" {

PLCDRV_API void VexaStart(void)
{
    try {
        TheDriverApp().start(plcdrv::AdapterConfig::defaultIniPath());
    } catch (...) {
        ReportFailure("VexaStart");
    }
}

PLCDRV_API void VexaStop(void) { }

PLCDRV_API int VexaPut(void* packet, int size)
{
    try {
        return TheDriverApp().put(packet, size);
    } catch (...) {
        ReportFailure("VexaPut");
        return 0;
    }
}

PLCDRV_API int VexaGet(void* /*destination*/, void* /*source*/, int /*length*/)
{
    // Every completion goes into the caller's own packet, so no source can
    // be a block of this driver, and releasing anything else would free
    // memory the driver does not own.
    return 0;
}

} // extern "C"
