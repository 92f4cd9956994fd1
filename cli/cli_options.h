#pragma once
// The command line: global options, the command and the command's own words.
//
//   chronel-cli --ip A.B.C.D[,adapter=N]|@FILE [--ip …] [--jobs N] [--interval MS]
//               [--timeout MS] [--trace] [--tcp | --ini FILE] COMMAND [ARGS]
//
// Global options may stand before or after the command. The command's own
// options and operands are left to the command.
#include "core/command_line/option_table.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace chronelcli {

struct CliOptions {
    QStringList addresses;         // --ip, in the order given (a file's in its order)
    QHash<QString, QString> names; // address -> name, for modules a file names
    QHash<QString, int> adapters;  // address -> logical adapter, for modules not on adapter 0
    QHash<QString, QString> zones; // address -> declared zone, for modules that declare one
    QString zone;                  // --tz: the zone of the modules that declare none
    std::optional<int> jobs;       // --jobs
    std::optional<int> intervalMs; // --interval
    std::optional<int> timeoutMs;  // --timeout: the reply window of a slow link
    bool trace = false;            // --trace
    bool tcp = false;              // --tcp
    QString iniPath;               // --ini
    bool help = false;             // --help / -h (before the command: the tool's help)
    bool bashCompletion = false;   // --bash-completion: the completion script, for the package
    QString command;               // first word that is not an option
    QStringList commandArgs;       // everything after the command but global options
};

struct ParsedCommandLine {
    CliOptions options;
    QString error; // empty when the line is good
};

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const QStringList& args);

// The global options, bound to `options`: the parser, the tool's help and
// the completion read them.
chronel::OptionTable GlobalOptions(CliOptions& options);

constexpr int DefaultJobsLimit = 64; // --jobs when not given: every module, up to this many
constexpr int JobsMax = 1024;

// How many modules run at once: --jobs, else every module up to the limit;
// a command that runs until it is stopped (a collector, an endless scan)
// takes every module up to JobsMax, since a module left waiting would never
// start.
int JobCount(const CliOptions& options, bool endless = false);

// The zone of a module's clock: its own declaration (site line or file),
// else --tz; empty when neither declares one.
QString ZoneOf(const CliOptions& options, const QString& address);

// A whole decimal number within low … high.
std::optional<int> ParseBoundedInt(const QString& text, int low, int high);

} // namespace chronelcli
