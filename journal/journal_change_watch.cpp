#include "journal_change_watch.h"

#include "journal_location.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace chronel {

JournalChangeWatch::JournalChangeWatch(const JournalLocation& location)
{
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (location.dialect != JournalDialect::Sqlite) {
        whyNot_ = QStringLiteral("a PostgreSQL journal is read at intervals");
        return;
    }
    // Writes go to the file a link points at, in that file's folder.
    const QFileInfo info(location.path);
    const QString real = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QFileInfo file(real);
    file_ = file.fileName();
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        whyNot_ = QStringLiteral("cannot watch files: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    watch_ = inotify_add_watch(inotify_, QFile::encodeName(file.absolutePath()).constData(),
        IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR);
    if (watch_ < 0)
        whyNot_ = QStringLiteral("cannot watch folder %1: %2")
                      .arg(file.absolutePath(), QString::fromLocal8Bit(std::strerror(errno)));
}

JournalChangeWatch::~JournalChangeWatch()
{
    if (inotify_ >= 0)
        ::close(inotify_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

JournalChangeWatch::Woken JournalChangeWatch::wait(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::array<pollfd, 2> fds{};
        fds[0] = {wakeFd_, POLLIN, 0};
        fds[1] = {watching() ? inotify_ : -1, POLLIN, 0};
        const int n = ::poll(fds.data(), fds.size(), int(std::max<qint64>(0, left.count())));
        if (n < 0 && errno == EINTR)
            continue;
        // poll() itself failing is no reason to spin: the caller reads the
        // journal as after a time-out.
        if (n <= 0)
            return Woken::TimedOut;
        if (fds[0].revents) {
            eventfd_t count = 0;
            eventfd_read(wakeFd_, &count);
            return Woken::Asked;
        }
        if (drain() || !watching())
            return Woken::Changed;
        // A watch the kernel reports broken would end every wait at once:
        // given up, so that the caller's waits last their time again.
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            watch_ = -1;
            whyNot_ = QStringLiteral("the watch of the journal's folder failed");
            return Woken::Changed;
        }
        // Only other files of the folder changed: wait on for the time left.
    }
}

void JournalChangeWatch::wake()
{
    if (wakeFd_ >= 0)
        eventfd_write(wakeFd_, 1);
}

bool JournalChangeWatch::drain()
{
    const QByteArray name = QFile::encodeName(file_);
    bool changed = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer.data(), buffer.size());
        if (got <= 0)
            return changed;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const ssize_t next = at + ssize_t(sizeof event) + ssize_t(event.len);
            if (next > got)
                break;
            if (event.mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
                // Notices lost, or the folder is gone: whatever happened is
                // found by reading.
                changed = true;
                if (event.mask & IN_IGNORED)
                    watch_ = -1;
            } else if (event.len > 0) {
                const char* entry = buffer.data() + at + sizeof event;
                const QByteArray entryName(entry, int(strnlen(entry, event.len)));
                if (entryName == name || entryName == name + "-wal" || entryName == name + "-journal")
                    changed = true;
            }
            at = next;
        }
    }
}

} // namespace chronel
