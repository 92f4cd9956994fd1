// The Configuration tab: the module's fields and options, its event buffer,
// the TCP/IP frame and the two serial ports.
#include "chronel_main.h"
#include "window_controls.h"

#include "core/fields/conversions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <tuple>

namespace chronel {

namespace {

QRadioButton* Option(QButtonGroup* group, int id, const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(name);
    group->addButton(b, id);
    return b;
}

} // namespace

QWidget* ChronelMain::buildConfigurationTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    // Left column: module fields, options and the event buffer.
    auto* module = new QWidget(page);
    auto* form = new QGridLayout(module);
    auto* lock = new QCheckBox(QStringLiteral("Lock Configuration"), module);
    lock->setObjectName(QStringLiteral("chkConfigLock"));
    checkBoxes_.insert(lock->objectName(), lock);
    form->addWidget(lock, 0, 0, 1, 3);
    const std::tuple<const char*, const char*, bool, int> fields[] = {
        {"Module ID", "txtConfigPlcId", false, 7},
        {"Modbus Address", "txtConfigModbusAddress", true, 7},
        {"Firmware Version", "txtConfigVersion", true, 7},
        {"Module Name", "txtConfigModuleName", false, 16},
        {"Event Delay", "txtConfigEventDelay", false, 7},
    };
    int row = 1;
    for (const auto& [caption, name, displayOnly, chars] : fields) {
        form->addWidget(new QLabel(QString::fromLatin1(caption), module), row, 0);
        QLineEdit* edit = textField(QString::fromLatin1(name), module, displayOnly);
        NaturalWidth(edit, chars, chars < 16);
        form->addWidget(edit, row, 1);
        ++row;
    }
    form->addWidget(new QLabel(QStringLiteral("mS"), module), row - 1, 2);
    auto* syncMaster = new QCheckBox(QStringLiteral("Time Sync Master"), module);
    syncMaster->setObjectName(QStringLiteral("chkConfigSyncMaster"));
    auto* hourly = new QCheckBox(QStringLiteral("Enable Hourly Time Update"), module);
    hourly->setObjectName(QStringLiteral("chkConfigHourTimeUpdate"));
    checkBoxes_.insert(syncMaster->objectName(), syncMaster);
    checkBoxes_.insert(hourly->objectName(), hourly);
    form->addWidget(syncMaster, row++, 0, 1, 3);
    form->addWidget(hourly, row++, 0, 1, 3);

    QGroupBox* buffer = Frame(QStringLiteral("fraConfigEventBuffer"), QStringLiteral("Event Buffer"), module);
    auto* bufferLayout = new QHBoxLayout(buffer);
    eventBufferGroup_ = new QButtonGroup(this);
    for (int t = 0; t < 4; ++t)
        bufferLayout->addWidget(Option(eventBufferGroup_, t, QStringLiteral("btnConfigEventBufferType%1").arg(t),
            QStringLiteral("Type %1").arg(t), buffer));
    form->addWidget(buffer, row++, 0, 1, 4);
    form->setColumnStretch(3, 1);
    grid->addWidget(module, 0, 0);

    // Frame "TCP/IP".
    QGroupBox* tcpip = Frame(QStringLiteral("fraConfigTcpip"), QStringLiteral("TCP/IP"), page);
    auto* tcp = new QGridLayout(tcpip);
    const std::pair<const char*, const char*> octetRows[] = {
        {"IP", "txtConfigTcpipIp"}, {"Subnet", "txtConfigTcpipSubnet"}, {"Gateway", "txtConfigTcpipGateway"}};
    // The four octets of a row sit together at even gaps; the space a wide
    // window gives goes to the right of them.
    row = 0;
    for (const auto& [caption, prefix] : octetRows) {
        tcp->addWidget(new QLabel(QString::fromLatin1(caption), tcpip), row, 0);
        auto* octets = new QHBoxLayout;
        for (int i = 1; i <= 4; ++i) {
            QLineEdit* octet = textField(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i), tcpip);
            LimitTyping(octet, 3);
            NaturalWidth(octet, 4, true);
            octets->addWidget(octet);
        }
        octets->addStretch(1);
        tcp->addLayout(octets, row, 1, 1, 4);
        ++row;
    }
    tcp->addWidget(new QLabel(QStringLiteral("MAC"), tcpip), row, 0);
    QLineEdit* mac = textField(QStringLiteral("txtConfigTcpipMac"), tcpip, true);
    NaturalWidth(mac, 28, false);
    tcp->addWidget(mac, row++, 1, 1, 4);

    tcpipModeGroup_ = new QButtonGroup(this);
    auto* modes = new QVBoxLayout;
    modes->addWidget(Option(tcpipModeGroup_, int(TcpipMode::Manual), QStringLiteral("btnConfigTcpipManual"),
        QStringLiteral("Manual IP Address"), tcpip));
    modes->addWidget(Option(tcpipModeGroup_, int(TcpipMode::BootP), QStringLiteral("btnConfigTcpipBootP"),
        QStringLiteral("Boot P"), tcpip));
    modes->addWidget(Option(
        tcpipModeGroup_, int(TcpipMode::Dhcp), QStringLiteral("btnConfigTcpipDhcp"), QStringLiteral("DHCP"), tcpip));
    tcp->addLayout(modes, row, 0, 1, 2);

    QGroupBox* speed = Frame(QStringLiteral("fraConfigTcpipSpeed"), QStringLiteral("Ethernet Speed"), tcpip);
    auto* speedLayout = new QVBoxLayout(speed);
    tcpipSpeedGroup_ = new QButtonGroup(this);
    speedLayout->addWidget(Option(tcpipSpeedGroup_, int(TcpipSpeed::Mbps100), QStringLiteral("btnConfigTcpipSpeed100"),
        QStringLiteral("100 Mbps"), speed));
    speedLayout->addWidget(Option(tcpipSpeedGroup_, int(TcpipSpeed::Mbps10), QStringLiteral("btnConfigTcpipSpeed10"),
        QStringLiteral("10 Mbps"), speed));
    speedLayout->addWidget(Option(tcpipSpeedGroup_, int(TcpipSpeed::AutoNegotiate),
        QStringLiteral("btnConfigTcpipSpeedAuto"), QStringLiteral("Auto-Negotiate"), speed));
    tcp->addWidget(speed, row, 2, 1, 2);

    QGroupBox* comm = Frame(QStringLiteral("fraConfigTcpipEthernetComm"), QStringLiteral("Ethernet Comm"), tcpip);
    auto* commLayout = new QVBoxLayout(comm);
    ethernetCommGroup_ = new QButtonGroup(this);
    commLayout->addWidget(Option(ethernetCommGroup_, int(EthernetComm::Half),
        QStringLiteral("optConfigTcpipEtherentCommHalf"), QStringLiteral("Half Duplex"), comm));
    commLayout->addWidget(Option(ethernetCommGroup_, int(EthernetComm::Full),
        QStringLiteral("optConfigTcpipEthernetCommFull"), QStringLiteral("Full Duplex"), comm));
    tcp->addWidget(comm, row, 4, 1, 1);
    grid->addWidget(tcpip, 0, 1);

    // Frame "Modbus Serial".
    QGroupBox* serial = Frame(QStringLiteral("fraConfigModbus"), QStringLiteral("Modbus Serial"), page);
    auto* ser = new QGridLayout(serial);
    const char* heads[] = {"Baud", "Parity", "Delay", "Protocol"};
    for (int c = 0; c < 4; ++c)
        ser->addWidget(new QLabel(QString::fromLatin1(heads[c]), serial), 0, c + 1);
    const std::pair<const char*, const char*> ports[] = {{"RS232", "232"}, {"RS485", "485"}};
    row = 1;
    for (const auto& [caption, port] : ports) {
        const QString p = QString::fromLatin1(port);
        ser->addWidget(new QLabel(QString::fromLatin1(caption), serial), row, 0);
        auto list = [&](const QString& name, const QStringList& items, int column) {
            auto* combo = new QComboBox(serial);
            combo->setObjectName(name);
            combo->addItems(items);
            combo->setCurrentIndex(-1);
            lists_.insert(name, combo);
            ser->addWidget(combo, row, column);
        };
        list(QStringLiteral("cmbConfigModbus%1Baud").arg(p), p == QLatin1String("232") ? Baud232Items() : BaudItems(),
            1);
        list(QStringLiteral("cmbConfigModbus%1Parity").arg(p), ParityItems(), 2);
        QLineEdit* delay = textField(QStringLiteral("txtConfigModbus%1Delay").arg(p), serial);
        NaturalWidth(delay, 7, true);
        ser->addWidget(delay, row, 3);
        list(QStringLiteral("cmbConfigModbus%1Protocol").arg(p), ProtocolItems(), 4);
        ++row;
    }
    ser->setColumnStretch(5, 1);
    grid->addWidget(serial, 1, 0, 1, 2);
    // A large window's width goes to the frames and its height to their
    // rows, whose fields stay in the middle of them at the widths of what
    // they hold; the port table's heads stay on top of its rows.
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 1);
    for (QGridLayout* rows : {form, tcp, ser}) {
        for (int i = 0; i < rows->count(); ++i)
            rows->itemAt(i)->setAlignment(rows->itemAt(i)->alignment() | Qt::AlignVCenter);
        for (int r = rows == ser ? 1 : 0; r < rows->rowCount(); ++r)
            rows->setRowStretch(r, 1);
    }
    return page;
}

} // namespace chronel
