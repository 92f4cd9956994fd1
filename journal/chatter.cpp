#include "chatter.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>
#include <tuple>
#include <utility>

namespace chronel {

namespace {

// The lines of an input point as the module's event lines end
// (core/events/event_line.cpp): "  Input Point  4  On", "… Off", "… On Scan",
// "… Chatter On Scan".
const QRegularExpression& InputLine()
{
    static const QRegularExpression line(QStringLiteral("Input Point +\\d+  (On|Off|On Scan|Off Scan|"
                                                        "Chatter On Scan|Chatter Off Scan)\\s*$"));
    return line;
}

QString InputLineEnd(const JournalEvent& row)
{
    if (row.point < 1 || row.point > 32)
        return {};
    const auto match = InputLine().match(row.text);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString PointKey(const QString& module, int point) { return module + u'\n' + QString::number(point); }

auto Position(qint64 ms, qint64 id) { return std::make_tuple(ms, id); }

} // namespace

bool IsInputChange(const JournalEvent& row)
{
    const QString end = InputLineEnd(row);
    return end == u"On" || end == u"Off";
}

QString ModuleChatterReport(const JournalEvent& row)
{
    const QString end = InputLineEnd(row);
    return end.startsWith(u"Chatter") ? end : QString();
}

void ChatterDetector::extend(ChatterEpisode& episode, const ChatterChange& change)
{
    episode.lastMs = change.ms;
    episode.lastId = change.id;
    if (!change.counted) {
        (episode.changes == 0 ? episode.beganBefore : episode.goesOnAfter) = true;
        return;
    }
    if (episode.changes == 0)
        episode.first = change;
    episode.last = change;
    episode.goesOnAfter = false;
    ++episode.changes;
}

void ChatterDetector::close(PointState& state)
{
    if (state.open)
        closed_.append(*std::exchange(state.open, std::nullopt));
}

void ChatterDetector::add(const ChatterChange& change)
{
    PointState& state = points_[PointKey(change.module, change.point)];
    const auto span = std::size_t(std::max(limits_.changes, 0)) + 1;
    state.window.push_back({change, ++state.seen});
    if (state.window.size() > span)
        state.window.pop_front();
    // No later window reaches back to the open episode's last change.
    if (state.open && state.window.front().seq > state.openLast)
        close(state);
    if (state.window.size() < span ||
        state.window.back().change.ms - state.window.front().change.ms >= limits_.windowMs)
        return;
    if (!state.open) {
        ChatterEpisode episode;
        episode.module = change.module;
        episode.moduleName = change.moduleName;
        episode.point = change.point;
        episode.firstMs = state.window.front().change.ms;
        episode.firstId = state.window.front().change.id;
        state.open = episode;
        state.openLast = state.window.front().seq - 1;
    }
    for (const Seen& seen : state.window) {
        if (seen.seq > state.openLast)
            extend(*state.open, seen.change);
    }
    state.openLast = state.window.back().seq;
}

QList<ChatterEpisode> ChatterDetector::finish()
{
    for (PointState& state : points_)
        close(state);
    points_.clear();
    std::sort(closed_.begin(), closed_.end(), [](const ChatterEpisode& a, const ChatterEpisode& b) {
        return std::tie(a.firstMs, a.module, a.point, a.firstId) < std::tie(b.firstMs, b.module, b.point, b.firstId);
    });
    return std::exchange(closed_, {});
}

ChatterIndex::ChatterIndex(const QList<ChatterEpisode>& episodes)
{
    for (const ChatterEpisode& episode : episodes)
        spans_[PointKey(episode.module, episode.point)].append(episode);
    for (QList<ChatterEpisode>& spans : spans_) {
        std::sort(spans.begin(), spans.end(), [](const ChatterEpisode& a, const ChatterEpisode& b) {
            return Position(a.firstMs, a.firstId) < Position(b.firstMs, b.firstId);
        });
    }
}

bool ChatterIndex::holds(const QString& module, int point, qint64 ms, qint64 id) const
{
    const auto found = spans_.constFind(PointKey(module, point));
    if (found == spans_.constEnd())
        return false;
    // The last episode that starts at or before the change.
    const auto after = std::upper_bound(found->begin(), found->end(), Position(ms, id),
        [](const auto& at, const ChatterEpisode& e) { return at < Position(e.firstMs, e.firstId); });
    return after != found->begin() && Position(ms, id) <= Position(std::prev(after)->lastMs, std::prev(after)->lastId);
}

QSet<qint64> ChatteringIds(const QList<JournalEvent>& rows, ChatterLimits limits)
{
    const JournalTimeOrder order = TimeOrderOf(rows);
    QList<ChatterChange> changes;
    for (const JournalEvent& row : rows) {
        const std::optional<qint64> ms = TimeLineMs(row, order);
        if (ms && IsInputChange(row))
            changes.append({row.module, row.moduleName, row.point, *ms, row.id, true, row.moduleTime, row.utcTime});
    }
    std::sort(changes.begin(), changes.end(),
        [](const ChatterChange& a, const ChatterChange& b) { return Position(a.ms, a.id) < Position(b.ms, b.id); });
    ChatterDetector detector(limits);
    for (const ChatterChange& change : std::as_const(changes))
        detector.add(change);
    const ChatterIndex index(detector.finish());
    QSet<qint64> ids;
    for (const ChatterChange& change : std::as_const(changes))
        if (index.holds(change.module, change.point, change.ms, change.id))
            ids.insert(change.id);
    return ids;
}

QString WithChatteringMark(const QString& marks)
{
    const QString mark = QLatin1StringView(ChatteringMark);
    return marks.isEmpty() ? mark : marks + QStringLiteral(", ") + mark;
}

} // namespace chronel
