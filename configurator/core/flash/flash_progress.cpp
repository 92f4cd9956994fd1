#include "flash_progress.h"

#include "core/fields/number_rule.h"

#include <algorithm>
#include <array>

namespace chronel {

quint16 ProgressBarPattern(int percent)
{
    // The lowest percentage of each further bit; the steps follow the
    // module's display, not a straight 100 / 16.
    static constexpr std::array<int, 16> BitFrom = {3, 9, 15, 22, 28, 34, 40, 47, 53, 59, 65, 72, 78, 84, 90, 97};
    const auto bits = std::count_if(BitFrom.begin(), BitFrom.end(), [percent](int from) { return percent >= from; });
    return quint16((1u << bits) - 1);
}

int FlashProgressPercent(quint32 offset, quint32 end)
{
    if (end == 0)
        return 0;
    const double percent = double(offset) / double(end) * 100.0;
    return int(std::clamp(RoundHalfEven(percent), 0.0, 100.0));
}

} // namespace chronel
