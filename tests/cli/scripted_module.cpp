#include "scripted_module.h"

#include "core/events/event_decoder.h"
#include "core/model/module_map.h"

#include <csignal>

namespace clitest {

namespace {

using chronel::test::PeerRequest;
using chronel::test::RecordingPeer;

constexpr int EventBlockIndex = chronel::EventBlockRegister - 1;
constexpr int StatusBlockIndex = chronel::StatusBlockRegister - 1;

// Word 5 as a module fills it: the events it holds, this block's included.
template <typename Blocks> std::uint16_t PendingEvents(const Blocks& blocks)
{
    int events = 0;
    for (const chronel::EventBlockWords& block : blocks)
        events += chronel::EventDecoder::RecordCount(block);
    return std::uint16_t(events);
}

bool IsScanRequest(const PeerRequest& r)
{
    return r.isRead(1, 1) || r.isWrite(2, 1) || r.isRead(chronel::EventBlockRegister, 100) ||
        r.isRead(chronel::StatusBlockRegister, 100);
}

} // namespace

ScriptedModule::ScriptedModule(const QDateTime& clock, bool running) : status_(100, 0), clock_(clock), running_(running)
{
    sinceStart_.start();
    setClock(clock);
    peer_.setHook([this](const PeerRequest& r, modbus_mapping_t& m) {
        std::lock_guard lock(mutex_);
        if (r.isWrite(2, 1) && !r.values.empty() && r.values[0] == 1 && !blocks_.empty()) {
            blocks_.pop_front();
            ++taken_;
            publish(m);
        }
    });
    peer_.setLosses([this](const PeerRequest& r, modbus_mapping_t& m) {
        std::lock_guard lock(mutex_);
        // The event block's last register is the status block's first.
        if (r.isRead(chronel::StatusBlockRegister, 100)) {
            m.tab_registers[StatusBlockIndex] = status_[0];
            if (running_) {
                setClock(clock_.addMSecs(sinceStart_.elapsed()));
                for (int k = 4; k <= 9; ++k)
                    m.tab_registers[StatusBlockIndex + k] = status_[std::size_t(k)];
            }
        } else
            publish(m);
        if (!r.isWrite(2, 1) || ++arrived_ != killAt_ || !victim_)
            return RecordingPeer::Loss::None;
        if (const pid_t pid = victim_->load(); pid > 0)
            ::kill(pid, SIGKILL);
        return how_ == Acknowledge::Swallowed ? RecordingPeer::Loss::Request : RecordingPeer::Loss::Reply;
    });
    peer_.setHoldings(chronel::StatusBlockRegister, status_);
}

ScriptedModule::~ScriptedModule()
{
    peer_.setHook({});
    peer_.setLosses({});
}

void ScriptedModule::setClock(const QDateTime& clock)
{
    const QDate d = clock.date();
    const QTime t = clock.time();
    const int fields[] = {d.month(), d.day(), d.year(), t.hour(), t.minute(), t.second()};
    for (int i = 0; i < 6; ++i)
        status_[std::size_t(4 + i)] = std::uint16_t(fields[i]);
}

void ScriptedModule::publish(modbus_mapping_t& m)
{
    // A module that holds its blocks back says so in its block too: empty,
    // no events pending.
    const bool none = blocks_.empty() || (holdAfter_ >= 0 && taken_ >= holdAfter_);
    for (int k = 0; k < 100; ++k)
        m.tab_registers[EventBlockIndex + k] = none ? 0 : std::uint16_t(blocks_.front()[std::size_t(k)]);
    if (!none)
        m.tab_registers[EventBlockIndex + chronel::eventblock::PendingEventsWord] = PendingEvents(blocks_);
    for (int k = 1; k < 100; ++k)
        m.tab_registers[StatusBlockIndex + k] = status_[std::size_t(k)];
    m.tab_bits[0] = none ? 0 : 1;
}

void ScriptedModule::holdAfter(int n)
{
    std::lock_guard lock(mutex_);
    holdAfter_ = n;
}

void ScriptedModule::setBlocks(const std::vector<chronel::EventBlockWords>& blocks)
{
    bool available = false;
    {
        std::lock_guard lock(mutex_);
        blocks_.assign(blocks.begin(), blocks.end());
        available = !blocks_.empty() && holdAfter_ != 0;
    }
    std::vector<std::uint16_t> words(100, 0);
    if (!blocks.empty()) {
        for (int k = 0; k < 100; ++k)
            words[std::size_t(k)] = std::uint16_t(blocks.front()[std::size_t(k)]);
        words[chronel::eventblock::PendingEventsWord] = PendingEvents(blocks);
    }
    peer_.setHoldings(chronel::EventBlockRegister, words);
    peer_.setCoil(1, available);
}

void ScriptedModule::setStatusWord(int k, std::uint16_t value)
{
    {
        std::lock_guard lock(mutex_);
        status_[std::size_t(k)] = value;
    }
    peer_.setHolding(chronel::StatusBlockRegister + k, value);
}

int ScriptedModule::blocksLeft()
{
    std::lock_guard lock(mutex_);
    return int(blocks_.size());
}

int ScriptedModule::acknowledgesTaken()
{
    std::lock_guard lock(mutex_);
    return taken_;
}

int ScriptedModule::scanRequests()
{
    int n = 0;
    for (const PeerRequest& r : peer_.requests())
        n += IsScanRequest(r) ? 1 : 0;
    return n;
}

void ScriptedModule::killAt(int n, Acknowledge how, const std::atomic<pid_t>* victim)
{
    std::lock_guard lock(mutex_);
    killAt_ = n;
    how_ = how;
    victim_ = victim;
    arrived_ = 0;
}

} // namespace clitest
