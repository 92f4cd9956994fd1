#include "journal_order.h"

#include <QDate>

#include <algorithm>
#include <limits>
#include <tuple>

namespace chronel {

JournalTimeOrder TimeOrderOf(const QList<JournalEvent>& rows)
{
    return !rows.isEmpty() &&
            std::all_of(rows.begin(), rows.end(), [](const JournalEvent& e) { return e.utcTime.isValid(); })
        ? JournalTimeOrder::Utc
        : JournalTimeOrder::ModuleTime;
}

std::optional<qint64> JournalTimeMs(const QString& moduleTime)
{
    // By hand rather than through QDateTime::fromString: every row read for
    // chatter passes here, and the window's chart reads every row of its page
    // each time the selection changes.
    static constexpr char Form[] = "dddd-dd-ddTdd:dd:dd.ddd";
    if (moduleTime.size() != qsizetype(sizeof Form - 1))
        return std::nullopt;
    for (qsizetype i = 0; i < moduleTime.size(); ++i) {
        const QChar c = moduleTime[i];
        if (Form[i] == 'd' ? !(c >= u'0' && c <= u'9') : c != QLatin1Char(Form[i]))
            return std::nullopt;
    }
    const auto number = [&moduleTime](int at, int digits) {
        int n = 0;
        for (int i = at; i < at + digits; ++i)
            n = n * 10 + (moduleTime[i].unicode() - u'0');
        return n;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    constexpr qint64 EpochDay = 2440588; // the Julian day of 1970-01-01
    return ((date.toJulianDay() - EpochDay) * 86400 + hour * 3600 + minute * 60 + second) * 1000 + number(20, 3);
}

std::optional<qint64> TimeLineMs(const JournalEvent& row, JournalTimeOrder order)
{
    if (order == JournalTimeOrder::ModuleTime)
        return JournalTimeMs(row.moduleTime);
    if (!row.utcTime.isValid())
        return std::nullopt;
    return row.utcTime.toMSecsSinceEpoch();
}

bool EarlierOnTimeLine(const JournalEvent& a, const JournalEvent& b, JournalTimeOrder order)
{
    if (order == JournalTimeOrder::ModuleTime)
        return std::tie(a.moduleTime, a.module, a.id) < std::tie(b.moduleTime, b.module, b.id);
    const qint64 x = a.utcTime.isValid() ? a.utcTime.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    const qint64 y = b.utcTime.isValid() ? b.utcTime.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    return std::tie(x, a.module, a.id) < std::tie(y, b.module, b.id);
}

} // namespace chronel
