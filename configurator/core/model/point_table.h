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
    // The disabled word as the module gave it. Only 65535 disables a point,
    // so a module may hold other values (1, 5, …) that read as enabled; one
    // goes back unchanged until SsPcDisabled is changed (SetPointDisabled).
    qint16 SsPcDisabledWord = 0;

    // Equal when the screen shows the same and a download sends the same.
    bool operator==(const PointSettings& other) const;
};

using PointTable = std::array<PointSettings, PointCount>;

constexpr qint16 PointDisabledWord = -1; // 65535 on the wire

// Sets SsPcDisabled; a change replaces the word read from the module by 0 or
// 65535.
void SetPointDisabled(PointSettings& point, bool disabled);
// The disabled word a download sends: the word read from the module while it
// still means what SsPcDisabled says, otherwise 0 or 65535.
qint16 DisabledWord(const PointSettings& point);
// Both columns from an uploaded word.
void SetDisabledFromWord(PointSettings& point, qint16 word);

// "Point " followed by the number by the number rule: point 7 gets
// "Point  7" (a blank in place of the sign).
QString DefaultPointDescription(int pointNumber);
// Defaults of point index p (0 … 31): filter 20, debounce 20, chatter 0,
// enabled, the default description, "Off", "On".
PointSettings DefaultPoint(int index);
void FillPointDefaults(PointTable& table);

} // namespace chronel
