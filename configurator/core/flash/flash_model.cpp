#include "flash_model.h"

#include <QFile>

namespace chronel {

FlashModel::FlashModel(ChannelSet& channels, std::function<QString()> hostText, QObject* parent)
    : QObject(parent), channels_(channels), sequence_(image_, status_, channels, std::move(hostText))
{
    connect(&sequence_, &FlashSequence::runningChanged, this, &FlashModel::buttonsChanged);
}

void FlashModel::setLoading(bool loading)
{
    loading_ = loading;
    emit buttonsChanged();
}

bool FlashModel::loadFile(const FileChooser& choose, const LineHook& eachLine)
{
    if (!loadEnabled())
        return false;
    setLoading(true);
    StopScanPolls(channels_);

    const QString path = choose ? choose() : QString();
    bool ok = false;
    if (path.isEmpty()) {
        status_.append(QStringLiteral("Flash file load cancelled"));
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            status_.append(QStringLiteral("Unable to open ") + path);
        } else {
            ok = LoadHexFile(file, path, image_, status_, eachLine).ok;
            loaded_ = ok;
        }
    }

    RestartScanPolls(channels_);
    setLoading(false);
    return ok;
}

bool FlashModel::program()
{
    if (!programEnabled())
        return false;
    return sequence_.program();
}

bool FlashModel::verify()
{
    if (!verifyEnabled())
        return false;
    return sequence_.verify();
}

} // namespace chronel
