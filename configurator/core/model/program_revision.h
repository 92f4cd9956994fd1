#pragma once
// The configurator's revision as its window caption and About box show it
// ("1.60"), also its application version. It comes from CHRONEL_PROGRAM_REVISION in
// configurator/CMakeLists.txt and is not the project version, which numbers
// the libraries' sonames and the package.
#include <QString>

namespace chronel {

QString ProgramRevision();

} // namespace chronel
