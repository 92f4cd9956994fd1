#pragma once
// The 32 point-status indicators of the SER Data tab, painted from words 51
// and 52 of the module's status block: bit i of word 51 is point i + 1, bit i
// of word 52 point i + 17.
#include <QtGlobal>
#include <array>

namespace chronel {

enum class IndicatorColour { ButtonFace, Green };

using PointStatusIndicators = std::array<IndicatorColour, 32>;

PointStatusIndicators PaintPointStatus(quint16 word51, quint16 word52);

} // namespace chronel
