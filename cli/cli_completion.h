#pragma once
// chronel-cli's bash completion: the global options, every command with its
// options and operands, and "help COMMAND", from their declarations. The
// package installs what --bash-completion prints.
#include <QString>

namespace chronelcli {

QString CliBashCompletion();

} // namespace chronelcli
