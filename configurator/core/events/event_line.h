#pragma once
// One line of the SER event display and log for one event record:
//   <short date>"  "hh:mm:ss.mmm<DST text><time-source text><body>
// e.g. "2024-03-01  13:05:07.042  S  G   Input Point  5  On Scan".
#include "event_record.h"

#include <QLocale>
#include <QString>
#include <optional>

namespace chronel {

// The text of an event kind, or nothing for the kinds that give no line
// (0, 14, 17, and 26 or more).
std::optional<QString> EventLineBody(int kind, int point, int state);

// "  D " for flag 1, "  S " for flag 0; any other flag repeats `previous`,
// the DST text of the block's previous record (empty for the first).
QString DstText(int dstFlag, const QString& previous);

// " G " GPS (0), " F " (1), " P " (2), " B " for 3 and anything else.
QString TimeSourceText(int timeSource);

// The whole line of `record` with its DST text and body.
QString EventLineText(
    const EventRecord& record, const QString& dstText, const QString& body, const QLocale& locale = QLocale::system());

} // namespace chronel
