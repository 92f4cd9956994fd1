#pragma once
// "Select...": choosing the Modbus Plus card of an adapter through mpbridge.
#include <QString>

#include <optional>

namespace drvsetup {

struct CardChoice {
    QString name;
    int number = 0;
};

// Asks mpbridge whether the MBX driver can be used ("MBX Drivers Not
// Available" otherwise) and lets the user pick a device in its dialog. A
// choice comes back only when the name is not blank and the number is 0 or
// more; a cancelled dialog gives nothing.
std::optional<CardChoice> SelectCard();

} // namespace drvsetup
