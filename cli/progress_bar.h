#pragma once
// The text of the progress bar drawn on stderr while a transfer or a flash
// sequence runs: "Uploading [##########..........]  50%".
#include <QString>

namespace chronelcli {

constexpr int ProgressBarWidth = 30;

// `value` of 0 … `maximum` (clamped); a maximum of 0 or less counts as 0 %.
QString ProgressBarText(const QString& label, qint64 value, qint64 maximum, int width = ProgressBarWidth);

} // namespace chronelcli
