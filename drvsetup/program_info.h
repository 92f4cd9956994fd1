#pragma once
// The program's name as its windows and messages show it.
#include <QString>

namespace drvsetup {

inline QString ProgramTitle() { return QStringLiteral("DRVSETUP"); }
inline QString ProgramVersion() { return QStringLiteral(DRVSETUP_VERSION); }

} // namespace drvsetup
