#include "event_display.h"

#include <algorithm>

namespace chronel {

EventDisplay::EventDisplay(QObject* parent) : QObject(parent) { }

void EventDisplay::addLine(const QString& text)
{
    std::move(lines_.begin() + 1, lines_.end(), lines_.begin());
    lines_.back() = text;
    emit linesChanged();
    if (log_.isOpen() && !log_.append(text)) {
        emit loggingChanged(false);
        emit logWriteFailed(LogEventsTitle(), LogEventsWriteErrorText());
    }
}

EventLog::OpenResult EventDisplay::startLogging(const QString& path)
{
    const bool wasOn = log_.isOpen();
    const EventLog::OpenResult result = log_.open(path);
    if (wasOn != log_.isOpen())
        emit loggingChanged(log_.isOpen());
    return result;
}

void EventDisplay::stopLogging()
{
    if (!log_.isOpen())
        return;
    log_.close();
    emit loggingChanged(false);
}

} // namespace chronel
