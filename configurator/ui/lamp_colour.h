#pragma once
// Paints an indicator label in the colour of a lamp: green (0, 255, 0) when
// lit, yellow (255, 255, 0) for the GPS indication on internal time, and the
// button face of the label's style when unlit.
#include "core/live/status_block.h"

class QLabel;

namespace chronel {

void PaintLamp(QLabel* label, Lamp lamp);

} // namespace chronel
