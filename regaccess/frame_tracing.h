#pragma once
// The control's side of frame tracing (frame_trace.h): reporting a frame to
// the installed observer.
#include "regaccess/frame_trace.h"

namespace regaccess {

// Called by the control at each request, reply and failure; costs one test
// while no observer is installed. Whatever the observer throws is dropped.
void ReportFrame(const TraceFrame& frame);

} // namespace regaccess
