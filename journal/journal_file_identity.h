#pragma once
// Which file a path names now, as the kernel tells files apart (device and
// inode): a file removed and created again under the same name is another
// file. A reader that holds a file open keeps its inode alive, so a new file
// can never take that identity while the reader still reads the old one.
//
// POSIX stat(), in a file of its own: Qt reports no inode numbers.
#include <QString>
#include <QtGlobal>
#include <optional>

namespace chronel {

struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Nothing when `path` names no file (or one that cannot be looked at).
std::optional<FileIdentity> FileIdentityOf(const QString& path);

} // namespace chronel
