#include "module_settings.h"

namespace chronel {

void ModuleSettings::chooseTcpipSpeed(TcpipSpeed speed)
{
    ConfigTcpipSpeed = speed;
    if (speed == TcpipSpeed::AutoNegotiate)
        ConfigTcpipEthernetCommEnabled = false;
    else if (speed == TcpipSpeed::Mbps10 || speed == TcpipSpeed::Mbps100)
        ConfigTcpipEthernetCommEnabled = true;
}

std::span<const TextFieldBinding> TextFields()
{
    static const TextFieldBinding fields[] = {
        {"txtConfigPlcId", &ModuleSettings::ConfigPlcId},
        {"txtConfigModbusAddress", &ModuleSettings::ConfigModbusAddress},
        {"txtConfigVersion", &ModuleSettings::ConfigVersion},
        {"txtConfigModuleName", &ModuleSettings::ConfigModuleName},
        {"txtConfigEventDelay", &ModuleSettings::ConfigEventDelay},
        {"txtConfigTcpipMac", &ModuleSettings::ConfigTcpipMac},
        {"txtConfigModbus232Delay", &ModuleSettings::ConfigModbus232Delay},
        {"txtConfigModbus485Delay", &ModuleSettings::ConfigModbus485Delay},
        {"txtTsToGpsOffset", &ModuleSettings::TsToGpsOffset},
        {"txtTsToIrigOffset", &ModuleSettings::TsToIrigOffset},
        {"txtTsDstStartMonth", &ModuleSettings::TsDstStartMonth},
        {"txtTsDstStartDay", &ModuleSettings::TsDstStartDay},
        {"txtTsDstStartHour", &ModuleSettings::TsDstStartHour},
        {"txtTsDstStopMonth", &ModuleSettings::TsDstStopMonth},
        {"txtTsDstStopDay", &ModuleSettings::TsDstStopDay},
        {"txtTsDstStopHour", &ModuleSettings::TsDstStopHour},
    };
    return fields;
}

std::span<const CheckBinding> CheckBoxes()
{
    static const CheckBinding boxes[] = {
        {"chkConfigLock", &ModuleSettings::ConfigLock},
        {"chkConfigSyncMaster", &ModuleSettings::ConfigSyncMaster},
        {"chkConfigHourTimeUpdate", &ModuleSettings::ConfigHourTimeUpdate},
        {"chkTsIeee1344", &ModuleSettings::TsIeee1344},
    };
    return boxes;
}

std::span<const ListBinding> Lists()
{
    static const ListBinding lists[] = {
        {"cmbConfigModbus232Baud", &ModuleSettings::ConfigModbus232Baud},
        {"cmbConfigModbus232Parity", &ModuleSettings::ConfigModbus232Parity},
        {"cmbConfigModbus232Protocol", &ModuleSettings::ConfigModbus232Protocol},
        {"cmbConfigModbus485Baud", &ModuleSettings::ConfigModbus485Baud},
        {"cmbConfigModbus485Parity", &ModuleSettings::ConfigModbus485Parity},
        {"cmbConfigModbus485Protocol", &ModuleSettings::ConfigModbus485Protocol},
        {"cmbTsDstLocation", &ModuleSettings::TsDstLocation},
    };
    return lists;
}

QString* TextField(ModuleSettings& settings, QStringView control)
{
    for (const TextFieldBinding& f : TextFields()) {
        if (control == QLatin1String(f.control))
            return &(settings.*f.member);
    }
    const std::pair<const char*, OctetFields ModuleSettings::*> octets[] = {
        {"txtConfigTcpipIp", &ModuleSettings::ConfigTcpipIp},
        {"txtConfigTcpipSubnet", &ModuleSettings::ConfigTcpipSubnet},
        {"txtConfigTcpipGateway", &ModuleSettings::ConfigTcpipGateway},
    };
    for (const auto& [prefix, member] : octets) {
        const QLatin1String name(prefix);
        if (control.size() == name.size() + 1 && control.startsWith(name)) {
            const int n = control.back().unicode() - u'1';
            if (n >= 0 && n < 4)
                return &(settings.*member)[std::size_t(n)];
        }
    }
    return nullptr;
}

} // namespace chronel
