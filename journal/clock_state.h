#pragma once
// The module's clock behind a row: its time source and time quality as the
// status block reported them when the row's block was read (word 1 bits
// 0 … 4, word 22 bits 0 … 1), and how far the module's clock was from the
// collector's UTC clock then. A sequence across modules means something only
// where every clock was synchronised, so a row whose clock was not is
// marked in every output.
#include "journal_event.h"

#include <QString>

namespace chronel {

// Word 1, bits 0 … 2.
enum class ClockSource { Internal = 0, Gps = 1, IrigB = 2, Ser = 4 };
constexpr int ClockSourceMask = 0x07;
// Word 1, bits 3 … 4: the GPS receiver's indication while the module runs
// on its internal clock.
constexpr int ClockGpsSeenMask = 0x18;
// Word 22, bits 0 … 1.
enum class ClockQuality { Good = 0, Fair = 1, Poor = 2, Bad = 3 };
constexpr int ClockQualityMask = 0x03;

// Whether the clock follows a time source (GPS, IRIG-B, another SER unit)
// rather than running on its own.
bool ClockSynchronised(int source);

// A module clock further than this from the collector's is not trusted.
constexpr int DefaultMaxClockOffsetMs = 2000;

// "GPS, good, +0.4 s", "internal clock, fair", "IRIG-B, poor, -3 s", or
// "unknown" for a row stored before the clock was read; the offset only
// where the module's zone was declared.
QString ClockStateText(const JournalEvent& row);

// What makes the row's time doubtful, comma-separated: "clock not
// synchronised", "clock quality poor", "clock quality bad", "clock off by
// 3.2 s"; empty for a synchronised clock of good or fair quality within
// `maxOffsetMs`, and for a row whose clock was never read (nothing is known
// against it).
QString ClockDoubts(const JournalEvent& row, int maxOffsetMs = DefaultMaxClockOffsetMs);

} // namespace chronel
