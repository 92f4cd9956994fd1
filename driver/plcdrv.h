#ifndef CHRONEL_DRIVER_PLCDRV_H
#define CHRONEL_DRIVER_PLCDRV_H
/*
 * The exports of PLCDRV, the adapter driver. A request travels in the
 * caller's 280-byte RequestPacket; the driver writes the reply into the same
 * packet and posts DRIVER_DONE_MESSAGE (0x402, status as second parameter) to
 * the packet's notifyWindow. Packets are passed as untyped pointers so this
 * header stays plain C and independent of the packet's C++ declaration.
 *
 * Thread safety: all four may be called from any thread.
 */

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the driver on the first call: reads PLCDRV.INI and starts every
 * enabled adapter. Later calls return at once without effect. */
void VexaStart(void);

/* Has no effect; the adapters stop when the library is unloaded. */
void VexaStop(void);

/* Queues `packet` (a RequestPacket) on its adapter. Returns 1 when queued
 * (exactly one DRIVER_DONE_MESSAGE follows while the window exists), 0 when
 * refused (no message follows). `size` is the caller's packet size; the
 * driver always works with 280 bytes. */
int VexaPut(void* packet, int size);

/* Copies `length` bytes from a driver-allocated packet copy `source` to
 * `destination` and releases `source`; returns 1, or 0 without effect when
 * `source` is not such a block. */
int VexaGet(void* destination, void* source, int length);

#ifdef __cplusplus
}
#endif

#endif
