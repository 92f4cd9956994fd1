#pragma once
// The tool's --help text and each command's.
#include "command.h"

#include <QString>

namespace chronelcli {

QString ToolHelp();
QString CommandHelp(const CommandInfo& command);
// The usage line of a command, for error messages.
QString CommandUsage(const CommandInfo& command);

} // namespace chronelcli
