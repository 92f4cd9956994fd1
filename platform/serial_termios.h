#pragma once
// The termios record for a set of line settings, apart from any device so
// that it can be checked on its own. Only for the POSIX serial port and its
// tests.
#include "platform/serial_port.h"

#include <termios.h>

namespace platform {

// Fills `tio` from zero for raw binary transfer with `settings`: receiver on,
// modem status ignored, no flow control, no translation, lines dropped on
// close. False (and `tio` unspecified) when a setting is not supported.
bool TermiosForSettings(const SerialSettings& settings, termios& tio);

} // namespace platform
