#include "module_collector.h"

#include "command_loop.h"
#include "console.h"
#include "failure_report.h"
#include "journal_link.h"
#include "module_session.h"
#include "terminal.h"
#include "transfer_run.h"

#include "core/events/event_record.h"
#include "core/live/status_block.h"
#include "core/model/chronel_model.h"
#include "core/model/module_map.h"

#include "journal/clock_state.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace chronelcli {

namespace {

// A module whose point table could not be read is asked again this often.
constexpr int PointTableRetryMs = 60000;
// One warning about vanishing events per module in this time.
constexpr int VanishedWarningMs = 300000;
// One warning a minute while the journal refuses blocks.
constexpr int JournalWarningMs = 60000;
// A module that handed out events lately is scanned at this interval rather
// than the idle pace: a steady trickle of events reaches the journal within
// a second or two instead of waiting for a whole idle cycle (four polls).
constexpr int ActiveIntervalMs = 250;
constexpr int ActiveWindowMs = 30000;
// Errors the point-table read survives: on a lossy link the window's three
// would leave every row without its point texts.
constexpr int PointTableErrorLimit = 20;
// The point table is read between scan cycles at this interval, faster than
// the window's 500 ms: twenty requests hold up the scan for one second.
constexpr int PointTableReadIntervalMs = 50;
// A module's clock is written to the journal at least this often while it
// is read, so `clocks` can tell a steady clock from one nobody watched.
constexpr int ClockReadingMs = 600000;
constexpr int ClockOffsetStepMs = 1000;
// The collector's own idle pace: a burst is noticed within this time.
constexpr int CollectorIdleIntervalMs = 500;
// The status block is read this often besides when dating needs it: the
// clock's source, quality and offset stored with the rows are this fresh.
constexpr int StatusRefreshMs = 5000;
// While the journal refuses blocks a module is asked at the window's pace:
// nothing it answers can be stored, so a quicker pace would only load it.
constexpr int RefusedIntervalMs = chronel::EventScanStartInterval;

// A block as the journal keeps it: its words as the module sent them, low byte first.
QByteArray BlockBytes(const chronel::EventBlockWords& block)
{
    QByteArray bytes;
    bytes.reserve(chronel::eventblock::ByteCount);
    for (int i = 0; i < chronel::eventblock::ByteCount; ++i)
        bytes.append(char(chronel::EventBlockByte(block, i)));
    return bytes;
}

std::optional<chronel::EventBlockWords> BlockOfBytes(const QByteArray& bytes)
{
    if (bytes.size() != chronel::eventblock::ByteCount)
        return std::nullopt;
    chronel::EventBlockWords block{};
    for (std::size_t k = 0; k < block.size(); ++k)
        block[k] = qint16(quint16(quint8(bytes[qsizetype(2 * k)])) | quint16(quint8(bytes[qsizetype(2 * k + 1)])) << 8);
    return block;
}

} // namespace

ModuleCollector::ModuleCollector(ModuleSession& session, JournalLink& journal, Console& console, const QString& name,
    std::optional<int> intervalMs, const QString& zone, std::optional<int> idleIntervalMs)
    : session_(session),
      journal_(journal),
      console_(console),
      siteName_(name),
      idleIntervalMs_(idleIntervalMs.value_or(intervalMs.value_or(CollectorIdleIntervalMs))),
      transferIntervalMs_(intervalMs.value_or(PointTableReadIntervalMs))
{
    if (!zone.isEmpty()) {
        QString error;
        zone_ = chronel::ModuleZone::parse(zone, &error);
    }
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, [this] {
        if (phase_ != Phase::ReadingPoints && !InterruptRequested())
            session_.channels().modEventScan().Trigger();
    });
    stateRetry_.setSingleShot(true);
    connect(&stateRetry_, &QTimer::timeout, this, [this] {
        if (!InterruptRequested())
            startScan();
    });

    chronel::EventScanHooks hooks;
    hooks.host = [this] { return session_.model().GetIp(); };
    hooks.eventBlock = [this](const chronel::EventBlockWords& block, bool available) { eventBlock(block, available); };
    hooks.statusBlock = [this](const chronel::StatusBlockWords& words) { clockRead(words); };
    hooks.completed = [this](chronel::EventScanStep answered) { completed(answered); };
    hooks.failed = [this](chronel::EventScanStep, platform::ErrorCode code) { failed(code); };
    hooks.statusBlockDue = [this] { return statusBlockDue(); };
    // An empty module's block says nothing new, unless events it held before
    // may have been drained by another client (the vanishing check).
    hooks.idleBlockWanted = [this] { return pendingAtLeast_.value_or(0) > 0; };
    scan_ = std::make_unique<chronel::EventScan>(session_.channels().modEventScan(), nullptr, std::move(hooks));
    scan_->decoder().setModuleClock([this] { return clock_.now(); });
    scan_->setEventsTaken([this](const QList<chronel::DecodedEvent>& events, const chronel::EventBlockWords& block) {
        return store(events, block);
    });
    scan_->setAcknowledged([this](const chronel::EventBlockWords&) { acknowledged(); });
}

ModuleCollector::~ModuleCollector() { session_.stopPolling(); }

bool ModuleCollector::loadState()
{
    QString error;
    const std::optional<chronel::JournalModuleState> state = journal_.moduleState(session_.address(), &error);
    if (!state) {
        journalRefused(error);
        return false;
    }
    moduleId_ = state->moduleId;
    if (const auto decoder = chronel::EventDecoderState::fromText(state->decoder))
        scan_->decoder().restore(*decoder);
    if (const auto block = BlockOfBytes(state->unconfirmed)) {
        scan_->setUnconfirmed(block);
        unconfirmedBlock_ = state->block;
    }
    stateLoaded_ = true;
    return true;
}

void ModuleCollector::startScan()
{
    if (!stateLoaded_ && !loadState()) {
        // The module is not asked until the journal can say where it stopped.
        phase_ = Phase::WaitingForJournal;
        stateRetry_.start(std::max(idleIntervalMs_, RefusedIntervalMs));
        return;
    }
    if (phase_ == Phase::ReadingPoints || phase_ == Phase::WaitingForJournal)
        phase_ = Phase::Collecting;
    // The module's clock dates what its records leave undated: read it first.
    if (!clock_.known())
        scan_->readStatusBlockNext();
    pollAtPace();
}

void ModuleCollector::pollAtPace()
{
    const int interval =
        phase_ == Phase::JournalRefusing ? std::max(idleIntervalMs_, RefusedIntervalMs) : idleIntervalMs_;
    session_.channels().modEventScan().AutoPoll(interval);
}

bool ModuleCollector::statusBlockDue() const { return !clock_.known() || statusDue_.hasExpired(); }

void ModuleCollector::clockRead(const chronel::StatusBlockWords& words)
{
    using namespace chronel::statusblock;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    statusDue_.setRemainingTime(StatusRefreshMs);
    clock_.set(
        words[YearWord], words[MonthWord], words[DayWord], words[HourWord], words[MinuteWord], words[SecondWord]);
    clockSource_ = words[TimeSourceWord] & (chronel::ClockSourceMask | chronel::ClockGpsSeenMask);
    clockQuality_ = words[TimeQualityWord] & chronel::ClockQualityMask;
    clockDst_ = (words[DstWord] & 1) != 0;
    clockOffsetMs_.reset();
    const std::optional<QDateTime> reading = clock_.now();
    if (zone_ && reading) {
        // The clock is read to whole seconds: on average it is half a second
        // further on than it says, so the offset is taken from that middle.
        const chronel::ZonedTime utc = zone_->toUtc(*reading, clockDst_);
        if (utc.utc.isValid())
            clockOffsetMs_ = int(std::clamp<qint64>(now.msecsTo(utc.utc) + 500, -INT_MAX, INT_MAX));
    }
    keepClockReading(now);
}

void ModuleCollector::keepClockReading(const QDateTime& now)
{
    chronel::JournalClockReading reading{session_.address(), now, *clockSource_, *clockQuality_, clockOffsetMs_};
    if (clockKept_ && clockKept_->source == reading.source && clockKept_->quality == reading.quality &&
        clockKept_->offsetMs.has_value() == reading.offsetMs.has_value() &&
        (!reading.offsetMs || std::abs(qint64(*reading.offsetMs) - *clockKept_->offsetMs) < ClockOffsetStepMs) &&
        clockKept_->at.msecsTo(now) < ClockReadingMs)
        return;
    QString error;
    // Not kept is not fatal: the rows carry the clock's state all the same.
    if (journal_.appendClock(reading, &error))
        clockKept_ = reading;
}

void ModuleCollector::eventBlock(const chronel::EventBlockWords& block, bool eventsAvailable)
{
    checkPending(block, eventsAvailable);
    if (!eventsAvailable)
        return;
    const int id = block[0];
    if (moduleId_ && *moduleId_ != id) {
        // Another module at this address: nothing of the last one's decoding
        // or blocks applies to it.
        console_.error(QStringLiteral("chronel-cli: %1: the Module ID changed from %2 to %3: another module answers at "
                                      "this address; its point table is read again")
                           .arg(session_.address())
                           .arg(*moduleId_)
                           .arg(id));
        scan_->decoder().restore({});
        scan_->setUnconfirmed(std::nullopt);
        unconfirmedBlock_ = 0;
    }
    moduleId_ = id;
    if (!pointsForId_)
        pointsForId_ = id;
    else if (*pointsForId_ != id)
        pointsDue_ = true;
}

bool ModuleCollector::store(const QList<chronel::DecodedEvent>& events, const chronel::EventBlockWords& block)
{
    // Events of a module whose point table is not its own wait for it.
    if (pointsDue_ && pointsForId_ && moduleId_ && *pointsForId_ != *moduleId_)
        return false;
    const QDateTime received = QDateTime::currentDateTimeUtc();
    const JournalModuleInfo module{session_.address(),
        siteName_.isEmpty() ? session_.model().settings().ConfigModuleName.trimmed() : siteName_,
        points_ ? &*points_ : nullptr, int(block[0]), zone_ ? &*zone_ : nullptr, clockSource_, clockQuality_,
        clockOffsetMs_, clockDst_};
    const QList<chronel::JournalEvent> rows = BlockJournalRows(events, module, received);
    chronel::JournalModuleState state;
    state.module = session_.address();
    state.moduleId = block[0];
    state.unconfirmed = BlockBytes(block);
    state.decoder = scan_->decoder().state().toText();
    state.zone = zone_ ? zone_->text() : QString();
    QString error;
    qint64 number = 0;
    if (!journal_.appendBlock(rows, state, &error, &number)) {
        leftInModule_ = quint16(block[chronel::eventblock::PendingEventsWord]);
        journalRefused(error);
        return false;
    }
    if (phase_ == Phase::JournalRefusing) {
        console_.error(QStringLiteral("chronel-cli: %1: the journal takes events again").arg(session_.address()));
        phase_ = Phase::Collecting;
        pollAtPace();
    }
    unconfirmedBlock_ = number;
    for (const chronel::JournalEvent& row : rows)
        if (row.marks.contains(QLatin1String("malformed")))
            console_.error(QStringLiteral("chronel-cli: %1: record %2 of block %3 (bytes %4) holds no valid time; "
                                          "stored as it came, marked malformed, at the module clock's time %5")
                               .arg(session_.address())
                               .arg(row.record + 1)
                               .arg(number)
                               .arg(QString::fromLatin1(row.raw.toHex(' ')),
                                   row.moduleTime.isEmpty() ? QStringLiteral("(unknown)") : row.moduleTime));
    if (!rows.isEmpty()) {
        taken_ += int(rows.size());
        added_ += int(rows.size());
        lastEvents_ = received;
    }
    for (const chronel::DecodedEvent& e : events)
        if (e.shown.kind == chronel::eventkind::Reconfigure || e.shown.kind == chronel::eventkind::PowerOnReset) {
            pointsDue_ = true;
            // A restarted or reconfigured module's clock may have been set.
            statusDue_.setRemainingTime(0);
        }
    return true;
}

void ModuleCollector::journalRefused(const QString& error)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool refusing = phase_ == Phase::JournalRefusing || phase_ == Phase::WaitingForJournal;
    if (!refusing || storeWarned_.isNull() || storeWarned_.msecsTo(now) >= JournalWarningMs) {
        console_.error(QStringLiteral("chronel-cli: %1: events left in the module, the journal did not take them: %2")
                           .arg(session_.address(), error));
        storeWarned_ = now;
    }
    if (phase_ == Phase::Collecting) {
        phase_ = Phase::JournalRefusing;
        pollAtPace();
    }
    // Asked at the refusing pace only, until the journal takes blocks again.
    pace_.stop();
}

void ModuleCollector::acknowledged()
{
    if (unconfirmedBlock_ <= 0)
        return;
    QString error;
    // Not fatal: a collector started again compares with the block instead.
    if (!journal_.confirmBlock(session_.address(), unconfirmedBlock_, &error) && phase_ != Phase::JournalRefusing)
        console_.error(QStringLiteral("chronel-cli: %1: %2").arg(session_.address(), error));
    unconfirmedBlock_ = 0;
}

void ModuleCollector::checkPending(const chronel::EventBlockWords& block, bool eventsAvailable)
{
    const int pending = block[chronel::eventblock::PendingEventsWord];
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (pendingAtLeast_ && pending < *pendingAtLeast_ &&
        (vanishedWarned_.isNull() || vanishedWarned_.msecsTo(now) >= VanishedWarningMs)) {
        vanishedWarned_ = now;
        console_.error(QStringLiteral("chronel-cli: %1: %2 events vanished from the module between two reads: is "
                                      "another client draining it (a window in Retrieve mode, another collector)? "
                                      "Watch a collected module with the window's Monitor mode.")
                           .arg(session_.address())
                           .arg(*pendingAtLeast_ - pending));
    }
    // Whether or not this block is acknowledged, no more than its records
    // can leave the module before the next read; new events only add.
    const int records = eventsAvailable ? chronel::EventDecoder::RecordCount(block) : 0;
    pendingAtLeast_ = std::max(0, pending - records);
}

void ModuleCollector::failed(platform::ErrorCode code)
{
    if (!lastError_)
        console_.error(CommunicationFailureLine(session_.moduleName(), code));
    lastError_ = code;
}

void ModuleCollector::completed(chronel::EventScanStep answered)
{
    using Step = chronel::EventScanStep;
    lastError_.reset();
    const bool betweenCycles = scan_->step() == Step::StatusBlock || scan_->step() == Step::EventAvailable;
    const bool pointsWanted = pointsDue_ ||
        (!points_ &&
            (pointsTried_.isNull() || pointsTried_.msecsTo(QDateTime::currentDateTimeUtc()) >= PointTableRetryMs));
    if (betweenCycles && pointsWanted && phase_ != Phase::ReadingPoints) {
        QTimer::singleShot(0, this, [this] { readPointTable(); });
        return;
    }
    if (InterruptRequested() || phase_ != Phase::Collecting)
        return;
    // Draining: the next request goes out as soon as this one is done.
    const bool active = !lastEvents_.isNull() && lastEvents_.msecsTo(QDateTime::currentDateTimeUtc()) < ActiveWindowMs;
    // One pace timer, started again by every completion: the completions of
    // the poll's own ticks must not add chains of requests of their own.
    if (scan_->eventAvailable() || active)
        pace_.start(scan_->eventAvailable() ? 0 : std::min(ActiveIntervalMs, idleIntervalMs_));
    else if (answered == Step::StatusBlock)
        pace_.start(0); // the status read took the tick's place: coil 1 is asked at once
}

void ModuleCollector::readPointTable()
{
    if (phase_ == Phase::ReadingPoints && pointsTried_.isValid())
        return;
    if (InterruptRequested())
        return;
    const Phase resume = phase_ == Phase::JournalRefusing ? Phase::JournalRefusing : Phase::Collecting;
    phase_ = Phase::ReadingPoints;
    pointsDue_ = false;
    pace_.stop();
    pointsTried_ = QDateTime::currentDateTimeUtc();
    // Within the run's time: a module that answers slowly must not hold a
    // collection of fixed length past its end.
    const int left = deadline_.isForever() ? -1 : int(std::max<qint64>(deadline_.remainingTime(), 0));
    // The upload stops the scan and leaves every channel stopped.
    const ExitStatus status =
        RunTransfer(session_, TransferKind::Upload, transferIntervalMs_, console_, PointTableErrorLimit, left);
    if (status == ExitStatus::Done) {
        points_ = session_.model().points();
    } else if (!InterruptRequested()) {
        console_.error(QStringLiteral("chronel-cli: %1: the point table was not read; events are stored without "
                                      "point texts until it is (tried again every %2 s)")
                           .arg(session_.address())
                           .arg(PointTableRetryMs / 1000));
    }
    // Read or not, the table stands for the module now at the address: a
    // module that never hands out its table must not hold its events.
    pointsForId_ = moduleId_;
    phase_ = resume;
    if (!InterruptRequested())
        startScan();
}

ExitStatus ModuleCollector::run(int timeLimitMs)
{
    if (timeLimitMs >= 0)
        deadline_.setRemainingTime(timeLimitMs);
    readPointTable();
    CommandLoop loop;
    const int left = deadline_.isForever() ? -1 : int(std::max<qint64>(deadline_.remainingTime(), 0));
    const ExitStatus status = loop.run(ExitStatus::Done, left, ExitStatus::Done);
    session_.stopPolling();
    stateRetry_.stop();
    if (phase_ == Phase::WaitingForJournal) {
        console_.error(QStringLiteral("chronel-cli: %1: the module was not read: the journal never said where it "
                                      "stopped")
                           .arg(session_.address()));
        console_.line(QStringLiteral("Collected nothing; the journal could not be reached"));
        return Worse(status, ExitStatus::ModuleFailed);
    }
    if (phase_ == Phase::JournalRefusing) {
        console_.error(QStringLiteral("chronel-cli: %1: %2 events remain in the module: the journal did not take them")
                           .arg(session_.address())
                           .arg(leftInModule_));
        console_.line(QStringLiteral("Collected %1 events; %2 left in the module, the journal refused them")
                          .arg(taken_)
                          .arg(leftInModule_));
        return Worse(status, ExitStatus::ModuleFailed);
    }
    console_.line(QStringLiteral("Collected %1 events, %2 new").arg(taken_).arg(added_));
    return status == ExitStatus::Done && lastError_ ? ExitStatus::ModuleFailed : status;
}

} // namespace chronelcli
