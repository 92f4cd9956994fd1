#include "module_collector.h"

#include "command_loop.h"
#include "console.h"
#include "failure_report.h"
#include "module_session.h"
#include "terminal.h"
#include "transfer_run.h"

#include "core/events/event_record.h"
#include "core/model/module_map.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace chronelcli {

namespace {

// A module whose point table could not be read is asked again this often.
constexpr int PointTableRetryMs = 60000;
// One warning about vanishing events per module in this time.
constexpr int VanishedWarningMs = 300000;
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

} // namespace

ModuleCollector::ModuleCollector(ModuleSession& session, chronel::JournalStore& journal, Console& console,
    const QString& name, std::optional<int> intervalMs)
    : session_(session)
    , journal_(journal)
    , console_(console)
    , siteName_(name)
    , idleIntervalMs_(intervalMs.value_or(chronel::EventScanStartInterval))
    , transferIntervalMs_(intervalMs.value_or(PointTableReadIntervalMs))
{
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, [this] {
        if (!readingPoints_ && !InterruptRequested())
            session_.channels().modEventScan().Trigger();
    });
    chronel::Channel& scan = session_.channels().modEventScan();
    // Connected before the scan's own handlers: the step the reply answers.
    const auto before = [this] {
        if (live_)
            stepBefore_ = live_->eventScan().step();
    };
    connect(&scan, &chronel::Channel::OnReadDone, this, before);
    connect(&scan, &chronel::Channel::OnWriteDone, this, before);
    connect(&scan, &chronel::Channel::OnErrorEvent, this, before);

    live_ = std::make_unique<chronel::LiveData>(session_.model());
    if (session_.model().monitorEventData())
        live_->toggleMonitorEventData();
    live_->eventScan().setEventsTaken([this](const QList<chronel::DecodedEvent>& events,
                                          const chronel::EventBlockWords& block) { return store(events, block); });

    connect(&scan, &chronel::Channel::OnReadDone, this, [this] {
        lastFailed_ = false;
        afterCompletion();
    });
    connect(&scan, &chronel::Channel::OnWriteDone, this, [this] {
        lastFailed_ = false;
        afterCompletion();
    });
    connect(&scan, &chronel::Channel::OnErrorEvent, this, [this](int code) {
        if (!lastFailed_)
            console_.error(CommunicationFailureLine(session_.moduleName(), code));
        lastFailed_ = true;
    });
}

ModuleCollector::~ModuleCollector() { session_.stopPolling(); }

bool ModuleCollector::store(const QList<chronel::DecodedEvent>& events, const chronel::EventBlockWords&)
{
    const JournalModuleInfo module{session_.address(),
        siteName_.isEmpty() ? session_.model().settings().ConfigModuleName.trimmed() : siteName_,
        pointsKnown_ ? &points_ : nullptr};
    const QList<chronel::JournalEvent> rows = BlockJournalRows(events, module, QDateTime::currentDateTimeUtc());
    if (!rows.isEmpty()) {
        QString error;
        int added = 0;
        // A server connection that broke (a restarted PostgreSQL) is opened
        // again once before the block is given back to the module.
        const auto appended = [&] { return journal_.append(rows, &error, &added); };
        const chronel::JournalLocation where = journal_.location();
        if (!appended() && !(journal_.open(where, &error) && appended())) {
            if (!storeFailing_)
                console_.error(QStringLiteral("chronel-cli: %1: events left in the module, the journal did not take "
                                              "them: %2")
                                   .arg(session_.address(), error));
            storeFailing_ = true;
            return false;
        }
        if (storeFailing_)
            console_.error(QStringLiteral("chronel-cli: %1: the journal takes events again").arg(session_.address()));
        storeFailing_ = false;
        taken_ += int(rows.size());
        lastEvents_ = QDateTime::currentDateTimeUtc();
        added_ += added;
    }
    for (const chronel::DecodedEvent& e : events)
        if (e.shown.kind == chronel::eventkind::Reconfigure)
            refreshPoints_ = true;
    return true;
}

void ModuleCollector::checkPending(const chronel::EventBlockWords& block)
{
    const chronel::EventScan& scan = live_->eventScan();
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
    const int records = scan.eventAvailable() ? chronel::EventDecoder::RecordCount(block) : 0;
    pendingAtLeast_ = std::max(0, pending - records);
}

void ModuleCollector::afterCompletion()
{
    using Step = chronel::EventScan::Step;
    chronel::EventScan& scan = live_->eventScan();
    if (stepBefore_ == Step::EventBlock) {
        chronel::EventBlockWords block{};
        for (int i = 0; i < chronel::EventBlockWordCount; ++i)
            block[std::size_t(i)] = session_.channels().modEventScan().WordVal(i);
        checkPending(block);
    }
    const bool betweenCycles = scan.step() == Step::StatusBlock || scan.step() == Step::EventAvailable;
    const bool pointsDue = refreshPoints_ ||
        (!pointsKnown_ && (pointsTried_.isNull() || pointsTried_.msecsTo(QDateTime::currentDateTimeUtc()) >=
                                                        PointTableRetryMs));
    if (betweenCycles && pointsDue && !readingPoints_) {
        QTimer::singleShot(0, this, [this] { readPointTable(); });
        return;
    }
    if (InterruptRequested())
        return;
    // Draining: the next request goes out as soon as this one is done.
    const bool active = !lastEvents_.isNull() && lastEvents_.msecsTo(QDateTime::currentDateTimeUtc()) < ActiveWindowMs;
    // One pace timer, started again by every completion: the completions of
    // the poll's own ticks must not add chains of requests of their own.
    if (scan.eventAvailable() || active)
        pace_.start(scan.eventAvailable() ? 0 : std::min(ActiveIntervalMs, idleIntervalMs_));
}

void ModuleCollector::readPointTable()
{
    if (readingPoints_ || InterruptRequested())
        return;
    readingPoints_ = true;
    refreshPoints_ = false;
    pace_.stop();
    pointsTried_ = QDateTime::currentDateTimeUtc();
    // The upload stops the scan and leaves every channel stopped.
    const ExitStatus status =
        RunTransfer(session_, TransferKind::Upload, transferIntervalMs_, console_, PointTableErrorLimit);
    if (status == ExitStatus::Done) {
        points_ = session_.model().points();
        pointsKnown_ = true;
    } else if (!InterruptRequested()) {
        console_.error(QStringLiteral("chronel-cli: %1: the point table was not read; events are stored without "
                                      "point texts until it is (tried again every %2 s)")
                           .arg(session_.address())
                           .arg(PointTableRetryMs / 1000));
    }
    readingPoints_ = false;
    if (!InterruptRequested())
        session_.channels().modEventScan().AutoPoll(idleIntervalMs_);
}

ExitStatus ModuleCollector::run(int timeLimitMs)
{
    QElapsedTimer running;
    running.start();
    readPointTable();
    CommandLoop loop;
    const int left = timeLimitMs < 0 ? -1 : std::max(0, timeLimitMs - int(running.elapsed()));
    const ExitStatus status = loop.run(ExitStatus::Done, left, ExitStatus::Done);
    session_.stopPolling();
    console_.line(QStringLiteral("Collected %1 events, %2 new").arg(taken_).arg(added_));
    return status == ExitStatus::Done && lastFailed_ ? ExitStatus::ModuleFailed : status;
}

} // namespace chronelcli
