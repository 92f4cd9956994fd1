#include "journal_file_identity.h"

#include <QFile>

#include <sys/stat.h>

namespace chronel {

std::optional<FileIdentity> FileIdentityOf(const QString& path)
{
    struct stat status { };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}

} // namespace chronel
