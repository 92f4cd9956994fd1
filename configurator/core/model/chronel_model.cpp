#include "chronel_model.h"

#include "core/fields/conversions.h"
#include "core/fields/module_address.h"
#include "core/fields/number_rule.h"
#include "defaults.h"
#include "platform/error_code.h"
#include "regaccess/request_properties.h"
#include "regaccess/transport_choice.h"

namespace chronel {

ChronelModel::ChronelModel(const ControlFactory& factory, QObject* parent)
    : QObject(parent), channels_(std::make_unique<ChannelSet>(factory, this))
{
    for (int i = 0; i < ChannelCount; ++i)
        connect(&(*channels_)[ChannelId(i)], &Channel::OnErrorEvent, this, &ChronelModel::onChannelError);
}

ChronelModel::~ChronelModel() = default;

void ChronelModel::startUp()
{
    Channel& timeSetup = channels_->modTimeSetup();
    timeSetup.prepare(
        GetIp(), StatusBlockRegister, regaccess::FunctionRead, regaccess::RegTypeHoldRegs, StatusBlockTimeSetupWords);

    Channel& eventScan = channels_->modEventScan();
    eventScan.prepare(GetIp(), EventAvailableCoil, regaccess::FunctionRead, regaccess::RegTypeCoils, 1);
    eventScan.AutoPoll(EventScanStartInterval);

    channels_->modPointScan().prepare(
        GetIp(), PointScanBit, regaccess::FunctionRead, regaccess::RegTypeInputBits, PointScanBits);

    ApplyStartupSettings(settings_, points_);
    for (int r = 0; r < page_.rows(); ++r)
        page_.row(r).SsPcEnable = Check::Checked;
    // The rows hold nothing yet, so the page is loaded without storing it
    // first: storing would overwrite the fresh defaults with empty rows.
    page_.load(points_);

    startDate_ = QDate::currentDate();
    monitorEventData_ = false;
    serDataTabCaption_ = QStringLiteral("Retrieve SER Data");
    dstLocationItems_ = DstLocationItems();
    settings_.TsDstLocation = -1;

    emit settingsChanged();
    emit pointPageChanged();
    emit windowItemsChanged();
}

void ChronelModel::restoreDefaultSettings()
{
    RestoreDefaultSettings(settings_, points_);
    noteEdited();
    clearSettingNotes();
    loadPointPage();
    emit settingsChanged();
}

void ChronelModel::chooseTcpipSpeed(TcpipSpeed speed)
{
    settings_.chooseTcpipSpeed(speed);
    emit settingsChanged();
}

void ChronelModel::showPointPage(int newTop)
{
    const int oldTop = page_.top();
    const QList<FieldClamp> clamps = page_.show(newTop, points_);
    notePointClamps(clamps, oldTop);
    emit pointPageChanged();
    emit fieldNotesChanged();
}

void ChronelModel::showPointRows(int rows)
{
    if (rows == page_.rows())
        return;
    const int oldTop = page_.top();
    notePointClamps(page_.showRows(rows, points_), oldTop);
    emit pointPageChanged();
    emit fieldNotesChanged();
}

void ChronelModel::storePointPage()
{
    notePointClamps(page_.store(points_), page_.top());
    emit pointPageChanged();
}

void ChronelModel::loadPointPage()
{
    page_.load(points_);
    clearPointNotes();
    emit pointPageChanged();
}

void ChronelModel::noteEdited()
{
    if (editState_.noteEdited())
        emit editStateChanged();
}

void ChronelModel::setSettingsFile(const QString& path)
{
    if (editState_.settingsFileIs(path))
        emit editStateChanged();
}

void ChronelModel::setSettingsFromModule()
{
    if (editState_.settingsFromModule())
        emit editStateChanged();
}

QString ChronelModel::GetIp() const
{
    return connectionHost_.isEmpty() ? chronel::GetIp(settings_.ConfigTcpipIp) : connectionHost_;
}

void ChronelModel::applyConfigBlock(const ConfigBlock& words)
{
    ConfigBlockToSettings(words, settings_);
    clearSettingNotes();
    emit settingsChanged();
}

void ChronelModel::fillConfigBlock(ConfigWriteBlock words)
{
    clearSettingNotes();
    const QList<FieldClamp> clamps = SettingsToConfigBlock(settings_, words);
    for (const FieldClamp& c : clamps) {
        if (QString* field = TextField(settings_, c.control))
            *field = c.shown;
    }
    noteSettingClamps(clamps);
    emit settingsChanged();
}

void ChronelModel::applyModuleId(qint16 word)
{
    settings_.ConfigPlcId = ModuleIdFromWord(word);
    if (settingNotes_.remove(QStringLiteral("txtConfigPlcId")) > 0)
        emit fieldNotesChanged();
    emit settingsChanged();
}

qint16 ChronelModel::moduleIdWord()
{
    const FieldNumber number = ModuleIdToWord(settings_.ConfigPlcId);
    if (number.clamped) {
        FieldClamp clamp{
            QStringLiteral("txtConfigPlcId"), -1, settings_.ConfigPlcId, NumberText(number.value), -32768, 32767};
        settings_.ConfigPlcId = clamp.shown;
        noteSettingClamps({clamp});
        emit settingsChanged();
    }
    return number.value;
}

void ChronelModel::paintPointStatus(quint16 word51, quint16 word52)
{
    pointStatus_ = PaintPointStatus(word51, word52);
    emit pointStatusChanged();
}

void ChronelModel::beginTransfer(const QString& label)
{
    transfer_.visible = true;
    transfer_.maximum = TransferProgressMaximum;
    transfer_.value = 1;
    transfer_.label = label;
    emit transferChanged();
}

void ChronelModel::setTransferProgress(int value)
{
    transfer_.value = int(ClampToRange(value, 0, transfer_.maximum));
    emit transferChanged();
}

void ChronelModel::endTransfer()
{
    transfer_.visible = false;
    emit transferChanged();
}

void ChronelModel::setMonitorEventData(bool on)
{
    monitorEventData_ = on;
    emit windowItemsChanged();
}

QHash<QString, QString> ChronelModel::fieldNotes() const
{
    QHash<QString, QString> notes = settingNotes_;
    for (auto it = pointNotes_.cbegin(); it != pointNotes_.cend(); ++it) {
        const int row = it.key().second - page_.top();
        if (row >= 0 && row < page_.rows())
            notes.insert(FieldKey(it.key().first, row), it.value());
    }
    return notes;
}

void ChronelModel::clearFieldNote(const QString& control, int row)
{
    const bool removed =
        row < 0 ? settingNotes_.remove(control) > 0 : pointNotes_.remove({control, page_.top() + row}) > 0;
    if (removed)
        emit fieldNotesChanged();
}

QString ChronelModel::adapterRefusedHint() const
{
    // An adapter file that could not be read (no file descriptor left, say)
    // gave the defaults, which send the request to the driver: the cause is
    // the file, whatever adapters it names.
    if (const regaccess::AdapterSettingsFailure failure = regaccess::lastAdapterSettingsFailure();
        !failure.file.isEmpty())
        return QStringLiteral("Requests are refused (error -5): the adapter settings %1 cannot be read: %2.")
            .arg(failure.file, failure.reason);
    QString hint = QStringLiteral("Requests are refused (error -5): no adapter serves adapter 0. "
                                  "Make Adapter.Object.1 a TCP/IP adapter with drvsetup");
    if (!adapterConfigPath_.isEmpty())
        hint += QStringLiteral(" (adapter settings read from %1)").arg(adapterConfigPath_);
    return hint + QLatin1Char('.');
}

void ChronelModel::noteSettingClamps(const QList<FieldClamp>& clamps)
{
    if (clamps.isEmpty())
        return;
    for (const FieldClamp& c : clamps)
        settingNotes_.insert(c.key(), c.note());
    emit fieldNotesChanged();
}

void ChronelModel::notePointClamps(const QList<FieldClamp>& clamps, int top)
{
    if (clamps.isEmpty())
        return;
    for (const FieldClamp& c : clamps)
        pointNotes_.insert({c.control, top + c.row}, c.note());
    emit fieldNotesChanged();
}

void ChronelModel::clearPointNotes()
{
    if (pointNotes_.isEmpty())
        return;
    pointNotes_.clear();
    emit fieldNotesChanged();
}

void ChronelModel::clearSettingNotes()
{
    if (settingNotes_.isEmpty())
        return;
    settingNotes_.clear();
    emit fieldNotesChanged();
}

void ChronelModel::onChannelError(platform::ErrorCode code)
{
    if (code == platform::ErrorCode::RequestRefused)
        emit statusMessage(adapterRefusedHint());
}

} // namespace chronel
