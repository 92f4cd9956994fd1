#pragma once
// The module's status block (StatusBlockRegister, word k = register 200 + k)
// shown on the Time Setup and GPS Data tabs. The event scan reads 100 words,
// modTimeSetup 24; both feed the same decoding, which only needs words 0 … 23.
#include "core/model/module_map.h"

#include <QLocale>
#include <QString>
#include <array>
#include <span>

namespace chronel {

namespace statusblock {
constexpr int TimeSourceWord = 1;
constexpr int CommandWord = 2;
constexpr int MonthWord = 4;
constexpr int DayWord = 5;
constexpr int YearWord = 6;
constexpr int HourWord = 7;
constexpr int MinuteWord = 8;
constexpr int SecondWord = 9;
constexpr int GpsFixWord = 10;
constexpr int SatellitesWord = 11;
constexpr int LatitudeFloat = 6;
constexpr int LongitudeFloat = 7;
constexpr int AltitudeFloat = 8;
constexpr int SpeedFloat = 9;
constexpr int CourseFloat = 10;
constexpr int TimeQualityWord = 22;
constexpr int DstWord = 23;
constexpr int PointStatusLowWord = 51;
constexpr int PointStatusHighWord = 52;
constexpr qint16 TimeSetCommand = qint16(-32768); // 0x8000
} // namespace statusblock

// Indicator colours: lit green, unlit the button face, and yellow for the GPS
// indicator while the module runs on internal time but reports GPS.
enum class Lamp { ButtonFace, Green, Yellow };

enum class TimeSourceLamp { Gps, Irig, Ser, Internal };
enum class TimeQualityLamp { Good, Fair, Poor, Bad };

struct StatusDisplay {
    QString serTime;   // lblTsTsSerTime, "h:mm:ss" and "  DST" while DST is in force
    QString serDate;   // lblTsTsSerDate
    QString gpsStatus; // lblGdGpsStatusData
    std::array<Lamp, 4> timeSource{Lamp::ButtonFace, Lamp::ButtonFace, Lamp::ButtonFace, Lamp::ButtonFace};
    std::array<Lamp, 4> timeQuality{Lamp::ButtonFace, Lamp::ButtonFace, Lamp::ButtonFace, Lamp::ButtonFace};
    QString satellites; // lblGdNumSatData
    QString latitude;   // lblGdLatitudeData
    QString longitude;  // lblGdLongitudeData
    QString altitude;   // lblGdAltitudeData
    QString speed;      // lblGdSpeedData
    QString course;     // lblGdCourseData

    Lamp source(TimeSourceLamp l) const { return timeSource[std::size_t(l)]; }
    Lamp quality(TimeQualityLamp l) const { return timeQuality[std::size_t(l)]; }
};

// The GPS fix text of word 10, empty for a value that has none (the shown
// text then stays as it was).
QString GpsFixText(int fix);

// "h:mm:ss" from the raw hour, minute and second words.
QString ClockText(int hour, int minute, int second);

// Updates `display` from the block's words 0 … 23; a block shorter than 24
// words changes nothing. Fields the block leaves open (an unknown GPS fix,
// time source 3, 5, 6 or 7) keep their values.
void ApplyStatusBlock(std::span<const qint16> words, StatusDisplay& display, const QLocale& locale = QLocale::system());

} // namespace chronel
