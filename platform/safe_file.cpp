#include "platform/safe_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace platform {

namespace {

QString SystemText(int error) { return qt_error_string(error); }

QString SizeText(qint64 bytes)
{
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

SmallFile Refused(int error, const QString& reason)
{
    SmallFile file;
    file.systemError = error;
    file.reason = reason;
    return file;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) { }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += qsizetype(n);
    }
    return true;
}

} // namespace

SmallFile ReadSmallFile(const QString& path, qint64 limit)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking only for the open itself: a FIFO would wait for a writer.
    Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        SmallFile file = Refused(error, SystemText(error));
        if (error == ENOENT)
            file.status = SmallFile::Status::Missing;
        return file;
    }
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0)
        return Refused(errno, SystemText(errno));
    if (!S_ISREG(info.st_mode))
        return Refused(0, QStringLiteral("not a regular file"));
    const QString tooLarge = QStringLiteral("larger than %1, too large for this file").arg(SizeText(limit));
    if (info.st_size > limit)
        return Refused(0, tooLarge);
    // The file may grow while it is read: one byte more than the limit is
    // enough to know.
    SmallFile file;
    qsizetype got = 0;
    file.bytes.resize(qsizetype(info.st_size) + 1);
    for (;;) {
        if (got == file.bytes.size()) {
            if (got > limit)
                return Refused(0, tooLarge);
            file.bytes.resize(qsizetype(std::min<qint64>(limit + 1, 2 * qint64(got) + 4096)));
        }
        const ssize_t n = ::read(fd.get(), file.bytes.data() + got, std::size_t(file.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Refused(errno, SystemText(errno));
        if (n == 0)
            break;
        got += qsizetype(n);
    }
    if (got > limit)
        return Refused(0, tooLarge);
    file.bytes.truncate(got);
    file.status = SmallFile::Status::Read;
    return file;
}

bool ReplaceFile(const QString& path, const QByteArray& bytes, QString* error)
{
    const QByteArray target = QFile::encodeName(path);
    const auto fail = [error](int code) {
        *error = SystemText(code);
        return false;
    };
    struct stat old { };
    const bool replacesRegular = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacesRegular && ::access(target.constData(), W_OK) != 0 && errno == EACCES)
        return fail(EACCES);

    // A name nobody can foresee, taken only when nothing is there (O_EXCL,
    // and O_NOFOLLOW for a dangling link).
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".tmp";
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(errno);
    }
    if (fd < 0)
        return fail(EEXIST);
    Descriptor file(fd);
    const auto discard = [&](int code) {
        ::unlink(temporary.constData());
        return fail(code);
    };
    if (replacesRegular && ::fchmod(file.get(), old.st_mode & 07777) != 0)
        return discard(errno);
    if (!WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0)
        return discard(errno);
    if (::close(file.release()) != 0)
        return discard(errno);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return discard(errno);
    return true;
}

int OpenForAppend(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking for the open: a FIFO without a reader fails at once
    // instead of hanging the program.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int code = errno;
        struct stat info { };
        if (code == ELOOP && ::lstat(name.constData(), &info) == 0 && S_ISLNK(info.st_mode))
            *error = QStringLiteral("a symbolic link, which is not followed");
        else
            *error = SystemText(code);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = SystemText(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace platform
