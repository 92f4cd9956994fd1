// journal [--journal LOCATION] [--from T] [--to T] [--module M] [--point P]
//         [--grep TEXT] [--format text|csv|jsonl]: the site journal, merged
// and in module-time order, on stdout.
#include "cli_options.h"
#include "command.h"
#include "console.h"

#include "journal/journal_format.h"
#include "journal/journal_location.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QFile>

#include <cstdio>

namespace chronelcli {

namespace {

class JournalCommand : public Command {
public:
    QString parseArguments(const QStringList& args) override
    {
        for (int i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            if (i + 1 >= args.size() || !a.startsWith(QLatin1String("--")))
                return a.startsWith(QLatin1String("--")) ? QStringLiteral("%1 needs a value").arg(a)
                                                         : QStringLiteral("unexpected %1").arg(a);
            const QString v = args[++i];
            QString error;
            if (a == QLatin1String("--journal")) {
                journalText_ = v;
            } else if (a == QLatin1String("--from")) {
                if (!filter_.setFrom(v, &error))
                    return QStringLiteral("--from %1").arg(error);
            } else if (a == QLatin1String("--to")) {
                if (!filter_.setTo(v, &error))
                    return QStringLiteral("--to %1").arg(error);
            } else if (a == QLatin1String("--module")) {
                filter_.module = v;
            } else if (a == QLatin1String("--point")) {
                const auto point = ParseBoundedInt(v, 0, 32);
                if (!point)
                    return QStringLiteral("--point %1: expected a point number 1 ... 32 (0: events without one)").arg(v);
                filter_.point = *point;
            } else if (a == QLatin1String("--grep")) {
                filter_.grep = v;
            } else if (a == QLatin1String("--format")) {
                const auto format = chronel::ParseJournalFormat(v, &error);
                if (!format)
                    return QStringLiteral("--format %1").arg(error);
                format_ = *format;
            } else {
                return QStringLiteral("unknown option %1").arg(a);
            }
        }
        return {};
    }

    bool needsModule() const override { return false; }

    ExitStatus runOffline(const CommandContext& context) override
    {
        QString error;
        const std::optional<chronel::JournalLocation> location = chronel::ParseJournalLocation(journalText_, &error);
        if (!location) {
            context.console.error(QStringLiteral("chronel-cli: --journal %1").arg(error));
            return ExitStatus::BadUsage;
        }
        if (location->dialect == chronel::JournalDialect::Sqlite && !QFile::exists(location->path)) {
            context.console.error(QStringLiteral("chronel-cli: %1: no journal there (collect writes one)")
                                      .arg(location->displayName()));
            return ExitStatus::BadUsage;
        }
        // Read-only: printing never migrates or writes the journal, so a user
        // who may only read the collector's journal can print it.
        chronel::JournalStore store;
        if (!store.openReadOnly(*location, &error)) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            context.console.error(QStringLiteral("chronel-cli: standard output: %1").arg(out.errorString()));
            return ExitStatus::BadUsage;
        }
        chronel::JournalWriter writer(&out, format_);
        QString writeError;
        bool ok = writer.begin(&writeError);
        ok = ok &&
            chronel::ForEachJournalRow(
                store, filter_, [&](const chronel::JournalEvent& e) { return writer.write(e, &writeError); }, &error);
        out.flush();
        if (!writeError.isEmpty()) {
            context.console.error(QStringLiteral("chronel-cli: standard output: %1").arg(writeError));
            return ExitStatus::BadUsage;
        }
        if (!ok) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        return ExitStatus::Done;
    }

    ExitStatus runModule(ModuleSession&, const CommandContext& context) override { return runOffline(context); }

private:
    QString journalText_;
    chronel::JournalFilter filter_;
    chronel::JournalFormat format_ = chronel::JournalFormat::Text;
};

} // namespace

std::unique_ptr<Command> CreateJournalCommand() { return std::make_unique<JournalCommand>(); }

} // namespace chronelcli
