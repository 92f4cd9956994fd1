#include "cli_help.h"

namespace chronelcli {

namespace {

const char* const ToolUsage = "Usage: chronel-cli --ip A.B.C.D[,adapter=N]|@FILE [--ip ...] [--jobs N]\n"
                              "                   [--interval MS] [--timeout MS] [--trace] [--tcp | --ini FILE]\n"
                              "                   COMMAND [ARGS]\n";

} // namespace

QString CommandUsage(const CommandInfo& command)
{
    QString usage = QStringLiteral("Usage: chronel-cli ");
    if (command.name != QLatin1String("load-hex") && command.name != QLatin1String("journal"))
        usage += QStringLiteral("--ip A.B.C.D [options] ");
    usage += command.name;
    if (!command.synopsis.isEmpty())
        usage += QLatin1Char(' ') + command.synopsis;
    return usage;
}

QString CommandHelp(const CommandInfo& command)
{
    return CommandUsage(command) + QStringLiteral("\n\n") + command.help;
}

QString ToolHelp()
{
    QString text = QString::fromLatin1(ToolUsage);
    text += QStringLiteral("\n"
                           "Command-line configurator for the Chronel SER module: every job of the\n"
                           "Chronel window without a window, for scripts, remote shells and batch\n"
                           "commissioning. It runs the window's own sequences, conversions, decoders\n"
                           "and file formats.\n"
                           "\n"
                           "Commands:\n");
    for (const CommandInfo& c : Commands()) {
        const QString head = QStringLiteral("  ") + c.name + QLatin1Char(' ') + c.synopsis;
        if (head.size() >= 40)
            text += head + QLatin1Char('\n') + QString(42, QLatin1Char(' ')) + c.summary + QLatin1Char('\n');
        else
            text += head.leftJustified(42) + c.summary + QLatin1Char('\n');
    }
    text += QStringLiteral("\n"
                           "Options:\n"
                           "  --ip A.B.C.D     The module's address; required by every command but\n"
                           "                   load-hex. Given several times, the command runs for each\n"
                           "                   module, and files it writes get the address inserted\n"
                           "                   before the extension (site.csv becomes\n"
                           "                   site.10.0.0.7.csv). \",adapter=N\" after the address: the\n"
                           "                   module is on logical adapter N (0 ... 7) of PLCDRV.INI.\n"
                           "  --ip @FILE       The modules listed in FILE, in its order: one address per\n"
                           "                   line with an optional name after it (shown beside the\n"
                           "                   address), # starts a comment. A site is one file.\n"
                           "  --jobs N         Modules worked on at once (1 ... 256), each in a session\n"
                           "                   of its own; every module given, up to 64 (all for\n"
                           "                   collect and an endless events), by default.\n"
                           "                   Modules on one serial adapter take turns. With several\n"
                           "                   modules at once each output line starts with the\n"
                           "                   module's address; --jobs 1 runs them in turn. A summary\n"
                           "                   table (address, result, seconds, message) ends a run on\n"
                           "                   several modules.\n"
                           "  --interval MS    Poll interval of the sequences. Defaults as in the window:\n"
                           "                   500 ms upload and download, 2000 ms event scan and time\n"
                           "                   setup, 10 ms flash.\n"
                           "  --timeout MS     How long a reply may take over Modbus TCP, for modules\n"
                           "                   behind slow links (VPN, radio, cellular): 100 to 32627;\n"
                           "                   500 ms by default, as in the window. A connection is\n"
                           "                   given at least 2000 ms, or MS if longer. Serial adapters\n"
                           "                   keep the LinkTimeOut of PLCDRV.INI.\n"
                           "  --trace          Every request and reply frame in hex on stderr, with the\n"
                           "                   time it was seen.\n"
                           "  --tcp            Modbus TCP whatever PLCDRV.INI says: a PLCDRV.INI for this\n"
                           "                   run only, with adapter 0 ([Adapter.Object.1]) a TCP/IP\n"
                           "                   adapter.\n"
                           "  --ini FILE       Read FILE as PLCDRV.INI for this run.\n"
                           "  -h, --help       This text; COMMAND --help describes a command.\n"
                           "\n"
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
                           "     module of a run on several\n"
                           "  2  bad usage, or a file that cannot be read or written\n"
                           "\n"
                           "See chronel-cli(1).\n");
    return text;
}

} // namespace chronelcli
