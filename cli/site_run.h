#pragma once
// A command on many modules: one after another, or up to --jobs at once,
// each module in a session of its own on a thread of its own, so that a
// module that does not answer costs only its own time-outs. Modules that a
// driver adapter reaches share that adapter in turn (one line carries one
// exchange at a time); each module over the control's own Modbus TCP client
// runs by itself. Every module's outcome ends up in one summary table.
#include "exit_status.h"

#include <QString>

#include <functional>
#include <vector>

namespace chronelcli {

class Console;

struct ModuleJob {
    QString address;
    QString name; // from the site file; may be empty
    int adapter = 0;
};

struct ModuleOutcome {
    ModuleJob module;
    bool ran = false; // false: never started (the run was interrupted first)
    ExitStatus status = ExitStatus::ModuleFailed;
    double seconds = 0;
    QString message; // what failed, or the outcome line of a command that has one
};

// The modules that must run one after another, as lists of indexes into
// `modules`: one list per driver adapter that carries modules, one per
// module that `overDriver` says the control reaches itself; in the order the
// lists' first modules are given.
std::vector<std::vector<int>> PlanLanes(
    const std::vector<ModuleJob>& modules, const std::function<bool(const ModuleJob&)>& overDriver);

// Runs one module; `console` is the module's own.
using ModuleRunner = std::function<ExitStatus(const ModuleJob&, Console&)>;

struct SiteRunOptions {
    int jobs = 1;                  // modules at once; 1 runs them in turn on this thread
    bool outcomeIsLastLine = true; // a module's last result line says how it went
};

// Runs `run` for every module and returns the outcomes in the modules'
// order. In turn, a header line names each module before its output; at
// once, each module's lines carry its address and the display shows one
// line per running module (on a terminal) or a line as each starts and
// ends (otherwise).
std::vector<ModuleOutcome> RunModules(const std::vector<ModuleJob>& modules, const std::vector<std::vector<int>>& lanes,
    const SiteRunOptions& options, Console& console, const ModuleRunner& run);

// The summary: a header, then one row per module (address, name when any
// module has one, result, seconds, message).
QStringList SummaryTable(const std::vector<ModuleOutcome>& outcomes);

// The run's exit status: the worst of its modules', a module that never ran
// counting as failed.
ExitStatus OverallStatus(const std::vector<ModuleOutcome>& outcomes);

} // namespace chronelcli
