#include "live_data.h"

#include "core/fields/number_rule.h"

namespace chronel {

LiveData::LiveData(ChronelModel& model, std::function<QDateTime()> now, const QLocale& locale, QObject* parent)
    : QObject(parent), model_(model), locale_(locale)
{
    EventScanHooks scan;
    scan.host = [this] { return model_.GetIp(); };
    scan.monitorMode = [this] { return model_.monitorEventData(); };
    scan.statisticsWanted = [this] { return statisticsWanted(); };
    scan.eventCount = [this](qint16 pending) {
        eventCount_ = NumberText(pending);
        emit eventCountChanged();
    };
    scan.statusBlock = [this](const StatusBlockWords& words) {
        showStatusBlock(words);
        model_.paintPointStatus(
            quint16(words[statusblock::PointStatusLowWord]), quint16(words[statusblock::PointStatusHighWord]));
    };
    scan.statisticsBlock = [this](const StatisticsBlockWords& words) { showStatisticsBlock(words); };
    scan.now = now;
    eventScan_ = std::make_unique<EventScan>(model_.channels().modEventScan(), &display_, std::move(scan), locale_);

    TimeSetupHooks time;
    time.host = [this] { return model_.GetIp(); };
    time.statusBlock = [this](const TimeSetupWords& words) { showStatusBlock(words); };
    time.now = now;
    // Upload, download and flash stop the event scan while they own the
    // module, so a polling scan means the time setup may start its own polls.
    time.moduleFree = [this] { return model_.channels().modEventScan().pollInterval() > 0; };
    timeSetup_ = std::make_unique<TimeSetup>(model_.channels().modTimeSetup(), std::move(time));

    pcClock_ = std::make_unique<PcClock>(now, locale_);
}

LiveData::~LiveData() = default;

void LiveData::toggleMonitorEventData()
{
    model_.setMonitorEventData(!model_.monitorEventData());
    emit monitorModeChanged();
}

void LiveData::showStatusBlock(std::span<const qint16> words)
{
    ApplyStatusBlock(words, status_, locale_);
    emit statusChanged();
}

void LiveData::showStatisticsBlock(std::span<const qint16> words)
{
    ApplyStatisticsBlock(words, statistics_, locale_);
    emit statisticsChanged();
}

} // namespace chronel
