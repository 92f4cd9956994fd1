#pragma once
// The main window's state without any widget: the module settings, the point
// table and its eight-row page, the point-status indicators, the transfer
// display, the window items the start-up order sets, marks on fields whose
// numbers were clamped, and the six channels. The window binds its controls
// to this model in both directions; later activities (upload, download,
// settings file, event scan) work on it too.
//
// Everything runs on the window's thread; the channels raise their events
// there, one at a time.
#include "core/fields/field_clamp.h"
#include "core/link/channel_set.h"
#include "edit_state.h"
#include "module_map.h"
#include "module_settings.h"
#include "point_page.h"
#include "point_status.h"
#include "point_table.h"
#include "register_map.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <memory>

namespace chronel {

constexpr int TransferProgressMaximum = LastPointBlockRegister;

struct TransferDisplay {
    bool visible = false;
    int maximum = TransferProgressMaximum;
    int value = 0;
    QString label; // "Uploading" or "Downloading"
};

class ChronelModel : public QObject {
    Q_OBJECT
public:
    // Creates the six channels through `factory` (controls owned by `parent`'s
    // window, i.e. by this model). Without a factory the channels are inert.
    explicit ChronelModel(const ControlFactory& factory = {}, QObject* parent = nullptr);
    ~ChronelModel() override;

    ModuleSettings& settings() { return settings_; }
    const ModuleSettings& settings() const { return settings_; }
    PointTable& points() { return points_; }
    const PointTable& points() const { return points_; }
    PointPage& page() { return page_; }
    const PointPage& page() const { return page_; }
    ChannelSet& channels() { return *channels_; }

    // The start-up order: prepare modTimeSetup, start the event scan polling
    // every 2000 ms, prepare modPointScan, "Type 2", the point defaults with
    // the eight boxes checked, the page at the scroll position, the serial
    // defaults, today's date, "Manual IP Address", Monitor mode off, tab 4
    // captioned "Retrieve SER Data", the DST location list filled with none
    // chosen.
    void startUp();

    // Tools > Restore Default Settings, then the page shown from the table.
    void restoreDefaultSettings();

    // An "Ethernet Speed" option chosen on screen (the enabling rule applies).
    void chooseTcpipSpeed(TcpipSpeed speed);

    // The point page: scrolling (store, move, load) and its two halves.
    void showPointPage(int newTop);
    // The window has room for `rows` point rows (8 … 32).
    void showPointRows(int rows);
    void storePointPage();
    void loadPointPage();

    // Host text from the IP fields, for every channel that is prepared; the
    // connection host instead while one is set.
    QString GetIp() const;
    // The command-line tool addresses the module apart from its settings: the
    // IP fields there are the module's own configuration, uploaded and
    // downloaded like any other setting, and must not redirect the requests.
    // Empty (the window's case) goes back to the IP fields.
    void setConnectionHost(const QString& host) { connectionHost_ = host; }
    QString connectionHost() const { return connectionHost_; }

    // Register map on the model: upload of the configuration block and the
    // Module ID, download filling (clamped fields are rewritten and marked).
    void applyConfigBlock(const ConfigBlock& words);
    void fillConfigBlock(ConfigWriteBlock words);
    void applyModuleId(qint16 word);
    qint16 moduleIdWord();

    void paintPointStatus(quint16 word51, quint16 word52);
    const PointStatusIndicators& pointStatus() const { return pointStatus_; }

    // Transfer progress bar and label: shown at the start of a transfer with
    // value 1, hidden at its end whether it succeeded or failed.
    void beginTransfer(const QString& label);
    void setTransferProgress(int value);
    void endTransfer();
    const TransferDisplay& transfer() const { return transfer_; }

    // Items the start-up order sets.
    bool monitorEventData() const { return monitorEventData_; }
    void setMonitorEventData(bool on);
    QString serDataTabCaption() const { return serDataTabCaption_; }
    const QStringList& dstLocationItems() const { return dstLocationItems_; }
    int startMonth() const { return startDate_.month(); }
    int startDay() const { return startDate_.day(); }
    int startYear() const { return startDate_.year(); }

    // Tool tips of fields whose number was clamped, by FieldKey(). A mark on
    // a point row belongs to the point: it shows on whichever row shows that
    // point, until the user edits the field or the table is reloaded.
    QHash<QString, QString> fieldNotes() const;
    // The user edited a field (`row` for the point page's control arrays).
    void clearFieldNote(const QString& control, int row = -1);

    // Where the adapter settings were read from, for the hint the status bar
    // gives when requests are refused because no adapter serves them.
    void setAdapterConfigPath(const QString& path) { adapterConfigPath_ = path; }
    QString adapterRefusedHint() const;

    // The window calls this after it wrote an edit into settings().
    void notifySettingsEdited() { emit settingsChanged(); }

    // Unsaved edits and the settings file (editStateChanged on a change).
    const EditState& editState() const { return editState_; }
    // The user changed a setting or a point row on screen.
    void noteEdited();
    // The settings were read whole from, or written whole to, `path`.
    void setSettingsFile(const QString& path);
    // An upload replaced the settings with the module's.
    void setSettingsFromModule();

signals:
    void settingsChanged();
    void pointPageChanged();
    void pointStatusChanged();
    void transferChanged();
    void windowItemsChanged();
    void fieldNotesChanged();
    void statusMessage(const QString& text);
    void editStateChanged();

private:
    void noteSettingClamps(const QList<FieldClamp>& clamps);
    void notePointClamps(const QList<FieldClamp>& clamps, int top);
    void clearPointNotes();
    void clearSettingNotes();
    void onChannelError(platform::ErrorCode code);

    ModuleSettings settings_;
    PointTable points_{};
    PointPage page_;
    PointStatusIndicators pointStatus_{};
    TransferDisplay transfer_;
    bool monitorEventData_ = false;
    QString serDataTabCaption_ = QStringLiteral("SER Data");
    QStringList dstLocationItems_;
    QDate startDate_;
    QHash<QString, QString> settingNotes_;           // by control name
    QHash<QPair<QString, int>, QString> pointNotes_; // by (control, point index)
    QString adapterConfigPath_;
    QString connectionHost_;
    EditState editState_;
    std::unique_ptr<ChannelSet> channels_;
};

} // namespace chronel
