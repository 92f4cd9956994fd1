#include "cli_options.h"

#include "address_list.h"

#include "core/link/channel.h"

#include <algorithm>

namespace chronelcli {

namespace {

constexpr int IntervalMin = 1;
constexpr int IntervalMax = 3600000; // an hour between polls is already absurd

// "--name=value" or "--name value": the value, consuming the next word when
// needed; nothing when it is missing.
std::optional<QString> OptionValue(const QString& name, const QStringList& args, int& i)
{
    const QString& word = args[i];
    if (word.startsWith(name + QLatin1Char('=')))
        return word.mid(name.size() + 1);
    if (i + 1 >= args.size())
        return std::nullopt;
    return args[++i];
}

bool IsNamed(const QString& word, const QString& name)
{
    return word == name || word.startsWith(name + QLatin1Char('='));
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

int JobCount(const CliOptions& options, bool endless)
{
    const int modules = std::max(1, int(options.addresses.size()));
    return options.jobs ? *options.jobs : std::min(modules, endless ? JobsMax : DefaultJobsLimit);
}

ParsedCommandLine ParseCommandLine(const QStringList& args)
{
    ParsedCommandLine parsed;
    CliOptions& o = parsed.options;
    const auto fail = [&parsed](const QString& text) {
        parsed.error = text;
        return parsed;
    };

    // Each module runs in a session of its own and writes files named by its
    // address: one address twice would be two sessions on one module.
    const auto add = [&o](const SiteModule& module) {
        if (o.addresses.contains(module.address))
            return false;
        o.addresses << module.address;
        if (!module.name.isEmpty())
            o.names.insert(module.address, module.name);
        if (module.adapter != 0)
            o.adapters.insert(module.address, module.adapter);
        return true;
    };

    bool operandsOnly = false; // after "--" every word belongs to the command
    for (int i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        if (operandsOnly) {
            if (o.command.isEmpty())
                o.command = word;
            else
                o.commandArgs << word;
            continue;
        }
        if (word == QLatin1String("--")) {
            operandsOnly = true;
            continue;
        }
        if (IsNamed(word, QStringLiteral("--ip"))) {
            const auto value = OptionValue(QStringLiteral("--ip"), args, i);
            if (!value)
                return fail(QStringLiteral("--ip needs an address"));
            if (value->startsWith(QLatin1Char('@'))) {
                const AddressList site = ReadAddressList(value->mid(1));
                if (!site.error.isEmpty())
                    return fail(QStringLiteral("--ip %1: %2").arg(*value, site.error));
                for (const SiteModule& module : site.modules) {
                    if (!add(module))
                        return fail(QStringLiteral("--ip %1: %2 is given twice").arg(*value, module.address));
                }
                continue;
            }
            QString wrong;
            const std::optional<SiteModule> module = ParseModuleWord(*value, &wrong);
            if (!module)
                return fail(QStringLiteral("--ip %1").arg(wrong));
            if (!add(*module))
                return fail(QStringLiteral("--ip %1: given twice").arg(module->address));
        } else if (IsNamed(word, QStringLiteral("--jobs"))) {
            const auto value = OptionValue(QStringLiteral("--jobs"), args, i);
            if (!value)
                return fail(QStringLiteral("--jobs needs a number of modules"));
            const auto n = ParseBoundedInt(*value, 1, JobsMax);
            if (!n)
                return fail(QStringLiteral("--jobs %1: expected a number from 1 to %2").arg(*value).arg(JobsMax));
            o.jobs = *n;
        } else if (IsNamed(word, QStringLiteral("--interval"))) {
            const auto value = OptionValue(QStringLiteral("--interval"), args, i);
            if (!value)
                return fail(QStringLiteral("--interval needs a number of milliseconds"));
            const auto ms = ParseBoundedInt(*value, IntervalMin, IntervalMax);
            if (!ms)
                return fail(QStringLiteral("--interval %1: expected milliseconds from %2 to %3")
                                .arg(*value)
                                .arg(IntervalMin)
                                .arg(IntervalMax));
            o.intervalMs = *ms;
        } else if (IsNamed(word, QStringLiteral("--timeout"))) {
            const auto value = OptionValue(QStringLiteral("--timeout"), args, i);
            if (!value)
                return fail(QStringLiteral("--timeout needs a number of milliseconds"));
            const auto ms = ParseBoundedInt(*value, chronel::ReplyWindowMinMs, chronel::ReplyWindowMaxMs);
            if (!ms)
                return fail(QStringLiteral("--timeout %1: expected milliseconds from %2 to %3")
                                .arg(*value)
                                .arg(chronel::ReplyWindowMinMs)
                                .arg(chronel::ReplyWindowMaxMs));
            o.timeoutMs = *ms;
        } else if (IsNamed(word, QStringLiteral("--ini"))) {
            const auto value = OptionValue(QStringLiteral("--ini"), args, i);
            if (!value || value->isEmpty())
                return fail(QStringLiteral("--ini needs a file"));
            o.iniPath = *value;
        } else if (word == QLatin1String("--trace")) {
            o.trace = true;
        } else if (word == QLatin1String("--tcp")) {
            o.tcp = true;
        } else if (o.command.isEmpty() && (word == QLatin1String("--help") || word == QLatin1String("-h"))) {
            o.help = true;
        } else if (o.command.isEmpty() && word.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option %1").arg(word));
        } else if (o.command.isEmpty()) {
            o.command = word;
        } else {
            o.commandArgs << word;
        }
    }
    if (o.tcp && !o.iniPath.isEmpty())
        return fail(QStringLiteral("--tcp and --ini exclude each other"));
    return parsed;
}

} // namespace chronelcli
