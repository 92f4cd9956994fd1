#pragma once
// One module's part of `collect`: the event scan in Retrieve mode with every
// block's events stored in the site journal before the block is
// acknowledged. A block the journal does not take stays in the module and
// is read again. The module's point table (descriptions, off and on texts)
// and Module Name are read first and again after the module reports a
// reconfiguration or a power-on reset, or another Module ID.
//
// Every event is stored once. The journal keeps, in the transaction that
// stores a block, the block itself until the module confirms its
// acknowledge, and the decoder's state after it; a collector started again
// (after a crash between the commit and the acknowledge, say) compares the
// first block it reads with that one as the scan does after a failed
// acknowledge, so it stores only what is new, and goes on with the last
// date record.
//
// Pace: an idle module is asked coil 1 once per idle interval (500 ms
// unless given), nothing else: the event block only when events are due or
// may have vanished, the status block only when the module's clock is not
// known, after a power-on reset or reconfiguration, and every
// StatusRefreshMs for its clock's state. While coil 1 says the module holds
// events, each request follows the last one's reply at once, and a block
// that leaves events behind is followed by the next without asking coil 1,
// so a burst costs its blocks and their acknowledges. A module that had
// events in the last half minute is asked at a quicker pace, so a steady
// trickle does not wait for idle cycles. While the journal refuses blocks
// the module is asked at the window's pace (2 s) only.
#include "exit_status.h"
#include "journal_rows.h"

#include "core/events/event_scan.h"
#include "core/events/module_clock.h"
#include "core/model/point_table.h"
#include "journal/journal_store.h"
#include "journal/module_zone.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace chronelcli {

class Console;
class JournalLink;
class ModuleSession;

class ModuleCollector : public QObject {
public:
    // What the collector is doing; the scan's step is the scan's own.
    enum class Phase {
        ReadingPoints,     // the point table is read (the scan waits)
        WaitingForJournal, // the journal has not yet said where the module stopped: not asked
        Collecting,        // the scan runs and the journal takes its blocks
        JournalRefusing,   // the journal refuses blocks: the scan runs at the idle pace only
    };

    // `name`: the site file's name for the module; empty to take its Module
    // Name. `intervalMs`: --interval, the pace of the point table's reads
    // (and the idle pace when `idleIntervalMs` is not given). `zone`: the
    // zone its clock runs on, as declared; empty when none is.
    ModuleCollector(ModuleSession& session, JournalLink& journal, Console& console, const QString& name,
        std::optional<int> intervalMs, const QString& zone = {}, std::optional<int> idleIntervalMs = std::nullopt);
    ~ModuleCollector() override;

    // Collects until the time limit (none when negative) or an interrupt.
    // ModuleFailed when the last request had failed or events the journal
    // did not take are left in the module.
    ExitStatus run(int timeLimitMs);

    Phase phase() const { return phase_; }
    int eventsTaken() const { return taken_; }
    int eventsAdded() const { return added_; }

private:
    // Whether the journal's state of the module is loaded and the scan set
    // up from it; tried again at the idle pace until the journal answers.
    bool loadState();
    void startScan();
    void eventBlock(const chronel::EventBlockWords& block, bool eventsAvailable);
    bool store(const QList<chronel::DecodedEvent>& events, const chronel::EventBlockWords& block);
    void journalRefused(const QString& error);
    void acknowledged();
    void completed(chronel::EventScanStep answered);
    void failed(platform::ErrorCode code);
    void checkPending(const chronel::EventBlockWords& block, bool eventsAvailable);
    void readPointTable();
    void clockRead(const chronel::StatusBlockWords& words);
    bool statusBlockDue() const;
    // The poll's interval for the phase: the idle pace, or the window's
    // slower one while the journal refuses blocks.
    void pollAtPace();

    ModuleSession& session_;
    JournalLink& journal_;
    Console& console_;
    QString siteName_;
    int idleIntervalMs_;
    int transferIntervalMs_;
    QDeadlineTimer deadline_{QDeadlineTimer::Forever}; // the end of the run
    std::unique_ptr<chronel::EventScan> scan_;
    Phase phase_ = Phase::ReadingPoints;
    bool stateLoaded_ = false;
    chronel::ModuleClock clock_;
    QDeadlineTimer statusDue_; // when the status block is read next
    std::optional<chronel::ModuleZone> zone_;
    // The clock's state at the last status read, stored with every row.
    std::optional<int> clockSource_;
    std::optional<int> clockQuality_;
    std::optional<int> clockOffsetMs_;
    std::optional<bool> clockDst_;
    // The clock reading the journal kept last: a new one is kept when the
    // source or quality changes, the offset moves by a second, or
    // ClockReadingMs have passed.
    std::optional<chronel::JournalClockReading> clockKept_;
    void keepClockReading(const QDateTime& now);
    std::optional<chronel::PointTable> points_; // the module's point table, once read
    // A reconfiguration, a power-on reset or another Module ID asks for the
    // point table again at the end of the scan's cycle.
    bool pointsDue_ = false;
    // The Module ID (word 0) the point table is taken to belong to; a block
    // of another one waits until the table is read again.
    std::optional<int> pointsForId_;
    QDateTime pointsTried_;
    // The Module ID of the last block, as the journal keeps it.
    std::optional<int> moduleId_;
    QTimer stateRetry_;
    // The journal's number of the block whose acknowledge is under way.
    qint64 unconfirmedBlock_ = 0;
    std::optional<platform::ErrorCode> lastError_; // the code of the last request, when it failed
    QDateTime storeWarned_;
    int leftInModule_ = 0;              // word 5 of the last block the journal refused
    std::optional<int> pendingAtLeast_; // the least word 5 may say at the next block read
    QDateTime vanishedWarned_;
    QDateTime lastEvents_; // when the module last handed out events
    QTimer pace_;          // the next request sooner than the poll's tick
    int taken_ = 0;
    int added_ = 0;
};

} // namespace chronelcli
