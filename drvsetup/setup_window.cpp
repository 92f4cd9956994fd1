#include "drvsetup/setup_window.h"

#include "drvsetup/about_box.h"
#include "drvsetup/card_selection.h"
#include "drvsetup/hint_line.h"
#include "drvsetup/program_info.h"
#include "drvsetup/save_prompt.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace drvsetup {
namespace {

constexpr int kComPortCount = 24;
constexpr int kHighestSlaveId = 247;

const QColor kListEnabledColor(0xFF, 0xFF, 0xFF);
const QColor kListDisabledColor(0xC0, 0xC0, 0xC0);

QComboBox* List(const char* objectName, const QStringList& items = {})
{
    auto* combo = new QComboBox;
    combo->setObjectName(QLatin1String(objectName));
    combo->addItems(items);
    return combo;
}

QLabel* Label(const QString& text, const char* objectName)
{
    auto* l = new QLabel(text);
    l->setObjectName(QLatin1String(objectName));
    return l;
}

QGroupBox* Frame(const QString& title, const char* objectName)
{
    auto* f = new QGroupBox(title);
    f->setObjectName(QLatin1String(objectName));
    return f;
}

// One frame of option buttons; the button ids are the values they store.
QButtonGroup* Options(
    QGroupBox* box, QObject* owner, std::initializer_list<std::pair<const char*, const char*>> captionsAndNames)
{
    auto* group = new QButtonGroup(owner);
    auto* layout = new QVBoxLayout(box);
    int value = 0;
    for (const auto& [caption, name] : captionsAndNames) {
        auto* option = new QRadioButton(QString::fromUtf8(caption));
        option->setObjectName(QLatin1String(name));
        group->addButton(option, value++);
        layout->addWidget(option);
    }
    layout->addStretch(1);
    return group;
}

void SetListState(QComboBox* combo, bool enabled, bool grey)
{
    combo->setEnabled(enabled);
    QPalette palette = combo->palette();
    const QColor& color = grey ? kListDisabledColor : kListEnabledColor;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, color);
        palette.setColor(group, QPalette::Button, color);
    }
    combo->setPalette(palette);
}

void SelectIndex(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void CheckOption(QButtonGroup* group, int value)
{
    if (QAbstractButton* button = group->button(value)) {
        button->setChecked(true);
        return;
    }
    // A value no option stands for (hand-edited file): none is checked.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

} // namespace

SetupWindow::SetupWindow(QString readPath, QString writePath, QWidget* parent)
    : QWidget(parent), readPath_(std::move(readPath)), writePath_(std::move(writePath))
{
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(ProgramTitle());
    setFont(QFont(QStringLiteral("Arial"), 9));
    buildControls();
    setUpHints();

    adapterList_->setCurrentIndex(0);
    states_.enabledChecked = false;
    ApplyCheckBoxRule(states_, SerialDevice);
    applyStates();
    table_.setChangesApplied(false);

    table_.readAll(readPath_);
    const int first = table_.firstEnabled();
    const int shown = first >= 0 ? first : 0;
    adapterList_->blockSignals(true);
    adapterList_->setCurrentIndex(shown);
    adapterList_->blockSignals(false);
    showAdapter(shown);

    connectControls();
}

void SetupWindow::buildControls()
{
    QStringList adapters;
    for (int i = 0; i < kAdapterCount; ++i)
        adapters << QString::number(i);
    QStringList comPorts;
    for (int i = 1; i <= kComPortCount; ++i)
        comPorts << QStringLiteral("COM%1:").arg(i);
    QStringList slaveIds{QStringLiteral("None")};
    for (int i = 1; i <= kHighestSlaveId; ++i)
        slaveIds << QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));

    settingsFrame_ = Frame(QStringLiteral("Settings"), "fraSettings");
    adapterLabel_ = Label(QStringLiteral("Adapter"), "lblAdapter");
    adapterList_ = List("cmbAdapter", adapters);
    enabledBox_ = new QCheckBox(QStringLiteral("&Enabled"));
    enabledBox_->setObjectName(QStringLiteral("chkEnabled"));

    hardwareFrame_ = Frame(QStringLiteral("Hardware "), "fraHardware");
    deviceTypeLabel_ = Label(QStringLiteral("DeviceType"), "lblDeviceType");
    deviceTypeList_ =
        List("cmbDeviceType", {QStringLiteral("Serial"), QStringLiteral("MBX Driver"), QStringLiteral("TCP/IP")});
    comPortLabel_ = Label(QStringLiteral("Comm Port"), "lblCommPort");
    comPortList_ = List("cmbCommPort", comPorts);
    mbxFrame_ = Frame(QStringLiteral("MBXDevices"), "fraMBXDevices");
    selectButton_ = new QPushButton(QStringLiteral("Select..."));
    selectButton_->setObjectName(QStringLiteral("cmdSelect"));
    mbxNameLabel_ = Label(QString(), "lblMBXName");
    mbxNumberLabel_ = Label(QString(), "lblMBXNum");
    for (QLabel* value : {mbxNameLabel_, mbxNumberLabel_}) {
        value->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        value->setMinimumWidth(fontMetrics().averageCharWidth() * 20);
    }

    communicationsFrame_ = Frame(QStringLiteral("Communications "), "fraCommunications");
    protocolLabel_ = Label(QStringLiteral("Protocol"), "lblProtocol");
    protocolList_ = List("cmbProtocol", {QStringLiteral("Modbus RTU"), QStringLiteral("Modbus ASCII")});
    linkSpeedLabel_ = Label(QStringLiteral("Link Speed"), "lblLinkSpeed");
    linkSpeedList_ = List("cmbLinkSpeed",
        {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
            QStringLiteral("19.2k"), QStringLiteral("38.4k"), QStringLiteral("57.6k"), QStringLiteral("115.2k")});
    slaveIdLabel_ = Label(QStringLiteral("Slave ID"), "lblSlaveID");
    slaveIdList_ = List("cmbSlaveID", slaveIds);
    slaveIdList_->setMaxVisibleItems(16);

    parityFrame_ = Frame(QStringLiteral("Parity"), "fraParity");
    parityOptions_ =
        Options(parityFrame_, this, {{"&None", "optParityNone"}, {"&Odd", "optParityOdd"}, {"&Even", "optParityEven"}});
    dataBitsFrame_ = Frame(QStringLiteral("DataBits"), "fraDataBits");
    dataBitsOptions_ = Options(dataBitsFrame_, this, {{"&7", "optDataBits7"}, {"&8", "optDataBits8"}});
    stopBitsFrame_ = Frame(QStringLiteral("StopBits"), "fraStopBits");
    stopBitsOptions_ = Options(stopBitsFrame_, this, {{"&1", "optStopBits1"}, {"&2", "optStopBits2"}});

    aboutButton_ = new QPushButton(QStringLiteral("About..."));
    aboutButton_->setObjectName(QStringLiteral("cmdAbout"));
    closeButton_ = new QPushButton(QStringLiteral("Close"));
    closeButton_->setObjectName(QStringLiteral("cmdClose"));
    applyButton_ = new QPushButton(QStringLiteral("Apply"));
    applyButton_->setObjectName(QStringLiteral("cmdApply"));
    hintLine_ = Label(QString(), "lblHint");
    hintLine_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    hintLine_->setMinimumHeight(fontMetrics().height() + 6);

    // "MBXDevices": the button above the card's name and number.
    auto* mbxLayout = new QGridLayout(mbxFrame_);
    mbxLayout->addWidget(selectButton_, 0, 0, 1, 2);
    mbxLayout->addWidget(new QLabel(QStringLiteral("MBX Name")), 1, 0);
    mbxLayout->addWidget(mbxNameLabel_, 1, 1);
    mbxLayout->addWidget(new QLabel(QStringLiteral("MBX Num")), 2, 0);
    mbxLayout->addWidget(mbxNumberLabel_, 2, 1);
    mbxLayout->setColumnStretch(1, 1);

    auto* hardwareLayout = new QGridLayout(hardwareFrame_);
    hardwareLayout->addWidget(deviceTypeLabel_, 0, 0);
    hardwareLayout->addWidget(deviceTypeList_, 1, 0);
    hardwareLayout->addWidget(comPortLabel_, 2, 0);
    hardwareLayout->addWidget(comPortList_, 3, 0);
    hardwareLayout->setRowStretch(4, 1);
    hardwareLayout->addWidget(mbxFrame_, 0, 1, 5, 1);
    hardwareLayout->setColumnStretch(1, 1);

    auto* listsLayout = new QGridLayout;
    listsLayout->addWidget(protocolLabel_, 0, 0);
    listsLayout->addWidget(protocolList_, 1, 0);
    listsLayout->addWidget(linkSpeedLabel_, 0, 1);
    listsLayout->addWidget(linkSpeedList_, 1, 1);
    listsLayout->addWidget(slaveIdLabel_, 0, 2);
    listsLayout->addWidget(slaveIdList_, 1, 2);
    auto* optionsLayout = new QHBoxLayout;
    optionsLayout->addWidget(parityFrame_);
    optionsLayout->addWidget(dataBitsFrame_);
    optionsLayout->addWidget(stopBitsFrame_);
    auto* communicationsLayout = new QVBoxLayout(communicationsFrame_);
    communicationsLayout->addLayout(listsLayout);
    communicationsLayout->addLayout(optionsLayout);

    auto* adapterRow = new QHBoxLayout;
    adapterRow->addWidget(adapterLabel_);
    adapterRow->addWidget(adapterList_);
    adapterRow->addSpacing(fontMetrics().averageCharWidth() * 4);
    adapterRow->addWidget(enabledBox_);
    adapterRow->addStretch(1);
    auto* settingsLayout = new QVBoxLayout(settingsFrame_);
    settingsLayout->addLayout(adapterRow);
    settingsLayout->addWidget(hardwareFrame_);
    settingsLayout->addWidget(communicationsFrame_);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(aboutButton_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(closeButton_);
    buttonRow->addWidget(applyButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settingsFrame_);
    layout->addLayout(buttonRow);
    layout->addWidget(hintLine_);
}

void SetupWindow::connectControls()
{
    connect(adapterList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            showAdapter(index);
    });
    connect(enabledBox_, &QCheckBox::toggled, this, [this] { checkBoxChanged(); });
    connect(deviceTypeList_, &QComboBox::currentIndexChanged, this, [this] { deviceTypeChanged(); });
    connect(parityOptions_, &QButtonGroup::idClicked, this, [this](int id) { optionClicked(parityOptions_, id); });
    connect(dataBitsOptions_, &QButtonGroup::idClicked, this, [this](int id) { optionClicked(dataBitsOptions_, id); });
    connect(stopBitsOptions_, &QButtonGroup::idClicked, this, [this](int id) { optionClicked(stopBitsOptions_, id); });
    connect(selectButton_, &QPushButton::clicked, this, [this] { selectCard(); });
    connect(applyButton_, &QPushButton::clicked, this, [this] { apply(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });
    connect(aboutButton_, &QPushButton::clicked, this, [this] { showAbout(); });
}

void SetupWindow::setUpHints()
{
    hints_ = new HintLine(this, hintLine_);
    hints_->setClearingArea(settingsFrame_);
    hints_->setHint(hardwareFrame_, QStringLiteral("Logical Adapter Physical Characteristics"));
    hints_->setHint(communicationsFrame_, QStringLiteral("Logical Adapter Communication Characteristics"));
    hints_->setHint(parityFrame_, QStringLiteral("COM Port Parity Setting"));
    hints_->setHint(dataBitsFrame_, QStringLiteral("COM Port Data Bits"));
    hints_->setHint(stopBitsFrame_, QStringLiteral("COM Port Stop Bits"));
    hints_->setHint(applyButton_,
        [this] { return QStringLiteral("Apply Characteristics to Logical Adapter ") + adapterList_->currentText(); });
    hints_->setHint(closeButton_, QStringLiteral("Exit Server Configuration"));
    hints_->setHint(enabledBox_, QStringLiteral("Enable Adapter For Use"));
    const std::pair<QButtonGroup*, QStringList> optionHints[] = {
        {parityOptions_, {QStringLiteral("No Parity"), QStringLiteral("Odd Parity"), QStringLiteral("Even Parity ")}},
        {dataBitsOptions_, {QStringLiteral("7 Data Bits"), QStringLiteral("8 Data Bits")}},
        {stopBitsOptions_, {QStringLiteral("1 Stop Bit"), QStringLiteral("2 Stop Bits")}},
    };
    for (const auto& [group, texts] : optionHints) {
        for (int value = 0; value < texts.size(); ++value)
            hints_->setHint(group->button(value), texts[value]);
    }
    hints_->setHint(adapterLabel_, QStringLiteral("Current Adapter Number"));
    hints_->setHint(deviceTypeLabel_, QStringLiteral("Physical Device Type Assigned to Current Adapter"));
    hints_->setHint(comPortLabel_, QStringLiteral("COM Port Assigned to Serial Device Type Adapter"));
    hints_->setHint(protocolLabel_, QStringLiteral("Protocol Command Set Used By Adapter For PLC Communication"));
    hints_->setHint(
        linkSpeedLabel_, QStringLiteral("Link Speed (Baud Rate) Assigned to Adapter for PLC Communication"));
    hints_->setHint(slaveIdLabel_, QStringLiteral("PLC Slave (Station) Address Assigned to Adapter"));
    hints_->track();
}

int SetupWindow::selectedAdapter() const { return adapterList_->currentIndex(); }

void SetupWindow::showAdapter(int index)
{
    const AdapterRecord& r = table_.record(index);
    const QList<QWidget*> loaded{
        enabledBox_, deviceTypeList_, comPortList_, protocolList_, linkSpeedList_, slaveIdList_};
    for (QWidget* w : loaded)
        w->blockSignals(true);
    enabledBox_->setChecked(r.enabled != 0);
    SelectIndex(deviceTypeList_, r.deviceType);
    SelectIndex(comPortList_, r.comIndex);
    SelectIndex(protocolList_, r.protocol);
    SelectIndex(linkSpeedList_, r.linkSpeed);
    SelectIndex(slaveIdList_, r.slaveId);
    for (QWidget* w : loaded)
        w->blockSignals(false);
    showCard(r.cardName, r.cardNumber);
    CheckOption(parityOptions_, r.parity);
    CheckOption(dataBitsOptions_, r.dataBits);
    CheckOption(stopBitsOptions_, r.stopBits);

    states_.enabledChecked = r.enabled != 0;
    ApplyDeviceTypeRule(states_, deviceTypeList_->currentIndex());
    ApplyCheckBoxRule(states_, deviceTypeList_->currentIndex());
    applyStates();
}

void SetupWindow::checkBoxChanged()
{
    states_.enabledChecked = enabledBox_->isChecked();
    ApplyCheckBoxRule(states_, deviceTypeList_->currentIndex());
    applyStates();
}

void SetupWindow::deviceTypeChanged()
{
    ApplyDeviceTypeRule(states_, deviceTypeList_->currentIndex());
    applyStates();
}

void SetupWindow::optionClicked(QButtonGroup* group, int value)
{
    AdapterRecord& r = table_.record(selectedAdapter());
    if (group == parityOptions_)
        r.parity = value;
    else if (group == dataBitsOptions_)
        r.dataBits = value;
    else if (group == stopBitsOptions_)
        r.stopBits = value;
}

void SetupWindow::showCard(const QString& name, int number)
{
    cardName_ = name;
    cardNumber_ = number;
    mbxNameLabel_->setText(name);
    mbxNumberLabel_->setText(QString::number(number));
}

void SetupWindow::applyStates()
{
    enabledBox_->blockSignals(true);
    enabledBox_->setChecked(states_.enabledChecked);
    enabledBox_->blockSignals(false);

    SetListState(deviceTypeList_, states_.deviceTypeList, !states_.deviceTypeList || states_.deviceTypeListGrey);
    SetListState(comPortList_, states_.comPortList, !states_.comPortList);
    SetListState(protocolList_, states_.protocolList, !states_.protocolList);
    SetListState(linkSpeedList_, states_.linkSpeedList, !states_.linkSpeedList);
    SetListState(slaveIdList_, states_.slaveIdList, !states_.slaveIdList);

    mbxFrame_->setEnabled(states_.selectButton);
    selectButton_->setEnabled(states_.selectButton);
    for (QGroupBox* f : {parityFrame_, dataBitsFrame_, stopBitsFrame_})
        f->setEnabled(states_.options);
    for (QButtonGroup* g : {parityOptions_, dataBitsOptions_, stopBitsOptions_}) {
        for (QAbstractButton* b : g->buttons())
            b->setEnabled(states_.options);
    }
    comPortLabel_->setEnabled(states_.comPortLabel);
    protocolLabel_->setEnabled(states_.protocolLabel);
    linkSpeedLabel_->setEnabled(states_.linkSpeedLabel);
    slaveIdLabel_->setEnabled(states_.slaveIdLabel);
}

void SetupWindow::selectCard()
{
    if (const std::optional<CardChoice> choice = drvsetup::SelectCard())
        showCard(choice->name, choice->number);
}

void SetupWindow::showAbout()
{
    AboutBox about(this);
    about.exec();
}

void SetupWindow::closeEvent(QCloseEvent* event)
{
    if (ConfirmClose(table_, readPath_, writePath_) == CloseDecision::Stay)
        event->ignore();
    else
        event->accept();
}

} // namespace drvsetup
