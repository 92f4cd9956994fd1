#pragma once
// Runs one of the window's transfers (upload or download) on a session until
// it ends, with the progress bar on stderr and the sequence's messages there
// too.
#include "exit_status.h"

#include <optional>

namespace chronelcli {

class Console;
class ModuleSession;

enum class TransferKind { Upload, Download };

// `errorLimit`: the errors the sequence survives, the window's when absent;
// `timeLimitMs` (none when negative) fails a transfer still running then.
ExitStatus RunTransfer(ModuleSession& session, TransferKind kind, std::optional<int> intervalMs, Console& console,
    std::optional<int> errorLimit = std::nullopt, int timeLimitMs = -1);

} // namespace chronelcli
