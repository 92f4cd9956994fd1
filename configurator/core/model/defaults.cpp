#include "defaults.h"

namespace chronel {

namespace {

constexpr int DefaultBaud = 5;   // "9600"
constexpr int DefaultParity = 1; // "Even"

void SerialDefaults(ModuleSettings& s)
{
    s.ConfigModbus232Baud = DefaultBaud;
    s.ConfigModbus232Parity = DefaultParity;
    s.ConfigModbus232Delay = QStringLiteral("0");
    s.ConfigModbus485Baud = DefaultBaud;
    s.ConfigModbus485Parity = DefaultParity;
    s.ConfigModbus485Delay = QStringLiteral("0");
}

} // namespace

void RestoreDefaultSettings(ModuleSettings& s, PointTable& points)
{
    SerialDefaults(s);
    s.ConfigEventBufferType = 2;
    s.chooseTcpipSpeed(TcpipSpeed::AutoNegotiate);
    s.ConfigTcpipMode = TcpipMode::Manual;
    s.ConfigSyncMaster = Check::Unchecked;
    s.ConfigHourTimeUpdate = Check::Unchecked;
    s.ConfigEventDelay = QStringLiteral("500");
    s.TsToGpsOffset = QStringLiteral("-5");
    s.TsToIrigOffset = QStringLiteral("0");
    s.TsDstLocation = 0;
    FillPointDefaults(points);
}

void ApplyStartupSettings(ModuleSettings& s, PointTable& points)
{
    s.ConfigEventBufferType = 2;
    FillPointDefaults(points);
    SerialDefaults(s);
    s.ConfigTcpipMode = TcpipMode::Manual;
}

} // namespace chronel
