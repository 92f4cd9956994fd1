// Stand-in for the adapter driver: it has no adapters, so every request is
// refused and no completion message is ever posted.
#include "driver/plcdrv.h"

#define PLCDRV_EXPORT __attribute__((visibility("default")))

extern "C" {

PLCDRV_EXPORT void VexaStart(void) {}

PLCDRV_EXPORT void VexaStop(void) {}

PLCDRV_EXPORT int VexaPut(void* /*packet*/, int /*size*/)
{
    return 0;
}

PLCDRV_EXPORT int VexaGet(void* /*destination*/, void* /*source*/, int /*length*/)
{
    return 0;
}

} // extern "C"
