#pragma once
// The tool's exit status: what a script calling it tests.
namespace chronelcli {

enum class ExitStatus {
    Done = 0,         // every module did what was asked
    ModuleFailed = 1, // a module sequence failed (message on stderr)
    BadUsage = 2,     // bad command line, or a file that cannot be read or written
};

// A batch ends with the worst status of its modules.
constexpr ExitStatus Worse(ExitStatus a, ExitStatus b) { return int(a) >= int(b) ? a : b; }

} // namespace chronelcli
