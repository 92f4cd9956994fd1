#include "batch_output.h"

namespace chronelcli {

QString AddressedFileName(const QString& path, const QString& address)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype nameStart = slash + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot inside a directory name, or the dot of a hidden file's name, is
    // no extension.
    if (dot <= nameStart)
        return path + QLatin1Char('.') + address;
    return path.left(dot) + QLatin1Char('.') + address + path.mid(dot);
}

QString BatchFileName(const QString& path, const QString& address, int moduleCount)
{
    return moduleCount > 1 ? AddressedFileName(path, address) : path;
}

} // namespace chronelcli
