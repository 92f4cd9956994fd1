#pragma once
// The program's name as its windows and messages show it.
#include <QString>

namespace drvsetup {

inline QString programTitle() { return QStringLiteral("DRVSETUP"); }
inline QString programVersion() { return QStringLiteral(DRVSETUP_VERSION); }

} // namespace drvsetup
