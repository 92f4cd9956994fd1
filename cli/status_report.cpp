#include "status_report.h"

namespace chronelcli {

namespace {

constexpr int ValueColumn = 24;

using chronel::Lamp;

QString LitCaption(const std::array<Lamp, 4>& lamps, const std::array<const char*, 4>& captions)
{
    for (std::size_t i = 0; i < lamps.size(); ++i)
        if (lamps[i] == Lamp::Green)
            return QString::fromLatin1(captions[i]);
    return QStringLiteral("None");
}

} // namespace

QString LabelledLine(const QString& label, const QString& value, int indent)
{
    const QString head = QString(indent, QLatin1Char(' ')) + label + QLatin1Char(':');
    return head.leftJustified(ValueColumn) + value;
}

QString TimeSourceText(const chronel::StatusDisplay& status)
{
    using chronel::TimeSourceLamp;
    QString text = LitCaption(status.timeSource, {"GPS", "IRIG-B", "SER", "Internal"});
    if (status.source(TimeSourceLamp::Gps) == Lamp::Yellow)
        text += QStringLiteral(" (GPS indicator yellow)");
    return text;
}

QString TimeQualityText(const chronel::StatusDisplay& status)
{
    return LitCaption(status.timeQuality, {"Good", "Fair", "Poor", "Bad"});
}

QString PointStatusText(const chronel::PointStatusIndicators& points)
{
    QString text;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i > 0 && i % 8 == 0)
            text += QLatin1Char(' ');
        text += points[i] == chronel::IndicatorColour::Green ? QLatin1Char('1') : QLatin1Char('0');
    }
    return text;
}

QStringList SerTimeLines(const chronel::StatusDisplay& status)
{
    return {LabelledLine(QStringLiteral("SER Time"), status.serTime),
        LabelledLine(QStringLiteral("SER Date"), status.serDate)};
}

QStringList StatusLines(const chronel::StatusDisplay& status, const chronel::PointStatusIndicators& points)
{
    QStringList lines = SerTimeLines(status);
    lines << LabelledLine(QStringLiteral("Time Source"), TimeSourceText(status))
          << LabelledLine(QStringLiteral("Time Quality"), TimeQualityText(status))
          << LabelledLine(QStringLiteral("GPS Status"), status.gpsStatus)
          << LabelledLine(QStringLiteral("Number of Satelites"), status.satellites)
          << LabelledLine(QStringLiteral("Latitude (ddmm.mmm)"), status.latitude)
          << LabelledLine(QStringLiteral("Longitude (dddmm.mmm)"), status.longitude)
          << LabelledLine(QStringLiteral("Altitude (meters)"), status.altitude)
          << LabelledLine(QStringLiteral("Speed (knots)"), status.speed)
          << LabelledLine(QStringLiteral("Course (degrees)"), status.course)
          << LabelledLine(QStringLiteral("Point Status (1-32)"), PointStatusText(points));
    return lines;
}

QString TestModeText(const chronel::StatisticsDisplay& stats)
{
    if (!stats.testModeOn)
        return {};
    return *stats.testModeOn ? QStringLiteral("Test") : QStringLiteral("Normal");
}

QStringList StatisticsLines(const chronel::StatisticsDisplay& stats)
{
    QStringList lines;
    lines << QStringLiteral("NTP Requests");
    for (int k = 0; k < chronel::statsblock::NtpHourWords; ++k)
        lines << LabelledLine(chronel::NtpHourCaption(k), stats.ntpCounts[std::size_t(k)], 2);
    lines << QStringLiteral("Task Loading");
    for (int k = 0; k < chronel::statsblock::TaskCount; ++k)
        lines << LabelledLine(chronel::TaskNames()[std::size_t(k)], stats.taskShares[std::size_t(k)], 2);
    lines << LabelledLine(QStringLiteral("Open Sockets"), stats.openSockets)
          << LabelledLine(QStringLiteral("Dropped Packets"), stats.droppedPackets);
    lines << QStringLiteral("Errors");
    for (const QString& entry : stats.errorLines)
        if (!entry.isEmpty())
            lines << QStringLiteral("  ") + entry;
    lines << LabelledLine(QStringLiteral("Test Mode"), TestModeText(stats));
    return lines;
}

} // namespace chronelcli
