#include "point_status.h"

namespace chronel {

PointStatusIndicators PaintPointStatus(quint16 word51, quint16 word52)
{
    PointStatusIndicators indicators{};
    for (int i = 0; i < 16; ++i) {
        indicators[std::size_t(i)] = (word51 >> i) & 1 ? IndicatorColour::Green : IndicatorColour::ButtonFace;
        indicators[std::size_t(16 + i)] = (word52 >> i) & 1 ? IndicatorColour::Green : IndicatorColour::ButtonFace;
    }
    return indicators;
}

} // namespace chronel
