#include "regaccess/frame_trace.h"
#include "regaccess/frame_tracing.h"

#include <utility>

namespace regaccess {

namespace {

FrameObserver& InstalledObserver()
{
    static FrameObserver observer;
    return observer;
}

} // namespace

void setFrameObserver(FrameObserver observer) { InstalledObserver() = std::move(observer); }

void ReportFrame(const TraceFrame& frame)
{
    const FrameObserver& observer = InstalledObserver();
    if (!observer)
        return;
    // The observer belongs to the host; whatever it throws must not unwind
    // through the control's request handling.
    try {
        observer(frame);
    } catch (...) {
    }
}

} // namespace regaccess
