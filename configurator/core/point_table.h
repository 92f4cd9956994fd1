#pragma once
// The point table: the master copy of the settings of the module's 32 SER
// input points. The eight rows of the SER Setup tab are a window on it
// (PointPage); upload, download and the settings file exchange this table.
#include <QString>
#include <array>

namespace chronel {

constexpr int PointCount = 32;

struct PointSettings {
    bool SsPcDisabled = false;
    quint16 SsPcFilter = 20;
    quint16 SsPcDebounce = 20;
    qint16 SsPcChatter = 0;
    QString SsPcDescription;
    QString SsPcOff;
    QString SsPcOn;

    bool operator==(const PointSettings&) const = default;
};

using PointTable = std::array<PointSettings, PointCount>;

// "Point " followed by the number by the number rule: point 7 gets
// "Point  7" (a blank in place of the sign).
QString DefaultPointDescription(int pointNumber);
// Defaults of point index p (0 … 31): filter 20, debounce 20, chatter 0,
// enabled, the default description, "Off", "On".
PointSettings DefaultPoint(int index);
void FillPointDefaults(PointTable& table);

} // namespace chronel
