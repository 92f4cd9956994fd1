// Register numbers of the Chronel module as the configurator addresses them:
// 1-based holding-register and coil references (protocol address + 1).
// This is the module's own view, written apart from the configurator's
// register map on purpose: as the test peer it must not share the
// configurator's mistakes.
#pragma once

#include <cstdint>

namespace chronel::sim {

// Holding registers.
inline constexpr int kConfigFirst = 1;
inline constexpr int kConfigWords = 100;
inline constexpr int kModuleIdRegister = 101;
inline constexpr int kEventBlockFirst = 101; // word 0 is the Module ID
inline constexpr int kEventBlockWords = 100;
inline constexpr int kStatusFirst = 200; // overlaps the last event-block word
inline constexpr int kStatusWords = 100;
inline constexpr int kPointFirst = 301;
inline constexpr int kPointWords = 1152; // 301 ... 1452, eighteen blocks of 64
inline constexpr int kPointLast = kPointFirst + kPointWords - 1;
inline constexpr int kDownloadStartRegister = 1491;
inline constexpr uint16_t kDownloadStartCode = 0x55AA;
inline constexpr int kStatisticsFirst = 1501;
inline constexpr int kStatisticsWords = 100;
inline constexpr int kPlainAreaLast = 1600; // 1 ... 1600 read as one memory

inline constexpr int kFlashWindowFirst = 16385;
inline constexpr int kFlashWindowLast = 32765;
inline constexpr int kFlashControlFirst = 32766; // progress 32766/32767, erase 32767 ... 32771
inline constexpr int kFlashControlWords = 6;
inline constexpr int kFlashEraseFirst = 32767;
inline constexpr int kFlashEraseWords = 5;

// Words of the configuration block (word k = register k + 1).
namespace cfg {
inline constexpr int SyncMaster = 0;
inline constexpr int TsToGpsOffset = 1;
inline constexpr int TsToIrigOffset = 2;
inline constexpr int EventBufferType = 3;
inline constexpr int EventDelay = 4;
inline constexpr int DstLocation = 5;
inline constexpr int DstStartMonth = 6;
inline constexpr int DstStartDay = 7;
inline constexpr int DstStartHour = 8;
inline constexpr int DstStopMonth = 9;
inline constexpr int DstStopDay = 10;
inline constexpr int DstStopHour = 11;
inline constexpr int HourTimeUpdate = 12;
inline constexpr int Modbus232Baud = 13;
inline constexpr int Modbus232Parity = 14;
inline constexpr int Modbus232Delay = 15;
inline constexpr int Modbus485Baud = 16;
inline constexpr int Modbus485Parity = 17;
inline constexpr int Modbus485Delay = 18;
inline constexpr int TcpipMac = 19; // six words
inline constexpr int TcpipMode = 25;
inline constexpr int TcpipIp = 26;      // four words
inline constexpr int TcpipSubnet = 30;  // four words
inline constexpr int TcpipGateway = 34; // four words
inline constexpr int ModuleName = 38;   // eight words, 16 characters
inline constexpr int TcpipSpeed = 46;
inline constexpr int Version = 48;
inline constexpr int ModbusAddress = 49;
inline constexpr int Ieee1344 = 50;
inline constexpr int TcpipEthernetComm = 51;
inline constexpr int Modbus232Protocol = 52;
inline constexpr int Modbus485Protocol = 53;
inline constexpr int Lock = 54;
} // namespace cfg

// Words of the point area (word 0 = register 301).
namespace pts {
inline constexpr int Filter = 0;
inline constexpr int Debounce = 32;
inline constexpr int Chatter = 64;
inline constexpr int Disabled = 96;
inline constexpr int Description = 128; // 16 words per point
inline constexpr int OffText = 640;     // 8 words per point
inline constexpr int OnText = 896;      // 8 words per point
inline constexpr uint16_t DisabledValue = 0xFFFF;
} // namespace pts

// Words of the status block (word 0 = register 200).
namespace st {
inline constexpr int TimeSource = 1;
inline constexpr int Command = 2;
inline constexpr int Month = 4;
inline constexpr int Day = 5;
inline constexpr int Year = 6;
inline constexpr int Hour = 7;
inline constexpr int Minute = 8;
inline constexpr int Second = 9;
inline constexpr int GpsFix = 10;
inline constexpr int Satellites = 11;
inline constexpr int Latitude = 12;
inline constexpr int Longitude = 14;
inline constexpr int Altitude = 16;
inline constexpr int Speed = 18;
inline constexpr int Course = 20;
inline constexpr int TimeQuality = 22;
inline constexpr int DstFlag = 23;
inline constexpr int PointStatusLow = 51;
inline constexpr int PointStatusHigh = 52;
inline constexpr uint16_t TimeSetCommand = 0x8000;
} // namespace st

// Words of the statistics block (word 0 = register 1501).
namespace stat {
inline constexpr int NtpHours = 0;     // 24 words
inline constexpr int TaskLoading = 48; // eight 32-bit counters
inline constexpr int OpenSockets = 75;
inline constexpr int TestMode = 76;
inline constexpr int TestInputsLow = 77;
inline constexpr int TestInputsHigh = 78;
inline constexpr int DroppedPackets = 79;
inline constexpr int ErrorTimes = 80; // five 32-bit times
inline constexpr int ErrorCodes = 90; // five codes
inline constexpr uint16_t TestModeOn = 0x55AA;
} // namespace stat

// Coils.
inline constexpr int kEventAvailableCoil = 1;
inline constexpr int kAcknowledgeCoil = 2;
inline constexpr int kCoilCount = 2;

} // namespace chronel::sim
