#include "drvsetup/enabling_rules.h"

#include "drvsetup/adapter_table.h"

namespace drvsetup {

void ApplyCheckBoxRule(ControlStates& s, int deviceType)
{
    if (s.enabledChecked) {
        ApplyDeviceTypeRule(s, deviceType);
        return;
    }
    s.deviceTypeList = false;
    s.deviceTypeListGrey = false;
    s.comPortList = false;
    s.protocolList = false;
    s.linkSpeedList = false;
    s.slaveIdList = false;
}

void ApplyDeviceTypeRule(ControlStates& s, int deviceType)
{
    s.deviceTypeList = true;
    s.deviceTypeListGrey = false;
    s.linkSpeedList = true;
    s.protocolList = true;

    // The "Slave ID" list follows its label: Apply stores its selection, so
    // it must be usable exactly where a slave address means something.
    switch (deviceType) {
    case SerialDevice:
        s.protocolList = true;
        s.comPortList = true;
        s.slaveIdList = true;
        s.selectButton = false;
        s.options = true;
        s.comPortLabel = true;
        s.protocolLabel = true;
        s.linkSpeedLabel = true;
        s.slaveIdLabel = true;
        break;
    case MbxDevice:
        s.protocolList = false;
        s.comPortList = false;
        s.linkSpeedList = false;
        s.slaveIdList = false;
        s.selectButton = true;
        s.options = false;
        s.protocolLabel = false;
        s.linkSpeedLabel = false;
        s.slaveIdLabel = false;
        break;
    case TcpIpDevice:
        s.protocolList = false;
        s.comPortList = false;
        s.linkSpeedList = false;
        s.slaveIdList = false;
        s.selectButton = false;
        s.options = false;
        s.comPortLabel = false;
        s.protocolLabel = false;
        s.linkSpeedLabel = false;
        s.slaveIdLabel = false;
        s.enabledChecked = false;
        ApplyCheckBoxRule(s, deviceType);
        s.deviceTypeList = true;
        s.deviceTypeListGrey = true;
        break;
    default:
        // A type this editor does not know (hand-edited file): only the
        // first step, so the user can pick a valid type.
        break;
    }
}

} // namespace drvsetup
