#include "drvsetup/adapter_table.h"

#include "platform/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace drvsetup {
namespace {

using platform::PrivateProfile;
namespace key = platform::plcdrvini::key;

// A numeric key as the driver reads it (its leading number, 0 for text that
// does not start with one), or the editor's default when missing or empty.
int ReadNumber(const QString& file, const QString& section, const QString& key, int defaultValue)
{
    return PrivateProfile::getInt(file, section, key, defaultValue);
}

// Stands for a missing key: no value read from a file holds a line break.
const QString kMissing = QStringLiteral("\n");

// Whether `file` already holds `value` for the key as the driver would read
// it; such a line is left as it is, comment and all.
bool HoldsNumber(const QString& file, const QString& section, const QString& key, int value)
{
    const QString stored = PrivateProfile::getString(file, section, key, kMissing);
    return stored != kMissing && !stored.isEmpty() && PrivateProfile::getInt(file, section, key, 0) == value;
}

bool HoldsText(const QString& file, const QString& section, const QString& key, const QString& value)
{
    const QString stored = PrivateProfile::getString(file, section, key, kMissing);
    return stored != kMissing && stored == value;
}

// Copies `base` (when given) to the scratch file that becomes the new
// PLCDRV.INI, so that every line DRVSETUP does not own is carried over.
bool SeedScratch(QFile& scratch, const QString& base)
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

QString AdapterTable::sectionName(int index) { return platform::plcdrvini::section::Adapter(index + 1); }

void AdapterTable::readAll(const QString& iniPath)
{
    const AdapterRecord defaults;
    for (int i = 0; i < kAdapterCount; ++i) {
        const QString section = sectionName(i);
        AdapterRecord& r = record(i);
        r.enabled = ReadNumber(iniPath, section, key::Enabled, defaults.enabled);
        r.deviceType = ReadNumber(iniPath, section, key::Type, defaults.deviceType);
        r.comIndex = ReadNumber(iniPath, section, key::ComIndex, defaults.comIndex);
        r.protocol = ReadNumber(iniPath, section, key::LinkProtocol, defaults.protocol);
        r.cardName = PrivateProfile::getString(iniPath, section, key::MbxDeviceName, defaults.cardName);
        r.cardNumber = ReadNumber(iniPath, section, key::MbxDeviceNumber, defaults.cardNumber);
        r.linkSpeed = ReadNumber(iniPath, section, key::LinkSpeed, defaults.linkSpeed);
        r.parity = ReadNumber(iniPath, section, key::LinkParity, defaults.parity);
        r.dataBits = ReadNumber(iniPath, section, key::LinkDataBits, defaults.dataBits);
        r.stopBits = ReadNumber(iniPath, section, key::LinkStopBits, defaults.stopBits);
        r.slaveId = ReadNumber(iniPath, section, key::NodeId, defaults.slaveId);
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
    if (!scratch.open() || !SeedScratch(scratch, base))
        return false;
    const QString scratchPath = scratch.fileName();
    scratch.close();

    for (int i = 0; i < kAdapterCount; ++i) {
        const QString section = sectionName(i);
        const AdapterRecord& r = record(i);
        const std::pair<QLatin1String, const int*> numbers[] = {
            {key::Enabled, &r.enabled},
            {key::Type, &r.deviceType},
            {key::ComIndex, &r.comIndex},
            {key::LinkProtocol, &r.protocol},
            {key::LinkSpeed, &r.linkSpeed},
            {key::LinkParity, &r.parity},
            {key::LinkDataBits, &r.dataBits},
            {key::LinkStopBits, &r.stopBits},
            {key::NodeId, &r.slaveId},
        };
        // Keys whose value would read back unchanged are not rewritten, so a
        // value such as "1 ;modem" keeps its text.
        for (const auto& [name, value] : numbers) {
            if (!HoldsNumber(scratchPath, section, name, *value) &&
                !PrivateProfile::writeString(scratchPath, section, name, QString::number(*value)))
                return false;
        }
        const QString nameKey = key::MbxDeviceName;
        if (!HoldsText(scratchPath, section, nameKey, r.cardName) &&
            !PrivateProfile::writeString(scratchPath, section, nameKey, r.cardName))
            return false;
        const QString numberKey = key::MbxDeviceNumber;
        if (!HoldsNumber(scratchPath, section, numberKey, r.cardNumber) &&
            !PrivateProfile::writeString(scratchPath, section, numberKey, QString::number(r.cardNumber)))
            return false;
    }

    // The temporary file is private to its owner; the saved file keeps the
    // permissions of the one it replaces, or ordinary ones when it is new.
    const QFileDevice::Permissions permissions = base.isEmpty()
        ? (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser |
              QFileDevice::ReadGroup | QFileDevice::ReadOther)
        : QFileInfo(base).permissions();
    QFile::setPermissions(scratchPath, permissions);

    std::error_code error;
    std::filesystem::rename(
        QFile::encodeName(scratchPath).toStdString(), QFile::encodeName(targetFile).toStdString(), error);
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
