#pragma once
// What the failure codes of the control's error event mean, for every part of
// the system that tells a user: socket error numbers (Windows numbering, see
// socket_errors.h), Modbus exception codes of the device, and the control's
// and driver's own negative codes. One table holds, per code, the plain words
// a command line or log prints and, where the configurator window has one,
// the window's own wording, which stays exactly as the window shows it.
#include <QString>

namespace platform {

// Plain words: "connection refused", "illegal data address"; "error N" for a
// code the table does not know.
QString failureWords(int code);

// The window's wording after "Communications error - " ("Illegal Function"),
// or an empty text where the window shows the number instead.
QString windowFailureText(int code);

} // namespace platform
