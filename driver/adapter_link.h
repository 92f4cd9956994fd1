#pragma once
// The settings of one adapter as configured from PLCDRV.INI. The engine's
// adapter derives from it and adds its link (COM port or Modbus Plus card);
// the destructor is virtual so that the derived class can close that link.
#include "platform/plcdrv_ini.h"

namespace plcdrv {

// Type and LinkParity of PLCDRV.INI, kept as the file codes them.
using platform::plcdrvini::AdapterType;
using platform::plcdrvini::ModbusPlusAdapter;
using platform::plcdrvini::SerialAdapter;
using platform::plcdrvini::TcpIpAdapter;
using Parity = platform::plcdrvini::ParitySetting;
using platform::plcdrvini::EvenParity;
using platform::plcdrvini::NoParity;
using platform::plcdrvini::OddParity;
// The line's stop bits (not the file's LinkStopBits code).
enum StopBits : int { OneStopBit = 0, TwoStopBits = 2 };

class AdapterLink {
public:
    static constexpr int kUnset = -1;

    AdapterLink() = default;
    virtual ~AdapterLink() = default;
    AdapterLink(const AdapterLink&) = default;
    AdapterLink& operator=(const AdapterLink&) = default;

    int adapterNumber = kUnset;    // n of "Adapter.Object.n"
    int adapterType = kUnset;      // AdapterType
    int showStatusWindow = kUnset; // DialogShow of "GENERAL"
    int comNumber = kUnset;        // 1..24
    int baudRateIndex = kUnset;    // LinkSpeedSetting
    int parity = kUnset;           // Parity
    int dataBits = kUnset;         // 7 or 8
    int stopBits = kUnset;         // StopBits
    int messageKind = kUnset;      // MessageKind; 2 for Modbus Plus cards
    unsigned pollRate = 10;        // 10..1000, kept but not used by the exchange
    unsigned replyTimeoutMs = 5000;
    int nodeId = kUnset; // shown by the editor; the wire uses the route
    int assertRts = kUnset;
    int rtsLeadTime = kUnset;
    int rtsLagTime = kUnset;
    int cardNumber = kUnset; // MBXDeviceNumber
};

} // namespace plcdrv
