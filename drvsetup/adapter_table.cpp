#include "drvsetup/adapter_table.h"

#include "platform/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace drvsetup {
namespace {

using platform::PrivateProfile;

// A whole, optionally signed decimal number within int; anything else (text,
// "3 ports", an overflowing number) reads as the key's default.
int readNumber(const QString& file, const QString& section, const QString& key, int defaultValue)
{
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = PrivateProfile::getString(file, section, key).trimmed();
    if (!whole.match(text).hasMatch())
        return defaultValue;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : defaultValue;
}

// Copies `base` (when given) to the scratch file that becomes the new
// PLCDRV.INI, so that every line DRVSETUP does not own is carried over.
bool seedScratch(QFile& scratch, const QString& base)
{
    if (base.isEmpty())
        return true;
    QFile in(base);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    return scratch.write(content) == content.size() && scratch.flush();
}

} // namespace

QString AdapterTable::sectionName(int index)
{
    return QStringLiteral("Adapter.Object.%1").arg(index + 1);
}

void AdapterTable::readAll(const QString& iniPath)
{
    const AdapterRecord defaults;
    for (int i = 0; i < kAdapterCount; ++i) {
        const QString section = sectionName(i);
        AdapterRecord& r = record(i);
        r.enabled = readNumber(iniPath, section, QStringLiteral("Enabled"), defaults.enabled);
        r.deviceType = readNumber(iniPath, section, QStringLiteral("Type"), defaults.deviceType);
        r.comIndex = readNumber(iniPath, section, QStringLiteral("COM:"), defaults.comIndex);
        r.protocol = readNumber(iniPath, section, QStringLiteral("LinkProtocol"), defaults.protocol);
        r.cardName = PrivateProfile::getString(iniPath, section, QStringLiteral("MBXDeviceName"), defaults.cardName);
        r.cardNumber = readNumber(iniPath, section, QStringLiteral("MBXDeviceNumber"), defaults.cardNumber);
        r.linkSpeed = readNumber(iniPath, section, QStringLiteral("LinkSpeed"), defaults.linkSpeed);
        r.parity = readNumber(iniPath, section, QStringLiteral("LinkParity"), defaults.parity);
        r.dataBits = readNumber(iniPath, section, QStringLiteral("LinkDataBits"), defaults.dataBits);
        r.stopBits = readNumber(iniPath, section, QStringLiteral("LinkStopBits"), defaults.stopBits);
        r.slaveId = readNumber(iniPath, section, QStringLiteral("NodeID"), defaults.slaveId);
    }
}

bool AdapterTable::writeAll(const QString& sourcePath, const QString& targetPath) const
{
    QFileInfo target(targetPath);
    // A linked PLCDRV.INI is saved where the link points; the link stays.
    if (target.isSymLink())
        target = QFileInfo(target.symLinkTarget());
    const QString targetFile = target.absoluteFilePath();
    if (!QDir().mkpath(target.absolutePath()))
        return false;
    QString base;
    if (target.exists())
        base = targetFile;
    else if (!sourcePath.isEmpty() && QFileInfo(sourcePath).isFile())
        base = sourcePath;

    // Beside the target, so that the final rename stays within one file system.
    QTemporaryFile scratch(targetFile + QStringLiteral(".XXXXXX"));
    if (!scratch.open() || !seedScratch(scratch, base))
        return false;
    const QString scratchPath = scratch.fileName();
    scratch.close();

    for (int i = 0; i < kAdapterCount; ++i) {
        const QString section = sectionName(i);
        const AdapterRecord& r = record(i);
        const std::pair<const char*, QString> entries[] = {
            {"Enabled", QString::number(r.enabled)},
            {"Type", QString::number(r.deviceType)},
            {"COM:", QString::number(r.comIndex)},
            {"LinkProtocol", QString::number(r.protocol)},
            {"LinkSpeed", QString::number(r.linkSpeed)},
            {"LinkParity", QString::number(r.parity)},
            {"LinkDataBits", QString::number(r.dataBits)},
            {"LinkStopBits", QString::number(r.stopBits)},
            {"NodeID", QString::number(r.slaveId)},
            {"MBXDeviceName", r.cardName},
            {"MBXDeviceNumber", QString::number(r.cardNumber)},
        };
        for (const auto& [key, value] : entries) {
            if (!PrivateProfile::writeString(scratchPath, section, QLatin1String(key), value))
                return false;
        }
    }

    // The temporary file is private to its owner; the saved file keeps the
    // permissions of the one it replaces, or ordinary ones when it is new.
    const QFileDevice::Permissions permissions =
        base.isEmpty() ? (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                          QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther)
                       : QFileInfo(base).permissions();
    QFile::setPermissions(scratchPath, permissions);

    std::error_code error;
    std::filesystem::rename(QFile::encodeName(scratchPath).toStdString(),
                            QFile::encodeName(targetFile).toStdString(), error);
    return !error;
}

int AdapterTable::firstEnabled() const
{
    for (int i = 0; i < kAdapterCount; ++i) {
        if (record(i).enabled != 0)
            return i;
    }
    return -1;
}

int AdapterTable::comPortConflict(int selected, int comIndex) const
{
    for (int j = 0; j < kAdapterCount; ++j) {
        const AdapterRecord& r = record(j);
        if (j != selected && r.enabled != 0 && r.deviceType == SerialDevice && r.comIndex == comIndex)
            return j;
    }
    return -1;
}

} // namespace drvsetup
