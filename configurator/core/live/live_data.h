#pragma once
// The module's live data on the main window: the event scan with its event
// display and log, the status block on the Time Setup and GPS Data tabs,
// modTimeSetup with "Set SER Time", the PC clock, and the statistics the
// statistics and test-mode windows show. Built on the window's model, whose
// channels, IP address, Monitor mode and point-status indicators it uses.
//
// Widgets read the displays here and call the actions; every change is
// announced by a signal. Everything runs on the window's thread.
#include "core/events/event_display.h"
#include "core/events/event_scan.h"
#include "core/model/chronel_model.h"
#include "pc_clock.h"
#include "statistics.h"
#include "status_block.h"
#include "time_setup.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <functional>
#include <memory>

namespace chronel {

class LiveData : public QObject {
    Q_OBJECT
public:
    // `now` stands in for the PC clock (tests); empty means the system clock.
    explicit LiveData(ChronelModel& model, std::function<QDateTime()> now = {},
        const QLocale& locale = QLocale::system(), QObject* parent = nullptr);
    ~LiveData() override;

    EventDisplay& display() { return display_; }
    EventScan& eventScan() { return *eventScan_; }
    TimeSetup& timeSetup() { return *timeSetup_; }
    PcClock& pcClock() { return *pcClock_; }

    const StatusDisplay& status() const { return status_; }
    const StatisticsDisplay& statistics() const { return statistics_; }
    QString eventCountText() const { return eventCount_; } // lblSerDataEventCount

    // Tools > "Monitor Event Data": toggles the check mark, which is the mode.
    void toggleMonitorEventData();

    // Whether the scan reads the statistics block: the window says so while
    // a window that shows it is open. None: never.
    void setStatisticsWanted(std::function<bool()> wanted) { statisticsWanted_ = std::move(wanted); }
    bool statisticsWanted() const { return statisticsWanted_ && statisticsWanted_(); }

    // A status block read by either reader (24 or 100 words).
    void showStatusBlock(std::span<const qint16> words);
    void showStatisticsBlock(std::span<const qint16> words);

signals:
    void statusChanged();
    void statisticsChanged();
    void eventCountChanged();
    void monitorModeChanged();

private:
    ChronelModel& model_;
    QLocale locale_;
    EventDisplay display_;
    StatusDisplay status_;
    StatisticsDisplay statistics_;
    QString eventCount_;
    std::function<bool()> statisticsWanted_;
    std::unique_ptr<EventScan> eventScan_;
    std::unique_ptr<TimeSetup> timeSetup_;
    std::unique_ptr<PcClock> pcClock_;
};

} // namespace chronel
