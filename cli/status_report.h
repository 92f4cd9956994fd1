#pragma once
// The module's status and statistics as labelled lines, one value per line,
// with the captions of the window's Time Setup, GPS Data, SER Data and
// statistics windows and each value as the window shows it.
#include "core/live/statistics.h"
#include "core/live/status_block.h"
#include "core/model/point_status.h"

#include <QString>
#include <QStringList>

namespace chronelcli {

// "Label:" padded to the value column, then the value.
QString LabelledLine(const QString& label, const QString& value, int indent = 0);

// The lit indicator of each frame: "GPS", "IRIG-B", "SER", "Internal"
// (with the yellow GPS indicator noted), "Good" … "Bad"; "None" when no
// indicator is lit.
QString TimeSourceText(const chronel::StatusDisplay& status);
QString TimeQualityText(const chronel::StatusDisplay& status);
// 32 digits, 1 for a lit point, in groups of eight: points 1 … 32.
QString PointStatusText(const chronel::PointStatusIndicators& points);

// SER time and date.
QStringList SerTimeLines(const chronel::StatusDisplay& status);
// The whole status block.
QStringList StatusLines(const chronel::StatusDisplay& status, const chronel::PointStatusIndicators& points);
// NTP requests, task loading, sockets, dropped packets, errors, test mode.
QStringList StatisticsLines(const chronel::StatisticsDisplay& stats);
// "Test" or "Normal" from the module's test-mode word; empty while unknown.
QString TestModeText(const chronel::StatisticsDisplay& stats);

} // namespace chronelcli
