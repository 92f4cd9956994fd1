#include "event_log.h"

namespace chronel {

EventLog::OpenResult EventLog::open(const QString& path)
{
    close();
    if (path.isEmpty())
        return OpenResult::Cancelled;
    file_.setFileName(path);
    // Append never truncates: an engineer reopening yesterday's log keeps it.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error_ = file_.errorString();
        file_.setFileName(QString());
        return OpenResult::Failed;
    }
    return OpenResult::Opened;
}

void EventLog::close()
{
    if (file_.isOpen())
        file_.close();
}

bool EventLog::append(const QString& line)
{
    if (!file_.isOpen())
        return false;
    const QByteArray bytes = line.toLatin1() + "\r\n";
    const bool written = file_.write(bytes) == bytes.size() && file_.flush();
    if (!written) {
        error_ = file_.errorString();
        close();
    }
    return written;
}

} // namespace chronel
