#pragma once
// The run-time binding to the MBX driver: its library handle and the eleven
// entry points the bridge calls through.
#include "mpbridge/mbxapi.h"

#include <cstdint>

namespace mpbridge {

struct MbxApi {
    MbxOpenFn open = nullptr;
    MbxCloseFn close = nullptr;
    MbxOpenMpFn openMp = nullptr;
    MbxCloseMpFn closeMp = nullptr;
    MbxWriteMpCmdWaitFn writeMpCmdWait = nullptr;
    MbxReadMpReplyFn readMpReply = nullptr;
    MbxGetErrorMessageAFn getErrorMessage = nullptr;
    MbxOpenDeviceDescriptionEnumFn openDeviceDescriptionEnum = nullptr;
    MbxCloseDeviceDescriptionEnumFn closeDeviceDescriptionEnum = nullptr;
    MbxDeviceDescriptionEnumNextFn deviceDescriptionEnumNext = nullptr;
    MbxReadDeviceDescriptionAFn readDeviceDescription = nullptr;
};

struct MbxBinding {
    void* library = nullptr; // null unless every entry point was found
    MbxApi api;
    // 0 when bound; otherwise the error number of the step that failed.
    std::int32_t loadResult = 0;
};

// Loads libmbxapi.so through the normal library search path and looks up
// the entry points in the driver's documented order. At the first missing
// entry the library is unloaded again and the binding stays unbound.
MbxBinding LoadMbxDriver();
void UnloadMbxDriver(MbxBinding& binding);

} // namespace mpbridge
