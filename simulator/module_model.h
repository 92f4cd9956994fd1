// The simulated Chronel module behind its Modbus interface: configuration and
// point registers, the SER event buffer and its event block, the status block
// with the running clock and GPS data, statistics and test mode, and the flash.
//
// The model is transport-free: handleRequest() takes one request PDU
// (function code first) and returns the reply PDU. It accepts any byte
// sequence and answers malformed requests with Modbus exceptions.
//
// Thread safety: none; one thread drives a model (the server loop or a test).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "event_block.h"
#include "event_generator.h"
#include "flash_memory.h"
#include "module_clock.h"
#include "persistent_state.h"
#include "register_map.h"
#include "ser_event.h"

namespace chronel::sim {

enum class TimeSource { Internal, Gps, IrigB, Ser };

namespace exc {
inline constexpr uint8_t IllegalFunction = 1;
inline constexpr uint8_t IllegalDataAddress = 2;
inline constexpr uint8_t IllegalDataValue = 3;
inline constexpr uint8_t SlaveDeviceFailure = 4;
} // namespace exc

// Codes of the statistics block's error list.
namespace err {
inline constexpr uint16_t RealTimeClock = 1;
inline constexpr uint16_t EthernetReset = 2;
inline constexpr uint16_t NonVolatileReset = 3;
inline constexpr uint16_t ConfigurationWriteFail = 4;
} // namespace err

enum class Link { Tcp, Serial };

struct ModelOptions {
    GeneratorPlan events;
    uint64_t seed = 1;
    TimeSource timeSource = TimeSource::Gps;
    // Requests whose register or coil range covers `first` are answered with `second`.
    std::vector<std::pair<int, uint8_t>> injectedExceptions;
    size_t eventCapacity = 1024;
};

class ModuleModel {
public:
    ModuleModel(ModuleClock::HostClock host, ModelOptions options);

    // Power-on: start-up events (reset, date, time-sync lock) and the generator.
    void start();
    // A simulated restart: volatile memory is lost, non-volatile kept, and the
    // start-up events follow.
    void restart();
    // Time-driven behaviour: input changes, hourly updates, statistics.
    void tick();

    std::vector<uint8_t> handleRequest(const uint8_t* pdu, size_t len, Link link = Link::Tcp);

    // Transport observations shown in the statistics block.
    void setOpenSockets(int n) { openSockets_ = n; }
    void countDroppedPacket() { ++droppedPackets_; }
    void recordError(uint16_t code);

    // Non-volatile memory.
    PersistentState persistentState() const;
    void loadPersistentState(const PersistentState& s);
    bool persistentDirty() const { return dirty_; }
    void clearPersistentDirty() { dirty_ = false; }
    void setBufferType(int type);

    // Inspection for tests and the program's log.
    size_t pendingEvents() const { return events_.size(); }
    const std::deque<SerEvent>& events() const { return events_; }
    uint32_t pointStates() const { return reported_; }
    bool testMode() const { return testModeWord_ == stat::TestModeOn; }
    const FlashMemory& flash() const { return flash_; }
    const ModuleClock& clock() const { return clock_; }
    int rtuAddress() const { return config_[cfg::ModbusAddress]; }

private:
    using Reply = std::vector<uint8_t>;

    Reply dispatch(const uint8_t* pdu, size_t len, Link link);
    Reply readBits(uint8_t fc, int start, int count);
    Reply writeCoils(uint8_t fc, int start, const std::vector<bool>& values, const Reply& echo);
    Reply readRegisters(uint8_t fc, int start, int count);
    Reply writeRegisters(uint8_t fc, int start, const std::vector<uint16_t>& values, const Reply& echo);
    std::optional<uint8_t> injected(int first, int count) const;

    uint8_t validateWrite(int start, const std::vector<uint16_t>& values) const;
    void applyWrite(int start, const std::vector<uint16_t>& values);
    uint16_t plainWord(int reg, bool eventView);

    void applyConfigEffects();
    void addEvent(uint8_t kind, uint8_t point = 0, bool state = false, int64_t ageMs = 0);
    void updatePoints(int64_t ageMs = 0);
    uint32_t effectiveInputs() const;
    bool pointEnabled(int index) const { return points_[pts::Disabled + index] != pts::DisabledValue; }
    RecordSource recordSource() const;
    std::array<uint16_t, kStatusWords> statusBlock() const;
    std::array<uint16_t, kStatisticsWords> statisticsBlock() const;
    const EncodedBlock& presentBlock();
    PointTexts pointTexts() const;
    CivilTime stagedTime() const;

    ModelOptions options_;
    ModuleClock clock_;
    EventGenerator generator_;
    std::mt19937 rng_;

    std::array<uint16_t, kConfigWords> config_{};
    uint16_t moduleId_ = 0;
    std::array<uint16_t, kPointWords> points_{};
    FlashMemory flash_;
    std::array<uint16_t, kFlashControlWords> flashControl_{};
    bool dirty_ = false;

    std::deque<SerEvent> events_;
    bool overflowed_ = false;
    std::optional<EncodedBlock> presented_; // the block last read, drained by acknowledge

    std::array<uint16_t, 6> stagedTime_{}; // status words 4 ... 9 as last written
    bool downloadArmed_ = false;

    uint32_t fieldInputs_ = 0;
    uint32_t reported_ = 0;
    uint16_t testModeWord_ = 0;
    uint16_t testInputsLow_ = 0, testInputsHigh_ = 0;

    std::array<uint16_t, 24> ntp_{};
    std::array<uint32_t, 8> taskLoading_{};
    int openSockets_ = 0;
    uint16_t droppedPackets_ = 0;
    std::array<uint32_t, 5> errorTimes_{};
    std::array<uint16_t, 5> errorCodes_{};

    int64_t lastTickHostMs_ = 0;
    int64_t lastHourIndex_ = -1;
    int64_t lastDayIndex_ = -1;
    int64_t ntpAccumMs_ = 0;
};

} // namespace chronel::sim
