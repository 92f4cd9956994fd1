#pragma once
// The adapter editor's window: the "Adapter" list, the "&Enabled" check box,
// the "Hardware " and "Communications " frames with their lists and options,
// the "About...", "Close" and "Apply" buttons and the hint line. The list
// selections reach the adapter table only through Apply; the options at once.
// Object names follow the controls' names (cmbAdapter, chkEnabled, ...).
#include "drvsetup/adapter_table.h"
#include "drvsetup/enabling_rules.h"

#include <QWidget>

class QButtonGroup;
class QComboBox;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace drvsetup {

class HintLine;

class SetupWindow : public QWidget {
    Q_OBJECT
public:
    // Reads PLCDRV.INI from `readPath`; saving writes `writePath` (which may
    // differ: a system-wide file read at start is saved as the user's own).
    SetupWindow(QString readPath, QString writePath, QWidget* parent = nullptr);

    const AdapterTable& table() const { return table_; }
    const ControlStates& controlStates() const { return states_; }
    int selectedAdapter() const;

    // Whether the selection may be stored: false, after the conflict
    // warning, when another enabled serial adapter uses the chosen COM port.
    bool validate();
    // Stores the check box, then (when valid) the list selections and the
    // card into the selected adapter's record; marks the table as changed.
    void apply();
    // "Select...": lets the user pick the Modbus Plus card.
    void selectCard();
    void showAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectControls();
    void setUpHints();
    void showAdapter(int index);
    void checkBoxChanged();
    void deviceTypeChanged();
    void optionClicked(QButtonGroup* group, int value);
    void showCard(const QString& name, int number);
    void applyStates();

    AdapterTable table_;
    ControlStates states_;
    QString readPath_;
    QString writePath_;
    // The card shown in the "MBXDevices" frame; stored by Apply.
    QString cardName_;
    int cardNumber_ = 0;

    QGroupBox* settingsFrame_ = nullptr;
    QLabel* adapterLabel_ = nullptr;
    QComboBox* adapterList_ = nullptr;
    QCheckBox* enabledBox_ = nullptr;
    QGroupBox* hardwareFrame_ = nullptr;
    QLabel* deviceTypeLabel_ = nullptr;
    QComboBox* deviceTypeList_ = nullptr;
    QLabel* comPortLabel_ = nullptr;
    QComboBox* comPortList_ = nullptr;
    QGroupBox* mbxFrame_ = nullptr;
    QPushButton* selectButton_ = nullptr;
    QLabel* mbxNameLabel_ = nullptr;
    QLabel* mbxNumberLabel_ = nullptr;
    QGroupBox* communicationsFrame_ = nullptr;
    QLabel* protocolLabel_ = nullptr;
    QComboBox* protocolList_ = nullptr;
    QLabel* linkSpeedLabel_ = nullptr;
    QComboBox* linkSpeedList_ = nullptr;
    QLabel* slaveIdLabel_ = nullptr;
    QComboBox* slaveIdList_ = nullptr;
    QGroupBox* parityFrame_ = nullptr;
    QGroupBox* dataBitsFrame_ = nullptr;
    QGroupBox* stopBitsFrame_ = nullptr;
    QButtonGroup* parityOptions_ = nullptr;
    QButtonGroup* dataBitsOptions_ = nullptr;
    QButtonGroup* stopBitsOptions_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QLabel* hintLine_ = nullptr;
    HintLine* hints_ = nullptr;
};

} // namespace drvsetup
