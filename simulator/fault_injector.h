// Scheduled faults for tests and demonstrations: every N-th request dropped,
// carried out without a reply, delayed, or followed by a module restart.
#pragma once

#include <cstdint>

namespace chronel::sim {

struct FaultOptions {
    uint32_t dropRequestEvery = 0; // 0 = off
    uint32_t dropReplyEvery = 0;
    uint32_t delayMs = 0;
    uint32_t resetEvery = 0;
};

struct FaultDecision {
    bool dropRequest = false;  // ignore the request entirely
    bool dropReply = false;    // carry it out, send nothing
    bool restartAfter = false; // restart the module after the reply
    uint32_t delayMs = 0;
};

class FaultInjector {
public:
    explicit FaultInjector(FaultOptions o) : o_(o) { }
    // Called once per well-formed request received, in arrival order.
    FaultDecision next();
    uint64_t requests() const { return count_; }

private:
    static bool hits(uint64_t n, uint32_t every) { return every != 0 && n % every == 0; }
    FaultOptions o_;
    uint64_t count_ = 0;
};

} // namespace chronel::sim
