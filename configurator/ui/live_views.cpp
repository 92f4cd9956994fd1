#include "live_views.h"

#include "lamp_colour.h"
#include "ntp_statistics_window.h"
#include "run_time_statistics_window.h"
#include "test_mode_window.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>

namespace chronel {

namespace {

constexpr int SerDataTab = 4;

QLabel* Label(QWidget& window, const char* name) { return window.findChild<QLabel*>(QString::fromLatin1(name)); }

void SetText(QLabel* label, const QString& text)
{
    if (label)
        label->setText(text);
}

} // namespace

QString SerDataTabCaption(const ChronelModel& model)
{
    return model.monitorEventData() ? QStringLiteral("Monitor SER Data") : QStringLiteral("Retrieve SER Data");
}

LiveViews::LiveViews(ChronelMain& window, ControlFactory factory, std::function<QDateTime()> now, const QLocale& locale)
    : QObject(&window),
      liveData_(std::make_unique<LiveData>(window.model(), std::move(now), locale)),
      window_(window),
      live_(*liveData_),
      factory_(std::move(factory))
{
    chooseLogFile = [this] { return defaultChooseLogFile(); };
    // The run-time statistics and test-mode windows want the statistics block
    // (intRunTime, intTestMode); so does the NTP statistics window, whose
    // counts would otherwise never refresh. Each deletes itself when closed.
    live_.setStatisticsWanted([this] {
        return (ntp_ && ntp_->isVisible()) || (runTime_ && runTime_->isVisible()) ||
            (testMode_ && testMode_->isVisible());
    });
    showCritical = [this](const QString& title, const QString& text) { QMessageBox::critical(&window_, title, text); };

    for (QLabel* line : window_.findChildren<QLabel*>(QStringLiteral("lblEventData"))) {
        const int index = line->property("index").toInt();
        if (index >= 0 && index < EventDisplay::LineCount)
            lines_[std::size_t(index)] = line;
    }
    connect(&live_.display(), &EventDisplay::linesChanged, this, &LiveViews::refreshLines);
    connect(&live_, &LiveData::eventCountChanged, this,
        [this] { SetText(Label(window_, "lblSerDataEventCount"), live_.eventCountText()); });
    connect(&live_, &LiveData::statusChanged, this, &LiveViews::refreshStatus);
    connect(&live_.pcClock(), &PcClock::changed, this, &LiveViews::refreshPcClock);

    // The window captions tab 4 from the model when Monitor mode changes;
    // this connection comes later and so has the last word.
    const auto caption = [this] { window_.tabs()->setTabText(SerDataTab, SerDataTabCaption(window_.model())); };
    connect(&window_.model(), &ChronelModel::windowItemsChanged, this, caption);

    if (auto* setSer = window_.findChild<QPushButton*>(QStringLiteral("cmdTsTsSetSerTime"))) {
        setSer->setToolTip(QStringLiteral("Sets the module's clock to this computer's clock."));
        connect(setSer, &QPushButton::clicked, this, [this] { live_.timeSetup().setSerTime(); });
    }
    if (auto* setPc = window_.findChild<QPushButton*>(QStringLiteral("cmdTsTsSetPcTime")))
        setPc->setToolTip(QStringLiteral("No action: this computer's clock is not set from the module."));

    if (QAction* log = window_.menuAction(QStringLiteral("mnuToolsLogEvents")))
        log->setCheckable(true);
    connect(&live_.display(), &EventDisplay::loggingChanged, this, &LiveViews::refreshLogEntry);
    connect(&live_.display(), &EventDisplay::logWriteFailed, this, [this](const QString& title, const QString& text) {
        if (showCritical)
            showCritical(title, text);
    });

    window_.setMenuHandler(QStringLiteral("mnuToolsLogEvents"), [this] { logEvents(); });
    window_.setMenuHandler(QStringLiteral("mnuToolsTestMode"), [this] { showTestMode(); });
    window_.setMenuHandler(QStringLiteral("mnuTcpipNtp"), [this] { showNtpStatistics(); });
    window_.setMenuHandler(QStringLiteral("mnuRunTime"), [this] { showRunTimeStatistics(); });

    refreshLines();
    refreshStatus();
    live_.pcClock().tick();
}

LiveViews::~LiveViews()
{
    // The windows use the live data; they go first.
    delete ntp_.data();
    delete runTime_.data();
    delete testMode_.data();
}

QString LiveViews::defaultChooseLogFile()
{
    QFileDialog dialog(&window_, QStringLiteral("Log Events"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({LogEventsAllFilesFilter(), LogEventsTextFilesFilter()});
    dialog.selectNameFilter(LogEventsTextFilesFilter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void LiveViews::logEvents()
{
    if (live_.display().logging()) {
        live_.display().stopLogging();
        refreshLogEntry();
        return;
    }
    live_.display().stopLogging();
    const QString path = chooseLogFile ? chooseLogFile() : QString();
    if (live_.display().startLogging(path) == EventLog::OpenResult::Failed && showCritical)
        showCritical(LogEventsTitle(), LogEventsOpenErrorText());
    refreshLogEntry();
}

void LiveViews::refreshLogEntry()
{
    if (QAction* log = window_.menuAction(QStringLiteral("mnuToolsLogEvents")))
        log->setChecked(live_.display().logging());
}

template <typename W, typename... Args> W* LiveViews::raise(QPointer<W>& window, Args&&... args)
{
    if (!window) {
        window = new W(std::forward<Args>(args)...);
        // Over the main window, not where the platform puts a new window
        // (the screen's top-left corner).
        window->adjustSize();
        window->move(window_.frameGeometry().center() - window->rect().center());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void LiveViews::showNtpStatistics() { raise(ntp_, live_, &window_); }

void LiveViews::showRunTimeStatistics() { raise(runTime_, live_, &window_); }

void LiveViews::showTestMode()
{
    raise(testMode_, live_, factory_, std::function<QString()>([this] { return window_.model().GetIp(); }), &window_);
}

void LiveViews::refreshLines()
{
    const EventDisplay::Lines& lines = live_.display().lines();
    for (int i = 0; i < EventDisplay::LineCount; ++i)
        SetText(lines_[std::size_t(i)], lines[std::size_t(i)]);
}

void LiveViews::refreshStatus()
{
    const StatusDisplay& s = live_.status();
    SetText(Label(window_, "lblTsTsSerTime"), s.serTime);
    SetText(Label(window_, "lblTsTsSerDate"), s.serDate);
    SetText(Label(window_, "lblGdGpsStatusData"), s.gpsStatus);
    SetText(Label(window_, "lblGdNumSatData"), s.satellites);
    SetText(Label(window_, "lblGdLatitudeData"), s.latitude);
    SetText(Label(window_, "lblGdLongitudeData"), s.longitude);
    SetText(Label(window_, "lblGdAltitudeData"), s.altitude);
    SetText(Label(window_, "lblGdSpeedData"), s.speed);
    SetText(Label(window_, "lblGdCourseData"), s.course);
    PaintLamp(Label(window_, "lblTsTsGpsIndication"), s.source(TimeSourceLamp::Gps));
    PaintLamp(Label(window_, "lblTsTsIrigIndication"), s.source(TimeSourceLamp::Irig));
    PaintLamp(Label(window_, "lblTsTsSerIndication"), s.source(TimeSourceLamp::Ser));
    PaintLamp(Label(window_, "lblTsTsInternalIndication"), s.source(TimeSourceLamp::Internal));
    PaintLamp(Label(window_, "lblTsTqGoodIndication"), s.quality(TimeQualityLamp::Good));
    PaintLamp(Label(window_, "lblTsTqFairIndication"), s.quality(TimeQualityLamp::Fair));
    PaintLamp(Label(window_, "lblTsTqPoorIndication"), s.quality(TimeQualityLamp::Poor));
    PaintLamp(Label(window_, "lblTsTqBadIndication"), s.quality(TimeQualityLamp::Bad));
}

void LiveViews::refreshPcClock()
{
    SetText(Label(window_, "lblTsTsPcTime"), live_.pcClock().timeText());
    SetText(Label(window_, "lblTsTsPcData"), live_.pcClock().dateText());
}

LiveViews& AttachLiveData(ChronelMain& window, const ControlFactory& factory)
{
    return *new LiveViews(window, factory);
}

} // namespace chronel
