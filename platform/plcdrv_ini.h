#pragma once
// PLCDRV.INI, the adapter settings file: its sections, keys and value codes,
// for every program that reads or writes it (the driver reads it all, DRVSETUP
// edits the adapter sections, the control reads which adapters it serves
// itself). The values read for missing keys stay with each reader: they
// differ on purpose (the driver drops an adapter without a Type, the editor
// offers its own choices). Access goes through PrivateProfile (profile.h),
// the file's place through plcdrvIniReadPath()/plcdrvIniWritePath().
#include <QLatin1String>
#include <QString>

#include <iterator>

namespace platform::plcdrvini {

// Adapters 0 … 7, as DRVSETUP and the control number them, live in sections
// Adapter.Object.1 … Adapter.Object.8.
constexpr int AdapterCount = 8;

namespace section {
inline constexpr QLatin1String General{"GENERAL"};
// COMn=<device>: which device COM port n is; edited by hand only.
inline constexpr QLatin1String Ports{"Ports"};
// Section `number` (1 … 8) of the adapters.
inline QString Adapter(int number) { return QStringLiteral("Adapter.Object.%1").arg(number); }
} // namespace section

namespace key {
// [GENERAL]
inline constexpr QLatin1String DialogShow{"DialogShow"};
// [Ports]
inline QString Port(int comNumber) { return QStringLiteral("COM%1").arg(comNumber); }
// [Adapter.Object.n]
inline constexpr QLatin1String Enabled{"Enabled"};
inline constexpr QLatin1String Type{"Type"};                 // AdapterType
inline constexpr QLatin1String ComIndex{"COM:"};             // COM number minus one
inline constexpr QLatin1String LinkSpeed{"LinkSpeed"};       // LinkSpeedSetting
inline constexpr QLatin1String LinkParity{"LinkParity"};     // ParitySetting
inline constexpr QLatin1String LinkDataBits{"LinkDataBits"}; // DataBitsSetting
inline constexpr QLatin1String LinkStopBits{"LinkStopBits"}; // StopBitsSetting
inline constexpr QLatin1String LinkProtocol{"LinkProtocol"}; // LinkProtocolSetting
inline constexpr QLatin1String NodeId{"NodeID"};             // slave ID, 0 none
inline constexpr QLatin1String LinkAssertRts{"LinkAssertRTS"};
inline constexpr QLatin1String LinkRtsLeadTime{"LinkRTSLeadTime"};
inline constexpr QLatin1String LinkRtsLagTime{"LinkRTSLagTime"};
inline constexpr QLatin1String AdapterPollRate{"AdapterPollRate"};
inline constexpr QLatin1String LinkTimeOut{"LinkTimeOut"}; // ms between reply bytes
inline constexpr QLatin1String MbxDeviceNumber{"MBXDeviceNumber"};
inline constexpr QLatin1String MbxDeviceName{"MBXDeviceName"};
} // namespace key

// Type
enum AdapterType : int { SerialAdapter = 0, ModbusPlusAdapter = 1, TcpIpAdapter = 2 };
// LinkParity
enum ParitySetting : int { NoParity = 0, OddParity = 1, EvenParity = 2 };
// LinkDataBits
enum DataBitsSetting : int { SevenDataBitsSetting = 0, EightDataBitsSetting = 1 };
// LinkStopBits
enum StopBitsSetting : int { OneStopBitSetting = 0, TwoStopBitsSetting = 1 };
// LinkProtocol: the framing. A serial line carries RTU or ASCII; the driver
// also reads ModbusPlusProtocol there, and refuses every request of such an
// adapter.
enum LinkProtocolSetting : int { RtuProtocol = 0, AsciiProtocol = 1, ModbusPlusProtocol = 2 };
// LinkSpeed, and the bits per second of each code.
enum LinkSpeedSetting : int {
    Speed1200 = 0,
    Speed2400 = 1,
    Speed4800 = 2,
    Speed9600 = 3,
    Speed19200 = 4,
    Speed38400 = 5,
    Speed57600 = 6,
    Speed115200 = 7,
};
inline constexpr int LinkSpeedBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
static_assert(std::size(LinkSpeedBaudRates) == Speed115200 + 1);

} // namespace platform::plcdrvini
