#include "journal_chatter.h"

#include <QTimeZone>

#include <algorithm>
#include <iterator>
#include <tuple>

namespace chronel {

namespace {

// `text`, a stored module time or UTC time, moved by `ms`; empty (no bound)
// for a text that is neither.
QString Moved(const QString& text, qint64 ms, JournalTimeOrder order)
{
    if (order == JournalTimeOrder::ModuleTime) {
        const std::optional<qint64> at = JournalTimeMs(text);
        return at ? JournalTimeText(QDateTime::fromMSecsSinceEpoch(*at + ms, QTimeZone::utc())) : QString();
    }
    const QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    return at.isValid() ? JournalReceivedText(at.addMSecs(ms)) : QString();
}

// Whether `row` is in the period of `filter` (its module and point are).
bool InPeriod(const JournalFilter& filter, const JournalEvent& row)
{
    const QString utc = row.utcTime.isValid() ? JournalReceivedText(row.utcTime) : QString();
    return (filter.from.isEmpty() || row.moduleTime >= filter.from) &&
        (filter.to.isEmpty() || row.moduleTime < filter.to) && (filter.fromUtc.isEmpty() || utc >= filter.fromUtc) &&
        (filter.toUtc.isEmpty() || (!utc.isEmpty() && utc < filter.toUtc));
}

} // namespace

bool JournalChatter::chattering(const JournalEvent& row) const
{
    if (!IsInputChange(row))
        return false;
    const std::optional<qint64> ms = TimeLineMs(row, order);
    return ms && index.holds(row.module, row.point, *ms, row.id);
}

std::optional<JournalChatter> ReadJournalChatter(const JournalStore& store, const JournalFilter& filter,
    const JournalTimeline& timeline, ChatterLimits limits, QString* error)
{
    JournalChatter chatter;
    chatter.order = timeline.order;
    if (timeline.rows == 0)
        return chatter;
    JournalFilter around;
    around.module = filter.module;
    around.point = filter.point;
    around.pointRows = true;
    // A change less than T before the first row or after the last can make
    // an episode of it.
    if (timeline.order == JournalTimeOrder::Utc) {
        around.fromUtc = Moved(timeline.firstUtc, -limits.windowMs, timeline.order);
        around.toUtc = Moved(timeline.lastUtc, limits.windowMs, timeline.order);
    } else {
        around.from = Moved(timeline.firstModuleTime, -limits.windowMs, timeline.order);
        around.to = Moved(timeline.lastModuleTime, limits.windowMs, timeline.order);
    }
    JournalTimeline order;
    order.order = timeline.order;
    ChatterDetector detector(limits);
    const bool read = ForEachJournalRow(
        store, around,
        [&](const JournalEvent& row) {
            const std::optional<qint64> ms = TimeLineMs(row, timeline.order);
            if (!ms)
                return true;
            const bool counted = InPeriod(filter, row);
            if (IsInputChange(row))
                detector.add(
                    {row.module, row.moduleName, row.point, *ms, row.id, counted, row.moduleTime, row.utcTime});
            else if (counted && !ModuleChatterReport(row).isEmpty())
                chatter.reports << row;
            return true;
        },
        error, &order);
    if (!read)
        return std::nullopt;
    const QList<ChatterEpisode> episodes = detector.finish();
    chatter.index = ChatterIndex(episodes);
    std::copy_if(episodes.begin(), episodes.end(), std::back_inserter(chatter.episodes),
        [](const ChatterEpisode& e) { return e.changes > 0; });
    return chatter;
}

QList<ChatterListEntry> ChatterList(const JournalChatter& chatter)
{
    QList<std::pair<qint64, ChatterListEntry>> timed;
    for (const ChatterEpisode& e : chatter.episodes) {
        timed.append({e.first.ms,
            {e.module, e.moduleName, e.point, QString::fromLatin1(ChatteringMark), e.first.moduleTime,
                e.last.moduleTime, e.first.utcTime, e.last.utcTime, e.changes, e.beganBefore, e.goesOnAfter}});
    }
    for (const JournalEvent& row : chatter.reports) {
        timed.append({TimeLineMs(row, chatter.order).value_or(0),
            {row.module, row.moduleName, row.point, ModuleChatterReport(row), row.moduleTime, row.moduleTime,
                row.utcTime, row.utcTime}});
    }
    std::stable_sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first, a.second.module, a.second.point) < std::tie(b.first, b.second.module, b.second.point);
    });
    QList<ChatterListEntry> list;
    for (const auto& [at, entry] : std::as_const(timed))
        list << entry;
    return list;
}

} // namespace chronel
