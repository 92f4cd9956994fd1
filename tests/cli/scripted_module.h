#pragma once
// A module's event buffer served by the recording peer: hand-made blocks of
// any buffer type, handed out in order, each taken away by the acknowledge
// (coil 2) as the module does, with the count of pending events in word 5
// and the module's clock in the status block. A chosen acknowledge can kill
// the collector at the moment it arrives, with the write swallowed or taken.
#include "support/recording_peer.h"

#include "core/events/event_record.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include <sys/types.h>

namespace clitest {

class ScriptedModule {
public:
    // A module whose clock reads `clock` (its date and time as they read);
    // a running clock goes on from there as time passes.
    explicit ScriptedModule(const QDateTime& clock, bool running = false);
    ~ScriptedModule();
    ScriptedModule(const ScriptedModule&) = delete;
    ScriptedModule& operator=(const ScriptedModule&) = delete;

    int port() const { return peer_.port(); }
    chronel::test::RecordingPeer& peer() { return peer_; }
    void setBlocks(const std::vector<chronel::EventBlockWords>& blocks);
    // Word k of the status block (the time source, quality, DST words).
    void setStatusWord(int k, std::uint16_t value);
    int blocksLeft();
    int acknowledgesTaken();
    // Requests to what the event scan reads and writes: coils 1 and 2, the
    // event and the status block.
    int scanRequests();

    // After `n` acknowledges the module says it holds no events (coil 1)
    // until released, so that a collector stopped then leaves blocks.
    void holdAfter(int n);
    void release() { holdAfter(-1); }

    enum class Acknowledge { Swallowed, Taken };
    // The `n`-th acknowledge to arrive (from 1) kills `*victim` with SIGKILL
    // before anything is answered; the module then never sees it
    // (Swallowed) or takes it with only the reply lost (Taken).
    void killAt(int n, Acknowledge how, const std::atomic<pid_t>* victim);

private:
    void publish(modbus_mapping_t& m);
    void setClock(const QDateTime& clock);

    chronel::test::RecordingPeer peer_;
    std::mutex mutex_;
    std::deque<chronel::EventBlockWords> blocks_;
    std::vector<std::uint16_t> status_;
    QDateTime clock_;
    bool running_ = false;
    QElapsedTimer sinceStart_;
    int taken_ = 0;
    int arrived_ = 0;
    int killAt_ = 0;
    int holdAfter_ = -1;
    Acknowledge how_ = Acknowledge::Swallowed;
    const std::atomic<pid_t>* victim_ = nullptr;
};

} // namespace clitest
