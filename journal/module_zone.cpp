#include "module_zone.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace chronel {

namespace {

// Offsets in use on Earth run from -12:00 to +14:00.
constexpr int MaxOffsetHours = 14;

QString OffsetText(int seconds)
{
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

std::optional<ModuleZone> ModuleZone::parse(const QString& text, QString* error)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("UTC"), Qt::CaseInsensitive) == 0 || t == QLatin1String("Z"))
        return ModuleZone(QTimeZone::utc(), QStringLiteral("UTC"));
    static const QRegularExpression offset(QStringLiteral("^([+-])([0-9]{2})(?::?([0-9]{2}))?$"));
    if (const QRegularExpressionMatch m = offset.match(t); m.hasMatch()) {
        const int hours = m.captured(2).toInt();
        const int minutes = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
        if (hours > MaxOffsetHours || minutes >= 60 || (hours == MaxOffsetHours && minutes > 0)) {
            *error = QStringLiteral("%1: an offset from UTC lies between -12:00 and +14:00").arg(t);
            return std::nullopt;
        }
        const int seconds = (m.captured(1) == QLatin1String("-") ? -1 : 1) * (hours * 3600 + minutes * 60);
        return ModuleZone(QTimeZone(seconds), OffsetText(seconds));
    }
    // Only what can be a name of the time-zone database reaches it.
    static const QRegularExpression name(QStringLiteral("^[A-Za-z][A-Za-z0-9_+-]*(/[A-Za-z0-9_+-]+){0,2}$"));
    if (name.match(t).hasMatch() && QTimeZone::isTimeZoneIdAvailable(t.toLatin1()))
        return ModuleZone(QTimeZone(t.toLatin1()), t);
    *error = QStringLiteral("%1: not a time zone (a name such as Europe/Berlin, UTC, or an offset such as +05:30)")
                 .arg(t.isEmpty() ? QStringLiteral("(empty)") : t);
    return std::nullopt;
}

ZonedTime ModuleZone::toUtc(const QDateTime& moduleTime, std::optional<bool> dst) const
{
    if (!moduleTime.isValid())
        return {{}, ZoneFit::Skipped};
    // The wall-clock reading taken as if it were UTC; the zone's offset at
    // the instant it names is then what it has to be shifted by. Offsets a
    // day either side cover both sides of any change of the zone's rules.
    const QDateTime wall(moduleTime.date(), moduleTime.time(), QTimeZone::utc());
    std::vector<QDateTime> fits;
    for (const QDateTime& near : {wall.addDays(-1), wall, wall.addDays(1)}) {
        const int offset = zone_.offsetFromUtc(near);
        const QDateTime utc = wall.addSecs(-offset);
        if (zone_.offsetFromUtc(utc) == offset && std::find(fits.begin(), fits.end(), utc) == fits.end())
            fits.push_back(utc);
    }
    if (fits.empty())
        return {{}, ZoneFit::Skipped};
    if (fits.size() == 1)
        return {fits.front(), ZoneFit::Exact};
    if (dst) {
        for (const QDateTime& utc : fits)
            if (zone_.isDaylightTime(utc) == *dst)
                return {utc, ZoneFit::ByDstFlag};
    }
    return {{}, ZoneFit::Repeated};
}

QDateTime ModuleZone::wallTime(const QDateTime& utc) const
{
    const QDateTime local = utc.toTimeZone(zone_);
    return QDateTime(local.date(), local.time(), QTimeZone::utc());
}

QString ZoneFitText(ZoneFit fit)
{
    switch (fit) {
    case ZoneFit::Repeated: return QStringLiteral("repeated hour");
    case ZoneFit::Skipped: return QStringLiteral("skipped hour");
    case ZoneFit::Exact:
    case ZoneFit::ByDstFlag: break;
    }
    return {};
}

} // namespace chronel
