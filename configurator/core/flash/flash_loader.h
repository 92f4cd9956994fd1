#pragma once
// Load File on an opened firmware file: the image is erased, every line is
// parsed and every bad line reported, and the outcome is told in the status
// text. A bad line does not stop the load; the image keeps what the good
// lines stored, but the load counts as failed. Only a line longer than any
// record (MaxHexLineLength) stops it: it is reported and nothing after it
// is read.
#include "flash_image.h"
#include "flash_status.h"

#include <QString>

#include <functional>

class QIODevice;

namespace chronel {

// Called before each line is read, so that a window can let pending events
// run during a long load.
using LineHook = std::function<void()>;

struct FlashLoadResult {
    bool ok = false;
    quint32 bytesLoaded = 0;
    quint32 lines = 0;
};

// At most this many bad lines are listed; a count stands for the rest.
constexpr quint32 MaxReportedHexErrors = 100;

// Status lines: "Initalizing flash image" (replacing the text), "Opening "
// + fileName, "Reading flash data", one line per bad line (the first
// MaxReportedHexErrors, then "<n> more bad lines not listed"), then either
// "Loaded  <n> bytes -  No errors" or "Flash file load error", and
// "Closing flash data file". `file` must be open for reading.
FlashLoadResult LoadHexFile(
    QIODevice& file, const QString& fileName, FlashImage& image, FlashStatus& status, const LineHook& eachLine = {});

} // namespace chronel
