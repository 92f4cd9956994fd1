#pragma once
// Creates controls by class name, the way a host instantiates the controls
// it embeds: "PLCTAGLib.Plctag" (also the registered "PLCTAG.PlctagCtrl.1").
#include "regaccess/plctag_export.h"

#include <QString>

class QObject;

namespace regaccess {

class ControlSite;
class Plctag;

inline constexpr const char* PlctagClassName = "PLCTAGLib.Plctag";
inline constexpr const char* PlctagProgId = "PLCTAG.PlctagCtrl.1";

// A new control owned by `parent`, or null for a class name this library
// does not provide. Names compare case-insensitively.
PLCTAG_EXPORT Plctag* createControl(const QString& className, QObject* parent = nullptr, ControlSite* site = nullptr);

} // namespace regaccess
