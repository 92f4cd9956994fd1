#include "cli_options.h"

#include "address_list.h"

#include "core/link/channel.h"

#include "journal/module_zone.h"

#include <algorithm>

namespace chronelcli {

namespace {

constexpr int IntervalMin = 1;
constexpr int IntervalMax = 3600000; // an hour between polls is already absurd

// Each module runs in a session of its own and writes files named by its
// address: one address twice would be two sessions on one module.
bool AddModule(CliOptions& o, const SiteModule& module)
{
    if (o.addresses.contains(module.address))
        return false;
    o.addresses << module.address;
    if (!module.name.isEmpty())
        o.names.insert(module.address, module.name);
    if (module.adapter != 0)
        o.adapters.insert(module.address, module.adapter);
    if (!module.zone.isEmpty())
        o.zones.insert(module.address, module.zone);
    return true;
}

QString TakeAddress(CliOptions& o, const QString& value)
{
    if (value.startsWith(QLatin1Char('@'))) {
        const AddressList site = ReadAddressList(value.mid(1));
        if (!site.error.isEmpty())
            return QStringLiteral("--ip %1: %2").arg(value, site.error);
        for (const SiteModule& module : site.modules)
            if (!AddModule(o, module))
                return QStringLiteral("--ip %1: %2 is given twice").arg(value, module.address);
        return {};
    }
    QString wrong;
    const std::optional<SiteModule> module = ParseModuleWord(value, &wrong);
    if (!module)
        return QStringLiteral("--ip %1").arg(wrong);
    if (!AddModule(o, *module))
        return QStringLiteral("--ip %1: given twice").arg(module->address);
    return {};
}

// Milliseconds within low … high into `target`.
chronel::OptionTable::Take Milliseconds(std::optional<int>& target, const QString& name, int low, int high)
{
    return [&target, name, low, high](const QString& value) {
        const auto ms = ParseBoundedInt(value, low, high);
        if (!ms)
            return QStringLiteral("%1 %2: expected milliseconds from %3 to %4").arg(name, value).arg(low).arg(high);
        target = *ms;
        return QString();
    };
}

} // namespace

std::optional<int> ParseBoundedInt(const QString& text, int low, int high)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || text.trimmed() != text || text.startsWith(QLatin1Char('+')) || value < low || value > high)
        return std::nullopt;
    return int(value);
}

QString ZoneOf(const CliOptions& options, const QString& address) { return options.zones.value(address, options.zone); }

int JobCount(const CliOptions& options, bool endless)
{
    const int modules = std::max(1, int(options.addresses.size()));
    return options.jobs ? *options.jobs : std::min(modules, endless ? JobsMax : DefaultJobsLimit);
}

chronel::OptionTable GlobalOptions(CliOptions& o)
{
    using chronel::OptionTable;
    OptionTable table;
    table.add({.name = QStringLiteral("--ip"),
        .valueName = QStringLiteral("A.B.C.D"),
        .help = QStringLiteral("The module's address; required by every command but\n"
                               "load-hex. Given several times, the command runs for each\n"
                               "module, and files it writes get the address inserted\n"
                               "before the extension (site.csv becomes\n"
                               "site.10.0.0.7.csv). \",adapter=N\" after the address: the\n"
                               "module is on logical adapter N (0 ... 7) of PLCDRV.INI;\n"
                               "\",tz=ZONE\": the zone its clock runs on, as for --tz."),
        .extraRows = {{QStringLiteral("--ip @FILE"),
            QStringLiteral("The modules listed in FILE, in its order: one address per\n"
                           "line with an optional name after it (shown beside the\n"
                           "address), # starts a comment. A site is one file. A line\n"
                           "tz=ZONE declares the zone of the modules that declare none.")}},
        .usage = QStringLiteral("--ip A.B.C.D[,adapter=N][,tz=ZONE]|@FILE [--ip ...]"),
        .missing = QStringLiteral("--ip needs an address"),
        .take = [&o](const QString& value) { return TakeAddress(o, value); }});
    table.add({.name = QStringLiteral("--tz"),
        .valueName = QStringLiteral("ZONE"),
        .help = QStringLiteral("The zone the modules' clocks run on, for those whose site\n"
                               "line and file declare none: a zone name (Europe/Berlin),\n"
                               "UTC, or an offset (+05:30). The journal then keeps each\n"
                               "event's UTC time and each module clock's offset from\n"
                               "this computer's; without a zone neither is guessed."),
        .missing = QStringLiteral("--tz needs a zone"),
        .take = [&o](const QString& value) {
            QString error;
            const auto zone = chronel::ModuleZone::parse(value, &error);
            if (!zone)
                return QStringLiteral("--tz ") + error;
            o.zone = zone->text();
            return QString();
        }});
    table.add({.name = QStringLiteral("--jobs"),
        .valueName = QStringLiteral("N"),
        .help = QStringLiteral("Modules worked on at once (1 ... 1024), each in a session\n"
                               "of its own; every module given, up to 64 (all for\n"
                               "collect and an endless events), by default.\n"
                               "Modules on one serial adapter take turns. With several\n"
                               "modules at once each output line starts with the\n"
                               "module's address; --jobs 1 runs them in turn. A summary\n"
                               "table (address, result, seconds, message) ends a run on\n"
                               "several modules."),
        .missing = QStringLiteral("--jobs needs a number of modules"),
        .take = [&o](const QString& value) {
            const auto n = ParseBoundedInt(value, 1, JobsMax);
            if (!n)
                return QStringLiteral("--jobs %1: expected a number from 1 to %2").arg(value).arg(JobsMax);
            o.jobs = *n;
            return QString();
        }});
    table.add({.name = QStringLiteral("--interval"),
        .valueName = QStringLiteral("MS"),
        .help = QStringLiteral("Poll interval of the sequences. Defaults as in the window:\n"
                               "500 ms upload and download, 2000 ms event scan and time\n"
                               "setup, 10 ms flash."),
        .missing = QStringLiteral("--interval needs a number of milliseconds"),
        .take = Milliseconds(o.intervalMs, QStringLiteral("--interval"), IntervalMin, IntervalMax)});
    table.add({.name = QStringLiteral("--timeout"),
        .valueName = QStringLiteral("MS"),
        .help = QStringLiteral("How long a reply may take over Modbus TCP, for modules\n"
                               "behind slow links (VPN, radio, cellular): %1 to %2;\n"
                               "500 ms by default, as in the window. A connection is\n"
                               "given at least 2000 ms, or MS if longer. Serial adapters\n"
                               "keep the LinkTimeOut of PLCDRV.INI.")
                    .arg(chronel::ReplyWindowMinMs)
                    .arg(chronel::ReplyWindowMaxMs),
        .missing = QStringLiteral("--timeout needs a number of milliseconds"),
        .take = Milliseconds(
            o.timeoutMs, QStringLiteral("--timeout"), chronel::ReplyWindowMinMs, chronel::ReplyWindowMaxMs)});
    table.add({.name = QStringLiteral("--trace"),
        .help = QStringLiteral("Every request and reply frame in hex on stderr, with the\n"
                               "time it was seen."),
        .take = OptionTable::flag(o.trace)});
    table.add({.name = QStringLiteral("--tcp"),
        .help = QStringLiteral("Modbus TCP whatever PLCDRV.INI says: a PLCDRV.INI for this\n"
                               "run only, with adapter 0 ([Adapter.Object.1]) a TCP/IP\n"
                               "adapter."),
        .take = OptionTable::flag(o.tcp)});
    table.add({.name = QStringLiteral("--ini"),
        .valueName = QStringLiteral("FILE"),
        .help = QStringLiteral("Read FILE as PLCDRV.INI for this run."),
        .missing = QStringLiteral("--ini needs a file"),
        .completion = chronel::Completion::Files,
        .take = [&o](const QString& value) {
            if (value.isEmpty())
                return QStringLiteral("--ini needs a file");
            o.iniPath = value;
            return QString();
        }});
    table.exclusive(QStringLiteral("--tcp"), QStringLiteral("--ini"));
    table.add({.name = QStringLiteral("--help"),
        .alias = QStringLiteral("-h"),
        .help = QStringLiteral("This text; COMMAND --help describes a command."),
        .stops = true,
        .inUsage = false,
        .take = OptionTable::flag(o.help)});
    // The package's build writes the installed completion with it.
    table.add({.name = QStringLiteral("--bash-completion"),
        .stops = true,
        .inUsage = false,
        .completed = false,
        .take = OptionTable::flag(o.bashCompletion)});
    table.add({.name = QStringLiteral("COMMAND"), .usage = QStringLiteral("COMMAND [ARGS]")});
    return table;
}

ParsedCommandLine ParseCommandLine(const QStringList& args)
{
    ParsedCommandLine parsed;
    CliOptions& o = parsed.options;
    QStringList rest;
    parsed.error = GlobalOptions(o).parse(args, &rest);
    if (!parsed.error.isEmpty() || rest.isEmpty())
        return parsed;
    o.command = rest.takeFirst();
    o.commandArgs = rest;
    return parsed;
}

} // namespace chronelcli
