#pragma once
// Flash programming progress: the percentage shown on the Flash tab and the
// 16-bit bar pattern written to the module's progress registers, which the
// module shows on its front LEDs.
#include <QtGlobal>

namespace chronel {

// Bits filled from bit 0 as the percentage grows: 0x0000 below 3 %,
// 0x00FF at 47 … 52 %, 0xFFFF from 97 % on.
quint16 ProgressBarPattern(int percent);

// offset / end × 100, rounded to an integer (halves to even) and clamped to
// 0 … 100; 0 when `end` is 0.
int FlashProgressPercent(quint32 offset, quint32 end);

} // namespace chronel
