#include "fault_injector.h"

namespace chronel::sim {

FaultDecision FaultInjector::next()
{
    ++count_;
    FaultDecision d;
    d.dropRequest = hits(count_, o_.dropRequestEvery);
    if (d.dropRequest)
        return d;
    d.dropReply = hits(count_, o_.dropReplyEvery);
    d.delayMs = o_.delayMs;
    d.restartAfter = hits(count_, o_.resetEvery);
    return d;
}

} // namespace chronel::sim
