#pragma once
// The main window's live parts bound to LiveData: the sixteen event lines and
// the buffer count of the SER Data tab (captioned by Monitor mode), the time
// source and quality indicators, SER and computer time of the Time Setup tab
// with its two buttons, the GPS Data tab, and the menu entries "Log Events",
// "Test Mode", "NTP Statistics" and "Run Time Statistics" with their windows.
//
// Dialogs and message boxes go through replaceable functions so that the
// window can be driven without a user.
#include "chronel_main.h"
#include "core/live/live_data.h"
#include "ntp_statistics_window.h"
#include "run_time_statistics_window.h"
#include "test_mode_window.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

class QLabel;

namespace chronel {

class LiveViews : public QObject {
    Q_OBJECT
public:
    // Creates the window's live data (owned here, destroyed after the three
    // windows) and binds it. `factory` creates the test-mode window's
    // control; `now` stands in for the PC clock (tests).
    LiveViews(ChronelMain& window, ControlFactory factory, std::function<QDateTime()> now = {},
        const QLocale& locale = QLocale::system());
    ~LiveViews() override;

    LiveData& live() { return *liveData_; }

    // The log file the user picks ("" when cancelled), and how a critical
    // message is shown (title, text).
    std::function<QString()> chooseLogFile;
    std::function<void(const QString&, const QString&)> showCritical;

    NtpStatisticsWindow* ntpWindow() const { return ntp_; }
    RunTimeStatisticsWindow* runTimeWindow() const { return runTime_; }
    TestModeWindow* testModeWindow() const { return testMode_; }

    // The menu entries' actions.
    void logEvents();
    void showNtpStatistics();
    void showRunTimeStatistics();
    void showTestMode();

private:
    QString defaultChooseLogFile();
    void refreshLines();
    void refreshStatus();
    void refreshPcClock();
    void refreshLogEntry();
    template <typename W, typename... Args> W* raise(QPointer<W>& window, Args&&... args);

    std::unique_ptr<LiveData> liveData_;
    ChronelMain& window_;
    LiveData& live_;
    ControlFactory factory_;
    std::array<QLabel*, EventDisplay::LineCount> lines_{};
    QPointer<NtpStatisticsWindow> ntp_;
    QPointer<RunTimeStatisticsWindow> runTime_;
    QPointer<TestModeWindow> testMode_;
};

// Tab 4's caption: "Monitor SER Data" while Tools > "Monitor Event Data" is
// checked, else "Retrieve SER Data".
QString SerDataTabCaption(const ChronelModel& model);

// Binds live data to `window`; the views are owned by the window.
LiveViews& AttachLiveData(ChronelMain& window, const ControlFactory& factory);

} // namespace chronel
