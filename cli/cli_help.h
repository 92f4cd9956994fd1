#pragma once
// The tool's --help text and each command's, written from the declarations
// of the global options (cli_options.h) and of each command (command.h).
#include "command.h"

#include <QString>

namespace chronelcli {

QString ToolHelp();
QString CommandHelp(const CommandInfo& command);
// The usage line of a command, for error messages.
QString CommandUsage(const CommandInfo& command);

// "help [COMMAND]": the words after "help", bound to `about` (the command
// asked about; nullptr: the tool).
chronel::OptionTable HelpWords(const CommandInfo*& about);

} // namespace chronelcli
