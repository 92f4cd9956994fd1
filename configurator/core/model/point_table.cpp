#include "point_table.h"

#include "core/fields/number_rule.h"

namespace chronel {

QString DefaultPointDescription(int pointNumber) { return QStringLiteral("Point ") + NumberText(pointNumber); }

PointSettings DefaultPoint(int index)
{
    PointSettings point;
    point.SsPcDescription = DefaultPointDescription(index + 1);
    point.SsPcOff = QStringLiteral("Off");
    point.SsPcOn = QStringLiteral("On");
    return point;
}

void SetPointDisabled(PointSettings& point, bool disabled)
{
    if (point.SsPcDisabled == disabled)
        return;
    point.SsPcDisabled = disabled;
    point.SsPcDisabledWord = disabled ? PointDisabledWord : qint16(0);
}

qint16 DisabledWord(const PointSettings& point)
{
    if ((point.SsPcDisabledWord == PointDisabledWord) == point.SsPcDisabled)
        return point.SsPcDisabledWord;
    return point.SsPcDisabled ? PointDisabledWord : qint16(0);
}

void SetDisabledFromWord(PointSettings& point, qint16 word)
{
    point.SsPcDisabled = word == PointDisabledWord;
    point.SsPcDisabledWord = word;
}

bool PointSettings::operator==(const PointSettings& o) const
{
    return DisabledWord(*this) == DisabledWord(o) && SsPcFilter == o.SsPcFilter && SsPcDebounce == o.SsPcDebounce &&
        SsPcChatter == o.SsPcChatter && SsPcDescription == o.SsPcDescription && SsPcOff == o.SsPcOff &&
        SsPcOn == o.SsPcOn;
}

void FillPointDefaults(PointTable& table)
{
    for (int p = 0; p < PointCount; ++p)
        table[std::size_t(p)] = DefaultPoint(p);
}

} // namespace chronel
