#pragma once
// Load File without a dialog: the Intel-HEX loader on a named file, its
// status lines on stdout as they are written.
#include "core/flash/flash_image.h"
#include "core/flash/flash_status.h"

#include <QString>

namespace chronelcli {

class Console;

// Prints every line `status` gets from now on, for as long as it lives.
void PrintFlashStatus(chronel::FlashStatus& status, Console& console);

// True when the file was read without a bad line. A file that cannot be
// opened leaves the image as it was and says so on stderr.
bool LoadHex(const QString& path, chronel::FlashImage& image, chronel::FlashStatus& status, Console& console);

} // namespace chronelcli
