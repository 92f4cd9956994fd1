#pragma once
// Which controls of the adapter editor a user may operate, as a plain state
// changed by the two rules the window applies: the "&Enabled" check box rule
// and the device type rule. The rules change only what they name and leave
// the rest as it was, so the result depends on the order in which the window
// applies them (showing an adapter: device type rule, then check box rule).
namespace drvsetup {

struct ControlStates {
    bool enabledChecked = false; // the "&Enabled" check box
    bool deviceTypeList = true;
    bool deviceTypeListGrey = false; // painted grey although usable (TCP/IP)
    bool comPortList = true;
    bool protocolList = true;
    bool linkSpeedList = true;
    bool slaveIdList = true;
    bool selectButton = true; // "Select..." with its "MBXDevices" frame
    bool options = true;      // Parity, DataBits and StopBits frames with their options
    bool comPortLabel = true;
    bool protocolLabel = true;
    bool linkSpeedLabel = true;
    bool slaveIdLabel = true;

    friend bool operator==(const ControlStates&, const ControlStates&) = default;
};

// The check box rule for the current `enabledChecked`: unchecked disables
// the five lists, checked applies the device type rule for `deviceType`.
void ApplyCheckBoxRule(ControlStates& states, int deviceType);

// The device type rule for the type chosen in the "DeviceType" list (0
// serial, 1 MBX driver, 2 TCP/IP). TCP/IP clears `enabledChecked` and applies
// the unchecked rule, yet leaves the device type list usable (grey), since
// such an adapter is served without the driver and is stored disabled.
void ApplyDeviceTypeRule(ControlStates& states, int deviceType);

} // namespace drvsetup
