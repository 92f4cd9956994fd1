#include "regaccess/watch_points.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>

namespace regaccess {

namespace {

struct Range {
    double low;
    double high;
};

std::optional<Range> IntegralRange(int type)
{
    switch (type) {
    case WordPoint: return Range{-32768.0, 32767.0};
    case LongPoint: return Range{-2147483648.0, 2147483647.0};
    case BytePoint: return Range{0.0, 255.0};
    default: return std::nullopt;
    }
}

QVariant ValueOfType(int type, double value)
{
    switch (type) {
    case WordPoint: return QVariant::fromValue(static_cast<qint16>(value));
    case LongPoint: return QVariant::fromValue(static_cast<qint32>(value));
    case BytePoint: return QVariant::fromValue(static_cast<quint8>(value));
    case FloatPoint: return QVariant::fromValue(static_cast<float>(value));
    default: return QVariant(value != 0.0);
    }
}

// A limit in the point's type, the way the automation coercion does it:
// an empty limit is 0, fractions round half to even, text is read as a
// number. A limit that does not fit the type keeps its stored value for the
// comparison; one that is not a number at all compares false with anything.
struct Limit {
    std::optional<double> value;
    QVariant shown; // what the event reports as the limit
};

Limit LimitOf(const QVariant& stored, int type)
{
    if (!stored.isValid() || stored.isNull())
        return {0.0, ValueOfType(type, 0.0)};
    bool ok = false;
    const double number = stored.toDouble(&ok);
    if (!ok)
        return {std::nullopt, stored};
    if (type == FloatPoint) {
        if (std::isfinite(number) && std::fabs(number) > FLT_MAX)
            return {number, stored};
        const auto single = static_cast<float>(number);
        return {static_cast<double>(single), QVariant::fromValue(single)};
    }
    const auto range = IntegralRange(type);
    const double rounded = std::nearbyint(number); // current rounding mode: half to even
    if (!range || !(rounded >= range->low && rounded <= range->high))
        return {number, stored};
    return {rounded, ValueOfType(type, rounded)};
}

bool Less(double a, const std::optional<double>& b) { return b && a < *b; }
bool Greater(double a, const std::optional<double>& b) { return b && a > *b; }
bool NotLess(double a, const std::optional<double>& b) { return b && a >= *b; }
bool NotGreater(double a, const std::optional<double>& b) { return b && a <= *b; }

std::optional<double> PreviousNumber(const QVariant& previous)
{
    if (!previous.isValid())
        return std::nullopt;
    return previous.toDouble();
}

} // namespace

bool IsWatchPointType(int type)
{
    return type == WordPoint || type == LongPoint || type == FloatPoint || type == BitPoint || type == BytePoint;
}

WatchList::PointPtr WatchList::find(int type, int index1, int index2) const
{
    index1 = std::clamp(index1, 0, 255);
    index2 = std::clamp(index2, 0, 15);
    PointPtr found;
    for (const PointPtr& point : points_) {
        if (point->removed || point->type != type || point->index1 != index1)
            continue;
        if (type == BitPoint && point->index2 != index2)
            continue;
        found = point; // the last match counts
    }
    return found;
}

bool WatchList::add(
    int type, int index1, int index2, int eventFlags, const QVariant& lowLimit, const QVariant& highLimit, bool active)
{
    if (!IsWatchPointType(type))
        return false;
    PointPtr point = find(type, index1, index2);
    if (!point) {
        point = std::make_shared<Point>();
        points_.push_back(point);
    }
    if (lowLimit.isValid())
        point->lowLimit = lowLimit;
    if (highLimit.isValid())
        point->highLimit = highLimit;
    point->previous = QVariant();
    point->type = type;
    point->active = active;
    point->index1 = std::clamp(index1, 0, 255);
    point->index2 = std::clamp(index2, 0, 15);
    point->flags = eventFlags & 0xF;
    point->lowLatched = false;
    point->highLatched = false;
    return true;
}

bool WatchList::remove(int type, int index1, int index2)
{
    const PointPtr point = find(type, index1, index2);
    if (!point)
        return false;
    point->removed = true;
    if (evaluating_ == 0)
        dropRemoved();
    return true;
}

bool WatchList::suspend(int type, int index1, int index2)
{
    const PointPtr point = find(type, index1, index2);
    if (point)
        point->active = false;
    return point != nullptr;
}

bool WatchList::activate(int type, int index1, int index2)
{
    const PointPtr point = find(type, index1, index2);
    if (point)
        point->active = true;
    return point != nullptr;
}

void WatchList::clear()
{
    for (const PointPtr& point : points_)
        point->removed = true;
    if (evaluating_ == 0)
        points_.clear();
}

int WatchList::size() const
{
    return static_cast<int>(
        std::count_if(points_.begin(), points_.end(), [](const PointPtr& point) { return !point->removed; }));
}

void WatchList::dropRemoved()
{
    std::erase_if(points_, [](const PointPtr& point) { return point->removed; });
}

bool WatchList::evaluate(const RegisterBuffer& buffer, WatchPointEvents& events)
{
    if (points_.empty())
        return true;
    ++evaluating_;
    // Handlers may append points; they are evaluated in this pass too. The
    // local reference keeps a record alive while its own events run.
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const PointPtr point = points_[i];
        if (point->removed || !point->active)
            continue;
        if (!evaluatePoint(*point, buffer, events))
            return false;
    }
    if (--evaluating_ == 0)
        dropRemoved();
    return true;
}

bool WatchList::evaluatePoint(Point& point, const RegisterBuffer& buffer, WatchPointEvents& events)
{
    const int type = point.type;
    const int index = point.index1;

    if (type == BitPoint) {
        const bool bit = buffer.bit(point.index1, point.index2);
        const QVariant current(bit);
        // A new point has no previous value, which differs from every value.
        if (!point.previous.isValid() || point.previous.toBool() != bit) {
            const QVariant previous = point.previous;
            if (!events.discreteChange(point.index1, point.index2, current, previous))
                return false;
        }
        point.previous = current;
        return true;
    }

    double cur = 0.0;
    switch (type) {
    case WordPoint: cur = buffer.word(index); break;
    case LongPoint: cur = buffer.longValue(index); break;
    case FloatPoint: cur = buffer.floatValue(index); break;
    case BytePoint: cur = buffer.byte(index); break;
    default: return true;
    }
    const QVariant current = ValueOfType(type, cur);
    const QVariant previous = point.previous;
    const std::optional<double> prev = PreviousNumber(previous);
    // Floats differ only when they compare unequal; a NaN never does.
    const bool differs = !prev || cur < *prev || cur > *prev;

    if (differs && point.flags != 0) {
        const int flags = point.flags;
        const Limit low = LimitOf(point.lowLimit, type);
        const Limit high = LimitOf(point.highLimit, type);
        // Without a previous value there is no state to return from, so the
        // rules that look at the previous value stay quiet.
        const bool prevBelow = prev && Less(*prev, low.value);
        const bool prevAbove = prev && Greater(*prev, high.value);
        const bool withinLimits = NotLess(cur, low.value) && NotGreater(cur, high.value);

        if (flags & WatchLow) {
            if (Less(cur, low.value) && !point.lowLatched) {
                point.lowLatched = true;
                if (!events.analogLow(type, index, current, previous, low.shown))
                    return false;
            }
            if (NotLess(cur, low.value))
                point.lowLatched = false;
        }
        const int limitFlags = flags & (WatchLow | WatchHigh | WatchNormal);
        if (limitFlags == (WatchLow | WatchNormal) && NotLess(cur, low.value) && prevBelow) {
            if (!events.analogNormal(type, index, current, previous))
                return false;
        }
        if (flags & WatchHigh) {
            if (Greater(cur, high.value) && !point.highLatched) {
                point.highLatched = true;
                if (!events.analogHigh(type, index, current, previous, high.shown))
                    return false;
            }
            if (NotGreater(cur, high.value))
                point.highLatched = false;
        }
        if (limitFlags == (WatchHigh | WatchNormal) && NotGreater(cur, high.value) && prevAbove) {
            if (!events.analogNormal(type, index, current, previous))
                return false;
        }
        if (limitFlags == (WatchLow | WatchHigh | WatchNormal) && withinLimits && (prevBelow || prevAbove)) {
            if (!events.analogNormal(type, index, current, previous))
                return false;
        }
        if (flags & WatchChange) {
            if (!events.analogChange(type, index, current, previous))
                return false;
        }
    }
    point.previous = current;
    return true;
}

} // namespace regaccess
