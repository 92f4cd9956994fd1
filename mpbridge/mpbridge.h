#ifndef MPBRIDGE_MPBRIDGE_H
#define MPBRIDGE_MPBRIDGE_H
/*
 * mpbridge: a fixed entry to Modbus Plus cards for PLCDRV and DRVSETUP.
 *
 * The bridge binds to the vendor's MBX driver (libmbxapi.so) when this
 * library is loaded. Without that driver the library still loads and every
 * call below reports that Modbus Plus is not available.
 *
 * Thread safety: MBXSendPacket and MBXStopCard may be called from any thread;
 * they share one process-wide lock, so Modbus Plus exchanges of all cards run
 * one at a time. MBXInitCard takes the same lock while it changes the card
 * list. MBXDriverAvailable only reads the load result fixed at load time.
 * MBXSelectDevice runs a dialog and belongs on the GUI thread.
 */

#if defined(__GNUC__)
#define MPBRIDGE_API __attribute__((visibility("default")))
#else
#define MPBRIDGE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when the MBX driver and all its entry points were found; otherwise the
 * error number of the failed load step (errno of the failed load, or ENOSYS
 * for a missing entry point). Fixed for the life of the process. */
MPBRIDGE_API int MBXDriverAvailable(void);

/* Opens card `device` and its data master path. 1 when the card is open (now
 * or already), 0 when opening failed or the driver is not available. */
MPBRIDGE_API int MBXInitCard(int device);

/* One Modbus Plus exchange on an open card: writes the `length` protocol
 * bytes in `frame` along the five 16-bit routing values, then reads the reply
 * protocol data unit into `frame`, which must hold 512 bytes.
 * 0 on success; -1 when the driver is not available, the device has not been
 * opened with MBXInitCard or an argument is unusable (null pointer, length
 * outside 0..512); any other value is the MBX driver's own error, unchanged. */
MPBRIDGE_API int MBXSendPacket(
    int device, const unsigned short* routing, unsigned char* frame, int length, int timeout);

/* Closes card `device`. 1 when it was open and is now closed, 0 when no card
 * with that number is open or the driver is not available. */
MPBRIDGE_API int MBXStopCard(int device);

/* Lets the user choose a Modbus Plus device in the modal dialog "MBX
 * Devices". On OK stores the device number in *device and the device name,
 * spaces shown as '_' (without a terminating zero, at most 64 characters), at
 * `name`; on cancel, or when `device` is null, neither is touched. The dialog
 * needs a QApplication and its GUI thread; without them the call returns at
 * once as a cancel. */
MPBRIDGE_API void MBXSelectDevice(int* device, char* name);

#ifdef __cplusplus
}
#endif

#endif
