#include "progress_bar.h"

#include <algorithm>

namespace chronelcli {

QString ProgressBarText(const QString& label, qint64 value, qint64 maximum, int width)
{
    width = std::max(width, 1);
    const qint64 clamped = maximum > 0 ? std::clamp<qint64>(value, 0, maximum) : 0;
    const int percent = maximum > 0 ? int(clamped * 100 / maximum) : 0;
    const int filled = maximum > 0 ? int(clamped * width / maximum) : 0;
    return QStringLiteral("%1 [%2%3] %4%")
        .arg(label, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
        .arg(percent, 3);
}

} // namespace chronelcli
