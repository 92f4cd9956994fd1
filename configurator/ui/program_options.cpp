#include "program_options.h"

#include "core/fields/module_address.h"
#include "core/link/channel.h"

#include <QCommandLineParser>

namespace chronel {

OptionTable ProgramOptionTable(ProgramOptions& o)
{
    OptionTable table;
    const QString ipError = QStringLiteral("--ip needs an address of four numbers 0 … 255, as 127.0.0.1");
    table.add({.name = QStringLiteral("--ip"),
        .valueName = QStringLiteral("A.B.C.D"),
        .help = QStringLiteral("Module IP address."),
        .missing = ipError,
        .take = [&o, ipError](const QString& value) {
            o.ip = ParseIpv4Address(value);
            return o.ip ? QString() : ipError;
        }});
    table.add({.name = QStringLiteral("--settings"),
        .valueName = QStringLiteral("FILE"),
        .help = QStringLiteral("Settings file to open; the module address stays that of --ip (or the factory address), "
                               "and a file that holds another one asks whether to take it."),
        .completion = Completion::Files,
        .take = OptionTable::keep(o.settings)});
    const QString timeoutError =
        QStringLiteral("--timeout needs milliseconds from %1 to %2").arg(ReplyWindowMinMs).arg(ReplyWindowMaxMs);
    table.add({.name = QStringLiteral("--timeout"),
        .valueName = QStringLiteral("MS"),
        .help = QStringLiteral("How long a module's reply may take over Modbus TCP, for slow links (VPN, radio, "
                               "cellular): %1 to %2 ms; 500 otherwise. A connection is given at least 2000 ms, or MS "
                               "if longer.")
                    .arg(ReplyWindowMinMs)
                    .arg(ReplyWindowMaxMs),
        .missing = timeoutError,
        .take = [&o, timeoutError](const QString& value) {
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || value.trimmed() != value || ms < ReplyWindowMinMs || ms > ReplyWindowMaxMs)
                return timeoutError;
            o.timeoutMs = ms;
            return QString();
        }});
    table.add({.name = QStringLiteral("--screenshots"),
        .valueName = QStringLiteral("DIR"),
        .help = QStringLiteral("Save a picture of each tab into DIR, then exit."),
        .completion = Completion::Directories,
        .take = OptionTable::keep(o.screenshots)});
    table.add({.name = QStringLiteral("--help"),
        .alias = QStringLiteral("-h"),
        .stops = true,
        .inUsage = false,
        .take = OptionTable::flag(o.help)});
    table.add(
        {.name = QStringLiteral("--help-all"), .stops = true, .inUsage = false, .take = OptionTable::flag(o.helpAll)});
    table.add({.name = QStringLiteral("--bash-completion"),
        .stops = true,
        .inUsage = false,
        .completed = false,
        .take = OptionTable::flag(o.bashCompletion)});
    return table;
}

void DescribeProgram(QCommandLineParser& parser, const OptionTable& table)
{
    parser.setApplicationDescription(QStringLiteral("Chronel SER configurator"));
    parser.addHelpOption();
    for (const OptionTable::Option& o : table.options()) {
        if (o.stops || o.isOperand())
            continue;
        QStringList names{o.name.mid(2)};
        if (!o.alias.isEmpty())
            names << o.alias.mid(1);
        parser.addOption({names, o.help, o.valueName});
    }
}

} // namespace chronel
