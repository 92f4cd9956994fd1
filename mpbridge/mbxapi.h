#ifndef MPBRIDGE_MBXAPI_H
#define MPBRIDGE_MBXAPI_H
/*
 * The vendor's MBX Modbus Plus driver interface (libmbxapi.so), as far as the
 * bridge uses it. Every function returns 0 on success and a driver error
 * number otherwise. The bridge never links this library: it looks the names
 * up at run time, so these prototypes serve as the function pointer types and
 * as the contract that any stand-in driver implements.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t MbxHandle;     /* an open card */
typedef uint32_t MbxPathHandle; /* a data master path; its low 16 bits are nonzero when open */
typedef uint32_t MbxEnumHandle; /* a device description enumeration */

enum { MBX_DESCRIPTION_TEXT_SIZE = 64, MBX_ROUTING_BYTES = 10, MBX_REPLY_BUFFER_SIZE = 512 };

typedef int32_t (*MbxOpenFn)(int32_t device, MbxHandle* handle);
typedef int32_t (*MbxCloseFn)(MbxHandle handle);
typedef int32_t (*MbxOpenMpFn)(MbxHandle handle, MbxPathHandle* path);
typedef int32_t (*MbxCloseMpFn)(MbxHandle handle, MbxPathHandle path);
/* Sends `length` bytes of `frame` along `routing` (routingLength bytes, five
 * 16-bit values) and waits up to `timeout` for the reply. */
typedef int32_t (*MbxWriteMpCmdWaitFn)(MbxHandle handle, MbxPathHandle path, const uint16_t* routing,
    int32_t routingLength, const unsigned char* frame, int32_t length, int32_t reserved1, int32_t reserved2,
    int32_t timeout);
/* Copies the reply into `frame`; *length holds the room on entry and the
 * reply length on return. */
typedef int32_t (*MbxReadMpReplyFn)(MbxHandle handle, MbxPathHandle path, unsigned char* frame, int32_t* length);
typedef int32_t (*MbxGetErrorMessageAFn)(int32_t error, char* text, int32_t size);
typedef int32_t (*MbxOpenDeviceDescriptionEnumFn)(MbxEnumHandle* enumeration);
typedef int32_t (*MbxCloseDeviceDescriptionEnumFn)(MbxEnumHandle enumeration);
typedef int32_t (*MbxDeviceDescriptionEnumNextFn)(MbxEnumHandle enumeration);
/* With enumeration 0, reads device *device; otherwise the device at the
 * enumeration's position. Each text buffer's length holds its room on entry
 * (64) and the text length on return. */
typedef int32_t (*MbxReadDeviceDescriptionAFn)(MbxEnumHandle enumeration, int32_t* physical, int32_t* device,
    char* protocol, int32_t* protocolLength, char* card, int32_t* cardLength, char* name, int32_t* nameLength,
    char* description, int32_t* descriptionLength);

int32_t MbxOpen(int32_t device, MbxHandle* handle);
int32_t MbxClose(MbxHandle handle);
int32_t MbxOpenMp(MbxHandle handle, MbxPathHandle* path);
int32_t MbxCloseMp(MbxHandle handle, MbxPathHandle path);
int32_t MbxWriteMpCmdWait(MbxHandle handle, MbxPathHandle path, const uint16_t* routing, int32_t routingLength,
    const unsigned char* frame, int32_t length, int32_t reserved1, int32_t reserved2, int32_t timeout);
int32_t MbxReadMpReply(MbxHandle handle, MbxPathHandle path, unsigned char* frame, int32_t* length);
int32_t MbxGetErrorMessageA(int32_t error, char* text, int32_t size);
int32_t MbxOpenDeviceDescriptionEnum(MbxEnumHandle* enumeration);
int32_t MbxCloseDeviceDescriptionEnum(MbxEnumHandle enumeration);
int32_t MbxDeviceDescriptionEnumNext(MbxEnumHandle enumeration);
int32_t MbxReadDeviceDescriptionA(MbxEnumHandle enumeration, int32_t* physical, int32_t* device, char* protocol,
    int32_t* protocolLength, char* card, int32_t* cardLength, char* name, int32_t* nameLength, char* description,
    int32_t* descriptionLength);

#ifdef __cplusplus
}
#endif

#endif
