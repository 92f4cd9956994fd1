#include "cli_completion.h"

#include "cli_help.h"
#include "cli_options.h"
#include "command.h"

#include "core/command_line/bash_completion.h"

#include <vector>

namespace chronelcli {

QString CliBashCompletion()
{
    CliOptions scratch;
    const chronel::OptionTable global = GlobalOptions(scratch);
    // The declarations bind to their commands, which live as long as them.
    std::vector<std::unique_ptr<Command>> commands;
    std::vector<CommandDeclaration> declarations;
    declarations.reserve(std::size_t(Commands().size()));
    for (const CommandInfo& c : Commands()) {
        commands.push_back(c.create());
        declarations.push_back(commands.back()->declaration());
    }
    const CommandInfo* about = nullptr;
    const chronel::OptionTable help = HelpWords(about);

    QList<chronel::CompletedCommand> completed;
    for (qsizetype i = 0; i < Commands().size(); ++i)
        completed.append({Commands()[i].name, &declarations[std::size_t(i)].words});
    completed.append({QStringLiteral("help"), &help});
    return chronel::BashCompletion(QStringLiteral("chronel-cli"), global, completed);
}

} // namespace chronelcli
