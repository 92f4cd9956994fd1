// collect [--journal LOCATION] [--seconds S]: every module's events into the
// site journal, exactly once.
#include "command.h"
#include "console.h"
#include "journal_link.h"
#include "module_collector.h"
#include "module_session.h"

#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <cmath>

namespace chronelcli {

namespace {

class CollectCommand : public Command {
public:
    QString parseArguments(const QStringList& args) override
    {
        for (int i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            const auto value = [&]() -> std::optional<QString> {
                if (i + 1 >= args.size())
                    return std::nullopt;
                return args[++i];
            };
            if (a == QLatin1String("--journal")) {
                const auto v = value();
                if (!v)
                    return QStringLiteral("--journal needs a file or a postgresql:// URL");
                journalText_ = *v;
            } else if (a == QLatin1String("--seconds")) {
                const auto v = value();
                bool ok = false;
                const double s = v ? v->toDouble(&ok) : 0;
                if (!ok || !std::isfinite(s) || s <= 0 || s > 1e7)
                    return QStringLiteral("--seconds needs a number of seconds above 0");
                seconds_ = s;
            } else {
                return QStringLiteral("unexpected %1").arg(a);
            }
        }
        return {};
    }

    bool lastLineIsOutcome() const override { return true; }
    bool runsUntilInterrupted() const override { return !seconds_; }
    bool watchesModules() const override { return true; }

    // The journal is opened (created, or its schema brought up to date) once
    // before any module is asked, so a journal that cannot be written stops
    // the run at once.
    ExitStatus check(const CommandContext& context) override
    {
        QString error;
        const std::optional<chronel::JournalLocation> location = chronel::ParseJournalLocation(journalText_, &error);
        if (!location) {
            context.console.error(QStringLiteral("chronel-cli: --journal %1").arg(error));
            return ExitStatus::BadUsage;
        }
        chronel::JournalStore store;
        if (!store.open(*location, &error)) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        store.close();
        // One connection for every module of the run.
        link_ = std::make_unique<JournalLink>(*location);
        context.console.error(QStringLiteral("chronel-cli: collecting into %1").arg(location->displayName()));
        return ExitStatus::Done;
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        ModuleCollector collector(session, *link_, context.console, context.name, context.intervalMs);
        return collector.run(seconds_ ? int(std::lround(*seconds_ * 1000)) : -1);
    }

private:
    QString journalText_;
    std::optional<double> seconds_;
    std::unique_ptr<JournalLink> link_;
};

} // namespace

std::unique_ptr<Command> CreateCollectCommand() { return std::make_unique<CollectCommand>(); }

} // namespace chronelcli
