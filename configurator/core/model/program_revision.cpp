#include "program_revision.h"

#ifndef CHRONEL_PROGRAM_REVISION
#error "CHRONEL_PROGRAM_REVISION is set in configurator/CMakeLists.txt"
#endif

namespace chronel {

QString ProgramRevision() { return QStringLiteral(CHRONEL_PROGRAM_REVISION); }

} // namespace chronel
