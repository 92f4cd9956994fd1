#include "point_table.h"

#include "number_rule.h"

namespace chronel {

QString DefaultPointDescription(int pointNumber)
{
    return QStringLiteral("Point ") + NumberText(pointNumber);
}

PointSettings DefaultPoint(int index)
{
    PointSettings point;
    point.SsPcDescription = DefaultPointDescription(index + 1);
    point.SsPcOff = QStringLiteral("Off");
    point.SsPcOn = QStringLiteral("On");
    return point;
}

void FillPointDefaults(PointTable& table)
{
    for (int p = 0; p < PointCount; ++p)
        table[std::size_t(p)] = DefaultPoint(p);
}

} // namespace chronel
