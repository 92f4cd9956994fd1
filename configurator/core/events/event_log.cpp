#include "event_log.h"

#include "platform/printable_text.h"
#include "platform/safe_file.h"

#include <unistd.h>

namespace chronel {

EventLog::OpenResult EventLog::open(const QString& path)
{
    close();
    if (path.isEmpty())
        return OpenResult::Cancelled;
    // Append never truncates: an engineer reopening yesterday's log keeps it.
    // A symbolic link at the name is refused: one planted in a shared folder
    // would have the events appended to a file of the link's choosing.
    const int fd = platform::OpenForAppend(path, &error_);
    if (fd < 0)
        return OpenResult::Failed;
    file_.setFileName(path);
    if (!file_.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        error_ = file_.errorString();
        ::close(fd);
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
    // One line per event, whatever the module's texts hold.
    const QByteArray bytes = platform::PrintableText(line).toLatin1() + "\r\n";
    const bool written = file_.write(bytes) == bytes.size() && file_.flush();
    if (!written) {
        error_ = file_.errorString();
        close();
    }
    return written;
}

} // namespace chronel
