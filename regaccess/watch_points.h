#pragma once
// Watch points: single values of the register buffer that a host names, and
// whose changes and limit crossings are reported after every completed read.
//
// A point is identified by its type and first index, and for bit points also
// by its bit index. Evaluation fires events synchronously, and the handlers
// may add, update, suspend, activate or delete points, this point included:
// records stay alive for the whole evaluation, and a deletion takes effect
// after the step that is running (the deleted point is no longer found and
// no longer evaluated).
#include "regaccess/register_buffer.h"

#include <QVariant>

#include <memory>
#include <vector>

namespace regaccess {

// The PtType numbers (the automation variant type of the value).
enum WatchPointType : int {
    WordPoint = 2,
    LongPoint = 3,
    FloatPoint = 4,
    BitPoint = 11,
    BytePoint = 17,
};

enum WatchFlag : int {
    WatchLow = 0x1,
    WatchHigh = 0x2,
    WatchNormal = 0x4,
    WatchChange = 0x8,
};

bool IsWatchPointType(int type);

// Receives the events of an evaluation. Each call returns false when the
// receiver no longer exists (a handler destroyed it); the evaluation then
// stops at once without touching the list again.
class WatchPointEvents {
public:
    virtual ~WatchPointEvents() = default;
    virtual bool discreteChange(int wordIndex, int bitIndex, const QVariant& current, const QVariant& previous) = 0;
    virtual bool analogLow(
        int type, int index, const QVariant& current, const QVariant& previous, const QVariant& lowerLimit) = 0;
    virtual bool analogHigh(
        int type, int index, const QVariant& current, const QVariant& previous, const QVariant& upperLimit) = 0;
    virtual bool analogNormal(int type, int index, const QVariant& current, const QVariant& previous) = 0;
    virtual bool analogChange(int type, int index, const QVariant& current, const QVariant& previous) = 0;
};

class WatchList {
public:
    // Creates or updates the point (type, index1[, index2]). An invalid
    // QVariant limit means "not given" and keeps the limit the point had.
    // False for an unsupported type.
    bool add(int type, int index1, int index2, int eventFlags, const QVariant& lowLimit, const QVariant& highLimit,
        bool active);
    bool remove(int type, int index1, int index2);
    bool suspend(int type, int index1, int index2);
    bool activate(int type, int index1, int index2);
    void clear();
    int size() const;

    // Evaluates every active point, in list order, against `buffer`.
    // Returns false when `events` reported that its receiver is gone.
    bool evaluate(const RegisterBuffer& buffer, WatchPointEvents& events);

private:
    struct Point {
        int type = 0;
        bool active = false;
        int flags = 0;
        int index1 = 0;
        int index2 = 0;
        QVariant previous;
        QVariant lowLimit;
        QVariant highLimit;
        bool lowLatched = false;
        bool highLatched = false;
        bool removed = false;
    };
    using PointPtr = std::shared_ptr<Point>;

    PointPtr find(int type, int index1, int index2) const;
    static bool evaluatePoint(Point& point, const RegisterBuffer& buffer, WatchPointEvents& events);
    void dropRemoved();

    std::vector<PointPtr> points_;
    int evaluating_ = 0; // nesting depth: a handler may trigger a nested read
};

} // namespace regaccess
