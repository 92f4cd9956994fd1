#include "flash_status.h"

#include <algorithm>

namespace chronel {

QStringList FlashStatus::lines() const
{
    QStringList result = text_.split(QLatin1String(FlashStatusLineEnd));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

void FlashStatus::replace(const QString& message)
{
    text_ = message + QLatin1String(FlashStatusLineEnd);
    emit textReplaced();
    setCaret(0);
}

void FlashStatus::append(const QString& message)
{
    text_ += message;
    text_ += QLatin1String(FlashStatusLineEnd);
    emit lineAppended(message);
    setCaret(0);
}

void FlashStatus::appendAndShowEnd(const QString& message)
{
    text_ += message;
    text_ += QLatin1String(FlashStatusLineEnd);
    emit lineAppended(message);
    setCaret(int(text_.size()));
}

void FlashStatus::setProgress(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == progress_)
        return;
    progress_ = percent;
    emit progressChanged(percent);
}

void FlashStatus::setCaret(int position)
{
    caret_ = position;
    emit caretMoved(position);
}

} // namespace chronel
