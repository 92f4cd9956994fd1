#ifndef CHRONEL_DRIVER_PLCDRV_H
#define CHRONEL_DRIVER_PLCDRV_H
/*
 * The exports of PLCDRV, the adapter driver. A request travels in the
 * caller's 280-byte RequestPacket; the driver writes the reply into the same
 * packet and posts DRIVER_DONE_MESSAGE (0x402, status as second parameter) to
 * the packet's notifyWindow. Packets are passed as untyped pointers so this
 * header stays plain C and independent of the packet's C++ declaration.
 *
 * Thread safety, call by call:
 * - VexaStart may be called from any thread, also from several at once and
 *   re-entered from an event loop it runs (the message boxes it shows): the
 *   first call starts the driver, every other call returns at once. It shows
 *   its status window and message boxes only when called on the GUI thread of
 *   a widget application.
 * - VexaPut may be called from any thread, concurrently with other VexaPut
 *   calls and with running exchanges. It takes the adapter's queue lock only
 *   for the append and never waits for an exchange in progress. It refuses
 *   every packet until the first VexaStart has finished. Requests put on one
 *   adapter are exchanged and completed in the order the calls returned; the
 *   completion is posted from the adapter's worker thread and handled on the
 *   thread that owns the receiving window.
 * - Between a VexaPut that returned 1 and its DRIVER_DONE_MESSAGE the packet
 *   belongs to the driver's worker: the caller must neither change nor free
 *   it. Once the receiving window is destroyed the driver no longer touches
 *   the packet (and posts nothing); a caller that frees a packet with a
 *   request in flight must destroy the window first.
 * - VexaStop and VexaGet may be called from any thread; neither touches an
 *   adapter.
 * - The adapters stop when the library is unloaded; no call may run then.
 */

#if defined(__GNUC__)
#define PLCDRV_API __attribute__((visibility("default")))
#else
#define PLCDRV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the driver on the first call: reads PLCDRV.INI and starts every
 * enabled adapter. Later calls return at once without effect. */
PLCDRV_API void VexaStart(void);

/* Has no effect; the adapters stop when the library is unloaded. */
PLCDRV_API void VexaStop(void);

/* Queues `packet` (a RequestPacket) on its adapter. Returns 1 when queued
 * (exactly one DRIVER_DONE_MESSAGE follows while the window exists), 0 when
 * refused (no message follows): a null packet, a `size` below 280, no running
 * adapter with the packet's number. The driver reads and writes exactly 280
 * bytes whatever larger `size` is passed. */
PLCDRV_API int VexaPut(void* packet, int size);

/* Copies `length` bytes from a driver-allocated packet copy `source` to
 * `destination` and releases `source`; returns 1, or 0 without effect when
 * `source` is not such a block. This driver completes requests in the
 * caller's own packet and never hands out copies, so it returns 0. */
PLCDRV_API int VexaGet(void* destination, void* source, int length);

#ifdef __cplusplus
}
#endif

#endif
