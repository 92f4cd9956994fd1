#pragma once
// One module's part of `collect`: the window's event scan in Retrieve mode
// with every block's events stored in the site journal before the block is
// acknowledged. A block the journal does not take stays in the module and
// is read again. The module's point table (descriptions, off and on texts)
// and Module Name are read first and again after the module reports a
// reconfiguration.
//
// Pace: an idle module is scanned at the window's rate (one request per
// poll interval); while coil 1 says the module holds events, each request
// follows the last one's reply at once, so a burst is drained back to back;
// a module that had events in the last half minute is scanned at a quicker
// pace, so a steady trickle does not wait for idle cycles.
#include "exit_status.h"
#include "journal_rows.h"

#include "core/live/live_data.h"
#include "journal/journal_store.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace chronelcli {

class Console;
class ModuleSession;

class ModuleCollector : public QObject {
public:
    // `name`: the site file's name for the module; empty to take its Module Name.
    ModuleCollector(ModuleSession& session, chronel::JournalStore& journal, Console& console, const QString& name,
        std::optional<int> intervalMs);
    ~ModuleCollector() override;

    // Collects until the time limit (none when negative) or an interrupt.
    // ModuleFailed when the last request had failed.
    ExitStatus run(int timeLimitMs);

    int eventsTaken() const { return taken_; }
    int eventsAdded() const { return added_; }

private:
    bool store(const QList<chronel::DecodedEvent>& events, const chronel::EventBlockWords& block);
    void afterCompletion();
    void checkPending(const chronel::EventBlockWords& block);
    void readPointTable();

    ModuleSession& session_;
    chronel::JournalStore& journal_;
    Console& console_;
    QString siteName_;
    int idleIntervalMs_;
    int transferIntervalMs_;
    std::unique_ptr<chronel::LiveData> live_;
    chronel::PointTable points_{};
    bool pointsKnown_ = false;
    bool refreshPoints_ = false;
    bool readingPoints_ = false;
    QDateTime pointsTried_;
    chronel::EventScan::Step stepBefore_ = chronel::EventScan::Step::EventAvailable;
    bool lastFailed_ = false;
    bool storeFailing_ = false;
    std::optional<int> pendingAtLeast_; // the least word 5 may say at the next block read
    QDateTime vanishedWarned_;
    QDateTime lastEvents_; // when the module last handed out events
    QTimer pace_;          // the next request sooner than the poll's tick
    int taken_ = 0;
    int added_ = 0;
};

} // namespace chronelcli
