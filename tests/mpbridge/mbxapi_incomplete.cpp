// An MBX driver that lacks its last entry point, MbxReadDeviceDescriptionA:
// the bridge must refuse to bind to it.
#include "mpbridge/mbxapi.h"

#pragma GCC visibility push(default)
extern "C" {
int32_t MbxOpen(int32_t, MbxHandle* handle)
{
    *handle = 1;
    return 0;
}
int32_t MbxClose(MbxHandle) { return 0; }
int32_t MbxOpenMp(MbxHandle, MbxPathHandle* path)
{
    *path = 1;
    return 0;
}
int32_t MbxCloseMp(MbxHandle, MbxPathHandle) { return 0; }
int32_t MbxWriteMpCmdWait(
    MbxHandle, MbxPathHandle, const uint16_t*, int32_t, const unsigned char*, int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}
int32_t MbxReadMpReply(MbxHandle, MbxPathHandle, unsigned char*, int32_t*) { return 0; }
int32_t MbxGetErrorMessageA(int32_t, char*, int32_t) { return 0; }
int32_t MbxOpenDeviceDescriptionEnum(MbxEnumHandle*) { return 0; }
int32_t MbxCloseDeviceDescriptionEnum(MbxEnumHandle) { return 0; }
int32_t MbxDeviceDescriptionEnumNext(MbxEnumHandle) { return 1; }
}
#pragma GCC visibility pop
