#include "transport_setup.h"

#include "platform/safe_file.h"

#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace chronelcli {

QByteArray TransportSetup::TcpIniText()
{
    return QByteArrayLiteral("[GENERAL]\r\n"
                             "DialogShow=0\r\n"
                             "\r\n"
                             "[Adapter.Object.1]\r\n"
                             "Enabled=0\r\n"
                             "Type=2\r\n");
}

bool TransportSetup::apply(bool tcp, const QString& iniPath, QString* error)
{
    QString path;
    if (tcp) {
        tempDir_ = std::make_unique<QTemporaryDir>();
        if (!tempDir_->isValid()) {
            *error = QStringLiteral("cannot create a temporary PLCDRV.INI: %1").arg(tempDir_->errorString());
            return false;
        }
        path = tempDir_->filePath(QStringLiteral("PLCDRV.INI"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(TcpIniText()) != TcpIniText().size() || !file.flush()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
    } else if (!iniPath.isEmpty()) {
        const QFileInfo info(iniPath);
        if (!info.isFile() || !info.isReadable()) {
            *error = QStringLiteral("--ini %1: no readable file").arg(iniPath);
            return false;
        }
        // Said here, once: the adapters would read such a file as empty.
        if (const platform::SmallFile ini = platform::ReadSmallFile(iniPath);
            ini.status != platform::SmallFile::Status::Read) {
            *error = QStringLiteral("--ini %1: %2").arg(iniPath, ini.reason);
            return false;
        }
        path = info.absoluteFilePath();
    } else {
        return true;
    }
    ::setenv("PLCDRV_INI", QFile::encodeName(path).constData(), 1);
    iniPath_ = path;
    return true;
}

} // namespace chronelcli
