#pragma once
// Files that people name (site lists, PLCDRV.INI, settings files, event
// logs), in folders other users may be able to write to. Reading one never
// blocks on a FIFO or a device and never grows without bound; writing one
// never goes through a symbolic link planted at its name. POSIX calls, so
// that the failure is known by its errno (EMFILE above all).
#include <QByteArray>
#include <QString>

namespace platform {

// Site lists and INI files are a few kilobytes; a megabyte is far beyond
// any real one and small enough to hold.
constexpr qint64 SmallFileLimit = 1024 * 1024;

struct SmallFile {
    enum class Status { Read, Missing, Refused };
    Status status = Status::Refused;
    QByteArray bytes;    // Status::Read: the whole file
    int systemError = 0; // errno of a failed open or read, else 0
    QString reason;      // Missing and Refused: "No such file or directory", "not a regular file", …
};

// The file at `path` (links followed) when it is a regular file of at most
// `limit` bytes.
SmallFile ReadSmallFile(const QString& path, qint64 limit = SmallFileLimit);

// Writes `bytes` to a new file beside `path`, flushes it to disk and renames
// it over `path`: readers see the old file or the new one, a failure leaves
// the old one as it was, and a symbolic link at `path` is replaced, never
// followed. The new file keeps the mode of the regular file it replaces,
// else gets 0666 less the umask; a file we may not write is not replaced.
// False with `*error` the system's reason.
bool ReplaceFile(const QString& path, const QByteArray& bytes, QString* error);

// Opens `path` for appending, created (0666 less the umask) when missing; a
// symbolic link at `path` is refused. The descriptor (close-on-exec,
// blocking), or -1 with `*error` the reason.
int OpenForAppend(const QString& path, QString* error);

} // namespace platform
