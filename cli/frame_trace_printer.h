#pragma once
// --trace: every request and reply frame of every control, in hex on stderr,
// each with the time it was seen:
//
//   14:02:07.315 > tcp unit 255: 03 00 00 00 64
//   14:02:07.318 < tcp unit 255: 03 C8 00 01 …
//   14:02:09.320 ! adapter 0 unit 255: error -3
//
// ">" a request, "<" its reply, "!" a failure without a reply. Over a driver
// adapter the reply is the packet's reply field (function code, count byte,
// data).
#include "regaccess/frame_trace.h"

#include <QString>
#include <QTime>

namespace chronelcli {

class Console;

QString TraceLine(const QTime& when, const regaccess::TraceFrame& frame);

// Installs the printer for the rest of the process. A frame goes to the
// console of the module whose thread sent or received it (a control sends
// and completes its requests on its module's thread), so that with several
// modules at once each line names its module; else to `console`.
void InstallFrameTracePrinter(Console& console);

} // namespace chronelcli
