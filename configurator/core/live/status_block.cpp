#include "status_block.h"

#include "core/fields/calendar_text.h"
#include "core/fields/number_rule.h"
#include "core/fields/single_text.h"

#include <cmath>

namespace chronel {

namespace {

float FloatAt(std::span<const qint16> words, int floatIndex)
{
    return SingleFromWords(words[std::size_t(2 * floatIndex)], words[std::size_t(2 * floatIndex + 1)]);
}

// A coordinate as its absolute value and the hemisphere letter; zero counts
// as south/west.
QString CoordinateText(float value, const char* positive, const char* other)
{
    return SingleText(std::fabs(value)) + QLatin1String(value > 0 ? positive : other);
}

void LightTimeSource(StatusDisplay& d, int word1)
{
    const int source = word1 & 7;
    TimeSourceLamp lit;
    switch (source) {
    case 1: lit = TimeSourceLamp::Gps; break;
    case 2: lit = TimeSourceLamp::Irig; break;
    case 4: lit = TimeSourceLamp::Ser; break;
    case 0: lit = TimeSourceLamp::Internal; break;
    default: return;
    }
    d.timeSource.fill(Lamp::ButtonFace);
    d.timeSource[std::size_t(lit)] = Lamp::Green;
    if (source == 0 && (word1 & 0x18) != 0)
        d.timeSource[std::size_t(TimeSourceLamp::Gps)] = Lamp::Yellow;
}

} // namespace

QString GpsFixText(int fix)
{
    switch (fix) {
    case 0: return QStringLiteral("No Fix");
    case 1: return QStringLiteral("Non-differential Fix");
    case 2: return QStringLiteral("Differential Fix");
    case 6: return QStringLiteral("Estimated");
    default: return {};
    }
}

QString ClockText(int hour, int minute, int second)
{
    return QString::number(hour) + QLatin1Char(':') + ZeroPadded(minute, 2) + QLatin1Char(':') + ZeroPadded(second, 2);
}

void ApplyStatusBlock(std::span<const qint16> words, StatusDisplay& d, const QLocale& locale)
{
    using namespace statusblock;
    if (words.size() < std::size_t(StatusBlockTimeSetupWords))
        return;
    auto word = [&](int k) { return int(words[std::size_t(k)]); };

    d.serTime = ClockText(word(HourWord), word(MinuteWord), word(SecondWord));
    if (word(DstWord) & 1)
        d.serTime += QStringLiteral("  DST");
    d.serDate = FieldsDateText(word(YearWord), word(MonthWord), word(DayWord), locale);

    const QString fix = GpsFixText(word(GpsFixWord));
    if (!fix.isEmpty())
        d.gpsStatus = fix;

    LightTimeSource(d, word(TimeSourceWord));
    d.timeQuality.fill(Lamp::ButtonFace);
    d.timeQuality[std::size_t(word(TimeQualityWord) & 3)] = Lamp::Green;

    d.satellites = NumberText(word(SatellitesWord));
    d.latitude = CoordinateText(FloatAt(words, LatitudeFloat), " N", " S");
    d.longitude = CoordinateText(FloatAt(words, LongitudeFloat), " E", " W");
    d.altitude = SingleText(FloatAt(words, AltitudeFloat));
    d.speed = SingleText(FloatAt(words, SpeedFloat));
    d.course = SingleText(FloatAt(words, CourseFloat));
}

} // namespace chronel
