#include "event_line.h"

#include "core/fields/calendar_text.h"
#include "core/fields/number_rule.h"

namespace chronel {

namespace {

QString PointText(const char* what, int point) { return QString::fromLatin1(what) + NumberText(point); }

QString OnOff(int state) { return state != 0 ? QStringLiteral("  On") : QStringLiteral("  Off"); }

} // namespace

std::optional<QString> EventLineBody(int kind, int point, int state)
{
    switch (kind) {
    case 1: return PointText("  Input Point ", point) + OnOff(state);
    case 2: return PointText("  Input Point ", point) + QStringLiteral("  On Scan");
    case 3: return PointText("  Input Point ", point) + QStringLiteral("  Off Scan");
    case 4: return PointText("  Input Point ", point) + QStringLiteral("  Chatter On Scan");
    case 5: return PointText("  Input Point ", point) + QStringLiteral("  Chatter Off Scan");
    case 6: return QStringLiteral("  Power on Reset");
    case 7: return QStringLiteral("  SER Time Sync Lock");
    case 8: return QStringLiteral("  SER Time Sync Fail");
    case 9: return QStringLiteral("  Buffer Overflow");
    case 10: return QStringLiteral("  Buffer Error");
    case 11: return QStringLiteral("  Time Resync Old Time");
    case 12: return QStringLiteral("  Time Resync New Time");
    case 13: return QStringLiteral("  Hourly Time Update");
    case 15: return QStringLiteral("  Reconfigure");
    case 16: return PointText("  Output Point ", point) + OnOff(state);
    case 18: return QStringLiteral("  Restart");
    case 19: return QStringLiteral("  Power Fail");
    case 20: return QStringLiteral("  GPS Time Sync Lock");
    case 21: return QStringLiteral("  GPS Time Sync Fail");
    case 22: return QStringLiteral("  IRIG-B Time Sync Lock");
    case 23: return QStringLiteral("  IRIG-B Time Sync Fail");
    case 24: return QStringLiteral("  Test Mode On");
    case 25: return QStringLiteral("  Test Mode Off");
    default: return std::nullopt;
    }
}

QString DstText(int dstFlag, const QString& previous)
{
    if (dstFlag == 1)
        return QStringLiteral("  D ");
    if (dstFlag == 0)
        return QStringLiteral("  S ");
    return previous;
}

QString TimeSourceText(int timeSource)
{
    switch (timeSource) {
    case 0: return QStringLiteral(" G ");
    case 1: return QStringLiteral(" F ");
    case 2: return QStringLiteral(" P ");
    default: return QStringLiteral(" B ");
    }
}

QString EventLineText(const EventRecord& r, const QString& dstText, const QString& body, const QLocale& locale)
{
    return FieldsDateText(r.year, r.month, r.day, locale) + QStringLiteral("  ") + ZeroPadded(r.hour, 2) +
        QLatin1Char(':') + ZeroPadded(r.minute, 2) + QLatin1Char(':') + ZeroPadded(r.second, 2) + QLatin1Char('.') +
        ZeroPadded(r.millisecond, 3) + dstText + TimeSourceText(r.timeSource) + body;
}

} // namespace chronel
