#pragma once
// The module configuration as the main window holds it: one member per setting,
// each holding exactly what its screen control holds (field texts, check
// states, list positions with -1 for none, the chosen option of a group or
// none). The register map, the settings file and the defaults all read and
// write this record; the window binds its controls to it.
#include "core/fields/module_address.h"

#include <QString>
#include <QStringView>
#include <array>
#include <span>

namespace chronel {

// A check box as the screen holds it; a grey box counts as not checked.
enum class Check { Unchecked, Checked, Grey };

enum class TcpipMode { None, Manual, BootP, Dhcp };
enum class TcpipSpeed { None, AutoNegotiate, Mbps10, Mbps100 };
enum class EthernetComm { None, Full, Half };

struct ModuleSettings {
    // Configuration tab.
    Check ConfigLock = Check::Unchecked;
    QString ConfigPlcId;
    QString ConfigModbusAddress; // display only
    QString ConfigVersion;       // display only
    QString ConfigModuleName;
    QString ConfigEventDelay;
    Check ConfigSyncMaster = Check::Unchecked;
    Check ConfigHourTimeUpdate = Check::Unchecked;
    int ConfigEventBufferType = -1; // 0 … 3 = "Type 0" … "Type 3", -1 none chosen

    // Frame "TCP/IP".
    OctetFields ConfigTcpipIp{
        QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("16"), QStringLiteral("140")};
    OctetFields ConfigTcpipSubnet;
    OctetFields ConfigTcpipGateway;
    QString ConfigTcpipMac; // display only
    TcpipMode ConfigTcpipMode = TcpipMode::None;
    TcpipSpeed ConfigTcpipSpeed = TcpipSpeed::None;
    EthernetComm ConfigTcpipEthernetComm = EthernetComm::None;
    // Whether "Half Duplex" and "Full Duplex" can be chosen; follows the speed
    // option through chooseTcpipSpeed().
    bool ConfigTcpipEthernetCommEnabled = true;

    // Frame "Modbus Serial": list positions, -1 for none.
    int ConfigModbus232Baud = -1;
    int ConfigModbus232Parity = -1;
    QString ConfigModbus232Delay;
    int ConfigModbus232Protocol = -1;
    int ConfigModbus485Baud = -1;
    int ConfigModbus485Parity = -1;
    QString ConfigModbus485Delay;
    int ConfigModbus485Protocol = -1;

    // Time Setup tab.
    Check TsIeee1344 = Check::Unchecked;
    QString TsToGpsOffset;
    QString TsToIrigOffset;
    int TsDstLocation = -1; // list position, -1 none
    QString TsDstStartMonth;
    QString TsDstStartDay;
    QString TsDstStartHour;
    QString TsDstStopMonth;
    QString TsDstStopDay;
    QString TsDstStopHour;

    // Chooses an "Ethernet Speed" option and applies the enabling rule of the
    // duplex options: "Auto-Negotiate" disables both, "10 Mbps" and
    // "100 Mbps" enable them. Every path that chooses a speed (a click, an
    // upload, a settings file, the defaults) goes through here.
    void chooseTcpipSpeed(TcpipSpeed speed);

    bool operator==(const ModuleSettings&) const = default;
};

// The settings' screen controls by name, for binding and for rewriting a
// field by the name a conversion reports.
struct TextFieldBinding {
    const char* control; // "txtConfigModuleName"
    QString ModuleSettings::*member;
};
struct CheckBinding {
    const char* control; // "chkConfigLock"
    Check ModuleSettings::*member;
};
struct ListBinding {
    const char* control; // "cmbConfigModbus232Baud"
    int ModuleSettings::*member;
};
std::span<const TextFieldBinding> TextFields();
std::span<const CheckBinding> CheckBoxes();
std::span<const ListBinding> Lists();
// The text member behind a "txt…" control name (octet fields as
// "txtConfigTcpipIp1" … "4"); nullptr for an unknown name.
QString* TextField(ModuleSettings& settings, QStringView control);

// The "Enable …" check boxes send 1 only when fully checked.
inline bool IsChecked(Check c) { return c == Check::Checked; }
inline Check CheckFrom(bool on) { return on ? Check::Checked : Check::Unchecked; }

} // namespace chronel
