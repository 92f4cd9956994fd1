#include "cli_help.h"

#include "cli_options.h"

namespace chronelcli {

namespace {

const QString Program = QStringLiteral("chronel-cli");
constexpr int UsageWidth = 80;
constexpr int CommandOptionColumn = 17;
constexpr int ToolOptionColumn = 19;
constexpr int SummaryColumn = 42;

QString CommandSynopsis(const CommandInfo& info, const CommandDeclaration& declared)
{
    const QStringList items = declared.words.usage();
    return items.isEmpty() ? info.name : info.name + QLatin1Char(' ') + items.join(QLatin1Char(' '));
}

QString Usage(const CommandInfo& info, Command& command, const CommandDeclaration& declared)
{
    QString usage = QStringLiteral("Usage: ") + Program + QLatin1Char(' ');
    if (command.needsModule())
        usage += QStringLiteral("--ip A.B.C.D [options] ");
    return usage + CommandSynopsis(info, declared);
}

} // namespace

QString CommandUsage(const CommandInfo& info)
{
    const std::unique_ptr<Command> command = info.create();
    return Usage(info, *command, command->declaration());
}

QString CommandHelp(const CommandInfo& info)
{
    const std::unique_ptr<Command> command = info.create();
    const CommandDeclaration declared = command->declaration();
    QStringList parts;
    for (const QString& part : {declared.about, declared.words.helpRows(CommandOptionColumn), declared.notes})
        if (!part.isEmpty())
            parts << part;
    return Usage(info, *command, declared) + QStringLiteral("\n\n") + parts.join(QLatin1Char('\n'));
}

QString ToolHelp()
{
    CliOptions scratch;
    const chronel::OptionTable global = GlobalOptions(scratch);
    QString text = chronel::WrapUsage(QStringLiteral("Usage: ") + Program, global.usage(), UsageWidth);
    text += QStringLiteral("\n"
                           "Command-line configurator for the Chronel SER module: every job of the\n"
                           "Chronel window without a window, for scripts, remote shells and batch\n"
                           "commissioning. It runs the window's own sequences, conversions, decoders\n"
                           "and file formats.\n"
                           "\n"
                           "Commands:\n");
    for (const CommandInfo& c : Commands()) {
        const std::unique_ptr<Command> command = c.create();
        const CommandDeclaration declared = command->declaration();
        const QString head = QStringLiteral("  ") + CommandSynopsis(c, declared);
        // A long synopsis keeps its line; the summary goes under it.
        if (head.size() >= SummaryColumn - 2)
            text += head + QLatin1Char('\n') + QString(SummaryColumn, QLatin1Char(' '));
        else
            text += head.leftJustified(SummaryColumn);
        text += declared.summary + QLatin1Char('\n');
    }
    text += QStringLiteral("\nOptions:\n") + global.helpRows(ToolOptionColumn);
    text += QStringLiteral("\n"
                           "Without --tcp or --ini the transport is chosen as in the window: adapter 0\n"
                           "of PLCDRV.INI, section [Adapter.Object.1] (a serial or Modbus Plus adapter\n"
                           "of the driver, or TCP/IP).\n"
                           "\n"
                           "Environment:\n"
                           "  PLCDRV_INI       The adapter configuration file (see the README).\n"
                           "  PLCTAG_TCP_PORT  Modbus TCP port (default 502).\n"
                           "\n"
                           "Exit status:\n"
                           "  0  done\n"
                           "  1  a module sequence failed (the window's message on stderr), for any\n"
                           "     module of a run on several; journal audit --verify: the audit record\n"
                           "     is not as written\n"
                           "  2  bad usage, or a file that cannot be read or written\n"
                           "\n"
                           "See chronel-cli(1).\n");
    return text;
}

chronel::OptionTable HelpWords(const CommandInfo*& about)
{
    about = nullptr;
    QStringList names;
    for (const CommandInfo& c : Commands())
        names << c.name;
    chronel::OptionTable words;
    words.add({.name = QStringLiteral("COMMAND"),
        .completion = chronel::Completion::Words,
        .words = names,
        .optional = true,
        .take = [&about](const QString& name) {
            about = FindCommand(name);
            return about ? QString() : QStringLiteral("unknown command %1").arg(name);
        }});
    words.add({.name = QStringLiteral("--help"),
        .alias = QStringLiteral("-h"),
        .stops = true,
        .inUsage = false,
        .completed = false});
    return words;
}

} // namespace chronelcli
