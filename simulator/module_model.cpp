#include "module_model.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace chronel::sim {
namespace {

constexpr int kMaxReadBits = 2000;
constexpr int kMaxReadRegisters = 125;
constexpr int kMaxWriteCoils = 1968;
constexpr int kMaxWriteRegisters = 123;
constexpr int64_t kNtpIntervalMs = 10000; // one simulated NTP client every 10 s

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// An exception reply carries the request's code with bit 7 set.
constexpr uint8_t ExceptionBit = 0x80;

std::vector<uint8_t> ExceptionReply(uint8_t fc, uint8_t code)
{
    return {static_cast<uint8_t>(fc | ExceptionBit), code};
}

bool ReadsBits(uint8_t fc) { return fc == MODBUS_FC_READ_COILS || fc == MODBUS_FC_READ_DISCRETE_INPUTS; }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void PutFloat(std::array<uint16_t, kStatusWords>& w, int at, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    w[static_cast<size_t>(at)] = static_cast<uint16_t>(bits & 0xFFFF); // low half first
    w[static_cast<size_t>(at + 1)] = static_cast<uint16_t>(bits >> 16);
}

bool InRange(int reg, int first, int last) { return reg >= first && reg <= last; }

} // namespace

ModuleModel::ModuleModel(ModuleClock::HostClock host, ModelOptions options)
    : options_(std::move(options)),
      clock_(std::move(host)),
      generator_(options_.events, options_.seed),
      rng_(static_cast<uint32_t>(options_.seed))
{
    loadPersistentState(FactoryState());
    dirty_ = false;
}

void ModuleModel::loadPersistentState(const PersistentState& s)
{
    config_ = s.config;
    moduleId_ = s.moduleId;
    points_ = s.points;
    if (s.flash.size() == FlashMemory::kSize)
        flash_.bytes() = s.flash;
    applyConfigEffects();
    presented_.reset();
    dirty_ = true;
}

PersistentState ModuleModel::persistentState() const
{
    PersistentState s;
    s.config = config_;
    s.moduleId = moduleId_;
    s.points = points_;
    s.flash = flash_.bytes();
    return s;
}

void ModuleModel::setBufferType(int type)
{
    if (type < 0 || type > 3 || config_[cfg::EventBufferType] == type)
        return;
    config_[cfg::EventBufferType] = static_cast<uint16_t>(type);
    presented_.reset();
    dirty_ = true;
}

void ModuleModel::applyConfigEffects()
{
    clock_.setGpsOffsetHours(static_cast<int16_t>(config_[cfg::TsToGpsOffset]));
    DstRule r;
    r.location = static_cast<int16_t>(config_[cfg::DstLocation]);
    r.startMonth = static_cast<int16_t>(config_[cfg::DstStartMonth]);
    r.startDay = static_cast<int16_t>(config_[cfg::DstStartDay]);
    r.startHour = static_cast<int16_t>(config_[cfg::DstStartHour]);
    r.stopMonth = static_cast<int16_t>(config_[cfg::DstStopMonth]);
    r.stopDay = static_cast<int16_t>(config_[cfg::DstStopDay]);
    r.stopHour = static_cast<int16_t>(config_[cfg::DstStopHour]);
    clock_.setDstRule(r);
}

void ModuleModel::start()
{
    int64_t now = clock_.hostMs();
    lastTickHostMs_ = now;
    int64_t local = FloorDiv(clock_.localMs(), 1000);
    lastHourIndex_ = FloorDiv(local, 3600);
    lastDayIndex_ = FloorDiv(local, 86400);
    generator_.start(now);
    addEvent(kind::PowerOnReset);
    // A date record first, so that type-0 time records that follow have a date.
    addEvent(kind::HourlyTimeUpdate);
    switch (options_.timeSource) {
    case TimeSource::Gps: addEvent(kind::GpsSyncLock); break;
    case TimeSource::IrigB: addEvent(kind::IrigSyncLock); break;
    case TimeSource::Ser: addEvent(kind::SerSyncLock); break;
    case TimeSource::Internal: break;
    }
    reported_ = effectiveInputs();
    for (int p = 0; p < 32; ++p)
        if (((reported_ >> p) & 1u) && pointEnabled(p))
            addEvent(kind::OnScan, static_cast<uint8_t>(p + 1), true);
}

void ModuleModel::restart()
{
    events_.clear();
    overflowed_ = false;
    presented_.reset();
    downloadArmed_ = false;
    testModeWord_ = 0;
    testInputsLow_ = testInputsHigh_ = 0;
    stagedTime_ = {};
    flashControl_ = {};
    ntp_ = {};
    taskLoading_ = {};
    droppedPackets_ = 0;
    start();
}

void ModuleModel::recordError(uint16_t code)
{
    // The list keeps the five newest entries, the oldest in entry 0.
    size_t slot = 0;
    while (slot < errorCodes_.size() && errorCodes_[slot] != 0)
        ++slot;
    if (slot == errorCodes_.size()) {
        std::rotate(errorCodes_.begin(), errorCodes_.begin() + 1, errorCodes_.end());
        std::rotate(errorTimes_.begin(), errorTimes_.begin() + 1, errorTimes_.end());
        slot = errorCodes_.size() - 1;
    }
    errorCodes_[slot] = code;
    errorTimes_[slot] = static_cast<uint32_t>(FloorDiv(clock_.localMs(), 1000));
}

RecordSource ModuleModel::recordSource() const
{
    switch (options_.timeSource) {
    case TimeSource::Gps: return RecordSource::Gps;
    case TimeSource::IrigB: return RecordSource::IrigB;
    case TimeSource::Ser: return RecordSource::Peer;
    case TimeSource::Internal: break;
    }
    return RecordSource::FreeRunning;
}

void ModuleModel::addEvent(uint8_t k, uint8_t point, bool state, int64_t ageMs)
{
    if (events_.size() >= options_.eventCapacity)
        return; // the overflow record holds the last slot
    int64_t ms = clock_.localMs() - std::max<int64_t>(0, ageMs);
    SerEvent e;
    e.kind = k;
    e.point = point;
    e.state = state;
    e.seconds = FloorDiv(ms, 1000);
    e.millisecond = static_cast<uint16_t>(ms - e.seconds * 1000);
    e.source = recordSource();
    e.dst = clock_.dst();
    if (events_.size() + 1 == options_.eventCapacity && k != kind::BufferOverflow) {
        if (!overflowed_) {
            e.kind = kind::BufferOverflow;
            e.point = 0;
            e.state = false;
            events_.push_back(e);
            overflowed_ = true;
        }
        return;
    }
    events_.push_back(e);
    taskLoading_[3] += 2;
}

uint32_t ModuleModel::effectiveInputs() const
{
    if (testMode())
        return uint32_t{testInputsLow_} | (uint32_t{testInputsHigh_} << 16);
    return fieldInputs_;
}

void ModuleModel::updatePoints(int64_t ageMs)
{
    uint32_t now = effectiveInputs();
    uint32_t changed = now ^ reported_;
    for (int p = 0; p < 32; ++p) {
        if (!((changed >> p) & 1u) || !pointEnabled(p))
            continue;
        addEvent(kind::InputPoint, static_cast<uint8_t>(p + 1), (now >> p) & 1u, ageMs);
    }
    reported_ = now;
}

void ModuleModel::tick()
{
    int64_t now = clock_.hostMs();
    int64_t elapsed = std::clamp<int64_t>(now - lastTickHostMs_, 0, 3600000);
    lastTickHostMs_ = now;

    for (const InputChange& c : generator_.advance(now, fieldInputs_)) {
        uint32_t bit = 1u << (c.point - 1);
        fieldInputs_ = c.state ? (fieldInputs_ | bit) : (fieldInputs_ & ~bit);
        if (!testMode())
            updatePoints(std::max<int64_t>(0, now - (generator_.startMs() + c.atMs)));
    }

    int64_t local = FloorDiv(clock_.localMs(), 1000);
    int64_t hour = FloorDiv(local, 3600), day = FloorDiv(local, 86400);
    if (hour != lastHourIndex_) {
        // The date must reach type-0 readers at least once a day, so a new day
        // gets its date record even with hourly updates switched off.
        if (config_[cfg::HourTimeUpdate] != 0 || day != lastDayIndex_)
            addEvent(kind::HourlyTimeUpdate);
        ntp_[static_cast<size_t>(CivilFromSeconds(local).hour)] = 0;
        lastHourIndex_ = hour;
        lastDayIndex_ = day;
    }

    ntpAccumMs_ += elapsed;
    while (ntpAccumMs_ >= kNtpIntervalMs) {
        ntpAccumMs_ -= kNtpIntervalMs;
        uint16_t& slot = ntp_[static_cast<size_t>(CivilFromSeconds(local).hour)];
        if (slot < 0xFFFF)
            ++slot;
    }
    auto share = static_cast<uint32_t>(elapsed);
    taskLoading_[7] += share;
    switch (options_.timeSource) {
    case TimeSource::Gps: taskLoading_[1] += share / 20; break;
    case TimeSource::IrigB: taskLoading_[2] += share / 20; break;
    case TimeSource::Ser: taskLoading_[0] += share / 20; break;
    case TimeSource::Internal: break;
    }
}

std::array<uint16_t, kStatusWords> ModuleModel::statusBlock() const
{
    std::array<uint16_t, kStatusWords> w{};
    int64_t local = FloorDiv(clock_.localMs(), 1000);
    CivilTime t = CivilFromSeconds(local);
    bool gps = options_.timeSource == TimeSource::Gps;
    switch (options_.timeSource) {
    case TimeSource::Gps: w[st::TimeSource] = 1; break;
    case TimeSource::IrigB: w[st::TimeSource] = 2; break;
    case TimeSource::Ser: w[st::TimeSource] = 4; break;
    case TimeSource::Internal: w[st::TimeSource] = 0; break;
    }
    w[st::Month] = static_cast<uint16_t>(t.month);
    w[st::Day] = static_cast<uint16_t>(t.day);
    w[st::Year] = static_cast<uint16_t>(t.year);
    w[st::Hour] = static_cast<uint16_t>(t.hour);
    w[st::Minute] = static_cast<uint16_t>(t.minute);
    w[st::Second] = static_cast<uint16_t>(t.second);
    w[st::GpsFix] = gps ? 1 : 0;
    w[st::Satellites] = gps ? 8 : 0;
    if (gps) {
        // A fixed antenna position (ddmm.mmm / dddmm.mmm), at rest.
        PutFloat(w, st::Latitude, 4012.5f);
        PutFloat(w, st::Longitude, -7459.25f);
        PutFloat(w, st::Altitude, 61.0f);
        PutFloat(w, st::Speed, 0.0f);
        PutFloat(w, st::Course, 0.0f);
    }
    switch (options_.timeSource) {
    case TimeSource::Gps:
    case TimeSource::IrigB: w[st::TimeQuality] = 0; break;
    case TimeSource::Ser: w[st::TimeQuality] = 1; break;
    case TimeSource::Internal: w[st::TimeQuality] = 2; break;
    }
    w[st::DstFlag] = clock_.dst() ? 1 : 0;
    w[st::PointStatusLow] = static_cast<uint16_t>(reported_ & 0xFFFF);
    w[st::PointStatusHigh] = static_cast<uint16_t>(reported_ >> 16);
    return w;
}

std::array<uint16_t, kStatisticsWords> ModuleModel::statisticsBlock() const
{
    std::array<uint16_t, kStatisticsWords> w{};
    for (size_t k = 0; k < ntp_.size(); ++k)
        w[stat::NtpHours + k] = ntp_[k];
    for (size_t k = 0; k < taskLoading_.size(); ++k) {
        w[stat::TaskLoading + 2 * k] = static_cast<uint16_t>(taskLoading_[k] & 0xFFFF);
        w[stat::TaskLoading + 2 * k + 1] = static_cast<uint16_t>(taskLoading_[k] >> 16);
    }
    w[stat::OpenSockets] = static_cast<uint16_t>(std::clamp(openSockets_, 0, 0xFFFF));
    w[stat::TestMode] = testModeWord_;
    w[stat::TestInputsLow] = testInputsLow_;
    w[stat::TestInputsHigh] = testInputsHigh_;
    w[stat::DroppedPackets] = droppedPackets_;
    for (size_t j = 0; j < 5; ++j) {
        w[stat::ErrorTimes + 2 * j] = static_cast<uint16_t>(errorTimes_[j] & 0xFFFF);
        w[stat::ErrorTimes + 2 * j + 1] = static_cast<uint16_t>(errorTimes_[j] >> 16);
        w[stat::ErrorCodes + j] = errorCodes_[j];
    }
    return w;
}

PointTexts ModuleModel::pointTexts() const
{
    PointTexts t;
    for (size_t p = 0; p < 32; ++p) {
        t.description[p] = GetText(&points_[pts::Description + 16 * p], 16);
        t.offText[p] = GetText(&points_[pts::OffText + 8 * p], 8);
        t.onText[p] = GetText(&points_[pts::OnText + 8 * p], 8);
    }
    return t;
}

const EncodedBlock& ModuleModel::presentBlock()
{
    std::vector<SerEvent> front(
        events_.begin(), events_.begin() + static_cast<ptrdiff_t>(std::min<size_t>(events_.size(), 64)));
    int type = config_[cfg::EventBufferType];
    presented_ = EncodeEventBlock(type <= 3 ? type : 2, front, moduleId_,
        static_cast<uint16_t>(std::min<size_t>(events_.size(), 0xFFFF)), pointTexts());
    return *presented_;
}

std::optional<uint8_t> ModuleModel::injected(int first, int count) const
{
    for (const auto& [reg, code] : options_.injectedExceptions)
        if (reg >= first && reg < first + count)
            return code;
    return std::nullopt;
}

std::vector<uint8_t> ModuleModel::handleRequest(const uint8_t* pdu, size_t len, Link link)
{
    if (pdu == nullptr || len == 0)
        return {};
    try {
        taskLoading_[link == Link::Tcp ? 6 : 4] += 5;
        return dispatch(pdu, len, link);
    } catch (const std::exception&) {
        return ExceptionReply(pdu[0], exc::SlaveDeviceFailure);
    }
}

ModuleModel::Reply ModuleModel::dispatch(const uint8_t* pdu, size_t len, Link)
{
    const uint8_t fc = pdu[0];
    switch (fc) {
    case MODBUS_FC_READ_COILS:
    case MODBUS_FC_READ_DISCRETE_INPUTS:
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS: {
        if (len != 5)
            return ExceptionReply(fc, exc::IllegalDataValue);
        int start = Be16(pdu + 1) + 1, count = Be16(pdu + 3);
        int limit = ReadsBits(fc) ? kMaxReadBits : kMaxReadRegisters;
        if (count < 1 || count > limit)
            return ExceptionReply(fc, exc::IllegalDataValue);
        if (start + count - 1 > 65536)
            return ExceptionReply(fc, exc::IllegalDataAddress);
        if (auto code = injected(start, count))
            return ExceptionReply(fc, *code);
        return ReadsBits(fc) ? readBits(fc, start, count) : readRegisters(fc, start, count);
    }
    case MODBUS_FC_WRITE_SINGLE_COIL: {
        if (len != 5)
            return ExceptionReply(fc, exc::IllegalDataValue);
        uint16_t v = Be16(pdu + 3);
        if (v != 0xFF00 && v != 0x0000)
            return ExceptionReply(fc, exc::IllegalDataValue);
        int start = Be16(pdu + 1) + 1;
        if (auto code = injected(start, 1))
            return ExceptionReply(fc, *code);
        return writeCoils(fc, start, {v == 0xFF00}, Reply(pdu, pdu + 5));
    }
    case MODBUS_FC_WRITE_SINGLE_REGISTER: {
        if (len != 5)
            return ExceptionReply(fc, exc::IllegalDataValue);
        int start = Be16(pdu + 1) + 1;
        if (auto code = injected(start, 1))
            return ExceptionReply(fc, *code);
        return writeRegisters(fc, start, {Be16(pdu + 3)}, Reply(pdu, pdu + 5));
    }
    case MODBUS_FC_WRITE_MULTIPLE_COILS: {
        if (len < 6)
            return ExceptionReply(fc, exc::IllegalDataValue);
        int start = Be16(pdu + 1) + 1, count = Be16(pdu + 3), bytes = pdu[5];
        if (count < 1 || count > kMaxWriteCoils || bytes != (count + 7) / 8 || len != 6u + static_cast<size_t>(bytes))
            return ExceptionReply(fc, exc::IllegalDataValue);
        if (start + count - 1 > 65536)
            return ExceptionReply(fc, exc::IllegalDataAddress);
        if (auto code = injected(start, count))
            return ExceptionReply(fc, *code);
        std::vector<bool> values(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            values[static_cast<size_t>(i)] = (pdu[6 + i / 8] >> (i % 8)) & 1;
        return writeCoils(fc, start, values, Reply(pdu, pdu + 5));
    }
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS: {
        if (len < 6)
            return ExceptionReply(fc, exc::IllegalDataValue);
        int start = Be16(pdu + 1) + 1, count = Be16(pdu + 3), bytes = pdu[5];
        if (count < 1 || count > kMaxWriteRegisters || bytes != 2 * count || len != 6u + static_cast<size_t>(bytes))
            return ExceptionReply(fc, exc::IllegalDataValue);
        if (start + count - 1 > 65536)
            return ExceptionReply(fc, exc::IllegalDataAddress);
        if (auto code = injected(start, count))
            return ExceptionReply(fc, *code);
        std::vector<uint16_t> values(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            values[static_cast<size_t>(i)] = Be16(pdu + 6 + 2 * i);
        return writeRegisters(fc, start, values, Reply(pdu, pdu + 5));
    }
    default: return ExceptionReply(fc, exc::IllegalFunction);
    }
}

ModuleModel::Reply ModuleModel::readBits(uint8_t fc, int start, int count)
{
    if (start + count - 1 > kCoilCount)
        return ExceptionReply(fc, exc::IllegalDataAddress);
    Reply r{fc, static_cast<uint8_t>((count + 7) / 8)};
    r.resize(2 + r[1], 0);
    for (int i = 0; i < count; ++i) {
        bool v = start + i == kEventAvailableCoil && !events_.empty();
        if (v)
            r[2 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return r;
}

ModuleModel::Reply ModuleModel::writeCoils(uint8_t fc, int start, const std::vector<bool>& values, const Reply& echo)
{
    int last = start + static_cast<int>(values.size()) - 1;
    // Coil 1 reports the buffer state; only the acknowledge coil takes writes.
    if (start != kAcknowledgeCoil || last != kAcknowledgeCoil)
        return ExceptionReply(fc, exc::IllegalDataAddress);
    if (values[0]) {
        const EncodedBlock& b = presented_ ? *presented_ : presentBlock();
        size_t n = std::min(b.eventsTaken, events_.size());
        events_.erase(events_.begin(), events_.begin() + static_cast<ptrdiff_t>(n));
        if (events_.size() + 1 < options_.eventCapacity)
            overflowed_ = false;
        presented_.reset();
    }
    return echo;
}

uint16_t ModuleModel::plainWord(int reg, bool eventView)
{
    if (InRange(reg, kConfigFirst, kConfigWords))
        return config_[static_cast<size_t>(reg - kConfigFirst)];
    if (reg == kModuleIdRegister)
        return moduleId_;
    if (eventView && InRange(reg, kEventBlockFirst + 1, kEventBlockFirst + kEventBlockWords - 1)) {
        const EncodedBlock& b = presented_ ? *presented_ : presentBlock();
        return b.words[static_cast<size_t>(reg - kEventBlockFirst)];
    }
    if (InRange(reg, kStatusFirst, kStatusFirst + kStatusWords - 1))
        return statusBlock()[static_cast<size_t>(reg - kStatusFirst)];
    if (InRange(reg, kPointFirst, kPointLast))
        return points_[static_cast<size_t>(reg - kPointFirst)];
    if (InRange(reg, kStatisticsFirst, kStatisticsFirst + kStatisticsWords - 1))
        return statisticsBlock()[static_cast<size_t>(reg - kStatisticsFirst)];
    return 0;
}

ModuleModel::Reply ModuleModel::readRegisters(uint8_t fc, int start, int count)
{
    int last = start + count - 1;
    std::vector<uint16_t> words;
    words.reserve(static_cast<size_t>(count));
    if (last <= kPlainAreaLast) {
        // Register 200 is both the last event-block word and status word 0;
        // the block a read starts in decides which one it sees.
        bool eventView = start < kStatusFirst;
        bool touchesEventBlock =
            eventView && start <= kEventBlockFirst + kEventBlockWords - 1 && last > kEventBlockFirst;
        if (touchesEventBlock)
            presentBlock();
        std::optional<std::array<uint16_t, kStatusWords>> status;
        std::optional<std::array<uint16_t, kStatisticsWords>> stats;
        for (int reg = start; reg <= last; ++reg) {
            if (InRange(reg, kStatusFirst, kStatusFirst + kStatusWords - 1) && !(eventView && reg == kStatusFirst)) {
                if (!status)
                    status = statusBlock();
                words.push_back((*status)[static_cast<size_t>(reg - kStatusFirst)]);
            } else if (InRange(reg, kStatisticsFirst, kStatisticsFirst + kStatisticsWords - 1)) {
                if (!stats)
                    stats = statisticsBlock();
                words.push_back((*stats)[static_cast<size_t>(reg - kStatisticsFirst)]);
            } else {
                words.push_back(plainWord(reg, eventView));
            }
        }
    } else if (InRange(start, kFlashWindowFirst, kFlashWindowLast)) {
        // The start register selects a 128-byte-aligned image position; the
        // words that follow are consecutive bytes from there.
        size_t offset = static_cast<size_t>(start - kFlashWindowFirst) * 32;
        std::vector<uint8_t> bytes(2 * static_cast<size_t>(count));
        if (!flash_.read(offset, bytes))
            return ExceptionReply(fc, exc::IllegalDataAddress);
        for (int i = 0; i < count; ++i)
            words.push_back(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    } else if (start >= kFlashControlFirst && last < kFlashControlFirst + kFlashControlWords) {
        for (int reg = start; reg <= last; ++reg)
            words.push_back(flashControl_[static_cast<size_t>(reg - kFlashControlFirst)]);
    } else {
        return ExceptionReply(fc, exc::IllegalDataAddress);
    }
    Reply r{fc, static_cast<uint8_t>(2 * count)};
    for (uint16_t w : words) {
        r.push_back(static_cast<uint8_t>(w >> 8));
        r.push_back(static_cast<uint8_t>(w & 0xFF));
    }
    return r;
}

CivilTime ModuleModel::stagedTime() const
{
    CivilTime t;
    t.month = stagedTime_[0];
    t.day = stagedTime_[1];
    t.year = stagedTime_[2];
    t.hour = stagedTime_[3];
    t.minute = stagedTime_[4];
    t.second = stagedTime_[5];
    return t;
}

uint8_t ModuleModel::validateWrite(int start, const std::vector<uint16_t>& values) const
{
    auto staged = stagedTime_;
    bool timeSet = false;
    for (size_t i = 0; i < values.size(); ++i) {
        int reg = start + static_cast<int>(i);
        uint16_t v = values[i];
        if (InRange(reg, kConfigFirst, kConfigWords)) {
            if (reg - kConfigFirst == cfg::EventBufferType && v > 3)
                return exc::IllegalDataValue;
        } else if (reg == kModuleIdRegister) {
        } else if (InRange(reg, kStatusFirst, kStatusFirst + kStatusWords - 1) && start >= kStatusFirst) {
            int k = reg - kStatusFirst;
            if (k >= st::Month && k <= st::Second)
                staged[static_cast<size_t>(k - st::Month)] = v;
            if (k == st::Command && v == st::TimeSetCommand)
                timeSet = true;
        } else if (InRange(reg, kPointFirst, kPointLast)) {
        } else if (reg == kDownloadStartRegister) {
            if (v != kDownloadStartCode)
                return exc::IllegalDataValue;
        } else if (InRange(reg, kStatisticsFirst + stat::TestMode, kStatisticsFirst + stat::TestInputsHigh)) {
        } else {
            return exc::IllegalDataAddress;
        }
    }
    if (timeSet) {
        CivilTime t{staged[2], staged[0], staged[1], staged[3], staged[4], staged[5]};
        if (!IsValidCivil(t))
            return exc::IllegalDataValue;
    }
    return 0;
}

void ModuleModel::applyWrite(int start, const std::vector<uint16_t>& values)
{
    bool configChanged = false, pointsChanged = false, inputsChanged = false, timeSet = false;
    bool wasTest = testMode();
    for (size_t i = 0; i < values.size(); ++i) {
        int reg = start + static_cast<int>(i);
        uint16_t v = values[i];
        if (InRange(reg, kConfigFirst, kConfigWords)) {
            int w = reg - kConfigFirst;
            // Factory words (MAC, firmware version, own address) are not writable.
            bool factory =
                (w >= cfg::TcpipMac && w < cfg::TcpipMac + 6) || w == cfg::Version || w == cfg::ModbusAddress;
            if (!factory && config_[static_cast<size_t>(w)] != v) {
                if (w == cfg::EventBufferType)
                    presented_.reset();
                config_[static_cast<size_t>(w)] = v;
                configChanged = true;
            }
        } else if (reg == kModuleIdRegister) {
            if (moduleId_ != v)
                configChanged = true;
            moduleId_ = v;
        } else if (InRange(reg, kStatusFirst, kStatusFirst + kStatusWords - 1)) {
            int k = reg - kStatusFirst;
            if (k >= st::Month && k <= st::Second)
                stagedTime_[static_cast<size_t>(k - st::Month)] = v;
            if (k == st::Command && v == st::TimeSetCommand)
                timeSet = true;
        } else if (InRange(reg, kPointFirst, kPointLast)) {
            if (points_[static_cast<size_t>(reg - kPointFirst)] != v)
                pointsChanged = true;
            points_[static_cast<size_t>(reg - kPointFirst)] = v;
        } else if (reg == kDownloadStartRegister) {
            downloadArmed_ = true;
        } else if (reg == kStatisticsFirst + stat::TestMode) {
            testModeWord_ = v;
            inputsChanged = true;
        } else if (reg == kStatisticsFirst + stat::TestInputsLow) {
            testInputsLow_ = v;
            inputsChanged = true;
        } else if (reg == kStatisticsFirst + stat::TestInputsHigh) {
            testInputsHigh_ = v;
            inputsChanged = true;
        }
    }
    if (configChanged || pointsChanged)
        dirty_ = true;
    if (configChanged)
        applyConfigEffects();
    if (timeSet) {
        addEvent(kind::ResyncOldTime);
        clock_.setLocal(stagedTime());
        addEvent(kind::ResyncNewTime);
        int64_t local = FloorDiv(clock_.localMs(), 1000);
        lastHourIndex_ = FloorDiv(local, 3600);
        lastDayIndex_ = FloorDiv(local, 86400);
    }
    if (testMode() != wasTest)
        addEvent(testMode() ? kind::TestModeOn : kind::TestModeOff);
    if (inputsChanged || pointsChanged)
        updatePoints();
    // The last point block of a download completes it; the module then runs
    // with the new configuration.
    int last = start + static_cast<int>(values.size()) - 1;
    if (downloadArmed_ && start <= kPointLast && last >= kPointLast) {
        downloadArmed_ = false;
        addEvent(kind::Reconfigure);
    }
}

ModuleModel::Reply ModuleModel::writeRegisters(
    uint8_t fc, int start, const std::vector<uint16_t>& values, const Reply& echo)
{
    int count = static_cast<int>(values.size());
    int last = start + count - 1;
    if (last <= kPlainAreaLast) {
        if (uint8_t code = validateWrite(start, values))
            return ExceptionReply(fc, code);
        applyWrite(start, values);
        return echo;
    }
    if (InRange(start, kFlashWindowFirst, kFlashWindowLast)) {
        size_t offset = static_cast<size_t>(start - kFlashWindowFirst) * 32;
        std::vector<uint8_t> bytes;
        for (uint16_t w : values) {
            bytes.push_back(static_cast<uint8_t>(w & 0xFF));
            bytes.push_back(static_cast<uint8_t>(w >> 8));
        }
        if (!flash_.program(offset, bytes))
            return ExceptionReply(fc, exc::IllegalDataAddress);
        dirty_ = true;
        return echo;
    }
    if (start >= kFlashControlFirst && last < kFlashControlFirst + kFlashControlWords) {
        int eraseLast = kFlashEraseFirst + kFlashEraseWords - 1;
        if (start <= kFlashEraseFirst && last >= eraseLast) {
            const uint16_t* cmd = &values[static_cast<size_t>(kFlashEraseFirst - start)];
            static constexpr uint16_t kUnlock[4] = {0x0000, 0x5555, 0xAAAA, 0xFFFF};
            if (!std::equal(cmd, cmd + 4, kUnlock) || cmd[4] > FlashMemory::kHighestSector)
                return ExceptionReply(fc, exc::IllegalDataValue);
            flash_.eraseSector(cmd[4]);
            dirty_ = true;
        }
        for (int i = 0; i < count; ++i)
            flashControl_[static_cast<size_t>(start + i - kFlashControlFirst)] = values[static_cast<size_t>(i)];
        return echo;
    }
    return ExceptionReply(fc, exc::IllegalDataAddress);
}

} // namespace chronel::sim
