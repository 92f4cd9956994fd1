#pragma once
// A command of the tool: it declares its help, options and operands once
// (the parser, the help and the bash completion read that declaration),
// checks its files once before any module is contacted, then runs for each
// module of the batch (or once, offline, for a command that needs no
// module). runModule() may run for several modules at once on different
// threads, each with its own session and console: what it changes stays
// local to the call.
#include "exit_status.h"

#include "core/command_line/option_table.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace chronelcli {

class Console;
class ModuleSession;

struct CommandContext {
    Console& console;
    std::optional<int> intervalMs; // --interval; the window's rates when absent
    int moduleCount = 1;
    QString name; // the module's name from the site file, when it has one
    QString zone; // the zone its clock runs on, when one is declared
};

// What a command says about itself, once: the tool's help, the command's
// help and the shell completion are written from it, and its options and
// operands read the command's words.
struct CommandDeclaration {
    QString summary;            // one line in the tool's help
    QString about;              // the command's help before its options
    chronel::OptionTable words; // options and operands, bound to the command
    QString notes;              // the command's help after its options
};

class Command {
public:
    virtual ~Command() = default;

    // The declaration, its words bound to this object; -h and --help are
    // every command's.
    CommandDeclaration declaration();
    // Reads the command's own words into this object: an error text for bad
    // usage, else empty.
    QString parseArguments(const QStringList& args);
    // The words asked for the command's help; nothing else was checked.
    bool helpAsked() const { return helpAsked_; }

    // A command that works offline runs once through runOffline().
    virtual bool needsModule() const { return true; }
    // Files read or written, checked before any module is contacted.
    virtual ExitStatus check(const CommandContext&) { return ExitStatus::Done; }
    virtual ExitStatus runOffline(const CommandContext&) { return ExitStatus::Done; }
    virtual ExitStatus runModule(ModuleSession& session, const CommandContext& context) = 0;
    // Whether the last result line of a module that succeeded says how it
    // went ("Saved …"), for the run's summary.
    virtual bool lastLineIsOutcome() const { return true; }
    // Whether the command runs until Ctrl-C: every module must then run at
    // once, since a module left waiting for a free job would never start.
    virtual bool runsUntilInterrupted() const { return false; }
    // Whether every module must run at once for another reason: the command
    // watches its modules for a time, and a module left waiting would go
    // unwatched while the others run.
    virtual bool watchesModules() const { return false; }

protected:
    virtual void describe(CommandDeclaration& declared) = 0;

private:
    bool helpAsked_ = false;
};

struct CommandInfo {
    QString name;
    std::function<std::unique_ptr<Command>()> create;
};

// Every command, in the order the help lists them.
const QList<CommandInfo>& Commands();
const CommandInfo* FindCommand(const QString& name);

// The factories, one per command file.
std::unique_ptr<Command> CreateUploadCommand();
std::unique_ptr<Command> CreateDownloadCommand();
std::unique_ptr<Command> CreateEventsCommand();
std::unique_ptr<Command> CreateStatusCommand();
std::unique_ptr<Command> CreateSetTimeCommand();
std::unique_ptr<Command> CreateStatsCommand();
std::unique_ptr<Command> CreateTestModeCommand();
std::unique_ptr<Command> CreateLoadHexCommand();
std::unique_ptr<Command> CreateFlashCommand();
std::unique_ptr<Command> CreateCollectCommand();
std::unique_ptr<Command> CreateJournalCommand();
std::unique_ptr<Command> CreateClocksCommand();

} // namespace chronelcli
