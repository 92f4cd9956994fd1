// journal [--journal LOCATION] [--from T] [--to T] [--module M] [--point P]
//         [--grep TEXT] [--format text|csv|jsonl]: the site journal, merged
// and in time order (UTC where every row has a UTC time, else module time),
// on stdout, the changes of chattering points marked; --chatter: the
// episodes of chatter instead of the rows; --format comtrade --out DIR: the
// period's point changes as a COMTRADE record in DIR.
//
// journal audit [--verify] [--journal LOCATION]: the web view's audit
// record, a line per row; --verify recomputes its hash chain and names the
// first row not as written, with exit status 1 when one is not.
#include "cli_options.h"
#include "command.h"
#include "console.h"

#include "journal/comtrade_export.h"
#include "journal/journal_audit.h"
#include "journal/journal_chatter.h"
#include "journal/journal_format.h"
#include "journal/journal_location.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"
#include "platform/printable_text.h"

#include <QFile>

#include <cmath>

#include <cstdio>

namespace chronelcli {

namespace {

class JournalCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Print the site journal in time order");
        declared.about =
            QStringLiteral("Prints the journal's events of every module merged, in UTC order when every\n"
                           "event has a UTC time (its module's zone is declared), otherwise in module-time\n"
                           "order, then by module. Nothing is sent; no --ip is needed.\n");
        chronel::OptionTable& words = declared.words;
        words.add({.name = QStringLiteral("VIEW"),
            .extraRows = {{QStringLiteral("audit"),
                QStringLiteral("Instead of the events, the web view's audit record: a line\n"
                               "per row (id, time in UTC, who, address, action, before\n"
                               "-> after).")}},
            .usage = QStringLiteral("[audit [--verify]]"),
            .completion = chronel::Completion::Words,
            .words = {QStringLiteral("audit")},
            .optional = true,
            .take = [this](const QString& word) {
                if (word != u"audit")
                    return QStringLiteral("unexpected %1 (journal takes audit, or options alone)").arg(word);
                audit_ = true;
                return QString();
            }});
        words.add({.name = QStringLiteral("--verify"),
            .help = QStringLiteral("With audit: recompute the audit record's hash chain and\n"
                                   "say whether every row is as written, else name the first\n"
                                   "that is not (changed, deleted) and why; exit status 1 then."),
            .inUsage = false,
            .take = chronel::OptionTable::flag(verify_)});
        words.check([this] {
            if (verify_ && !audit_)
                return QStringLiteral("--verify checks the audit record: journal audit --verify");
            if (audit_ && !eventOptions_.isEmpty())
                return QStringLiteral("%1 is for the events; journal audit takes --journal and --verify alone")
                    .arg(eventOptions_.first());
            return QString();
        });
        words.add({.name = QStringLiteral("--journal"),
            .valueName = QStringLiteral("LOCATION"),
            .help = QStringLiteral("As for collect."),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(journalText_)});
        words.add(eventOption({.name = QStringLiteral("--from"),
            .valueName = QStringLiteral("T"),
            .help = QStringLiteral("Module times from T up to (not including) T: a date\n"
                                   "yyyy-MM-dd, optionally with \" HH:mm\", \":ss\", \".zzz\"; a\n"
                                   "--to date alone takes in that whole day. With Z or an\n"
                                   "offset after the time (2026-10-25T00:30Z, ...+02:00),\n"
                                   "UTC times: only events of modules whose zone is declared."),
            .helpHead = QStringLiteral("--from T, --to T"),
            .take = [this](const QString& v) {
                QString error;
                return filter_.setFrom(v, &error) ? QString() : QStringLiteral("--from %1").arg(error);
            }}));
        words.add(eventOption({.name = QStringLiteral("--to"),
            .valueName = QStringLiteral("T"), // in --from's row
            .take = [this](const QString& v) {
                QString error;
                return filter_.setTo(v, &error) ? QString() : QStringLiteral("--to %1").arg(error);
            }}));
        words.add(eventOption({.name = QStringLiteral("--module"),
            .valueName = QStringLiteral("M"),
            .help = QStringLiteral("The module with address or name M."),
            .take = chronel::OptionTable::keep(filter_.module)}));
        words.add(eventOption({.name = QStringLiteral("--point"),
            .valueName = QStringLiteral("P"),
            .help = QStringLiteral("Events of point P (1 ... 32; 0: events without a point)."),
            .take = [this](const QString& v) {
                const auto point = ParseBoundedInt(v, 0, 32);
                if (!point)
                    return QStringLiteral("--point %1: expected a point number 1 ... 32 (0: events without one)")
                        .arg(v);
                filter_.point = *point;
                return QString();
            }}));
        words.add(eventOption({.name = QStringLiteral("--grep"),
            .valueName = QStringLiteral("TEXT"),
            .help = QStringLiteral("Events whose text holds TEXT, in any case."),
            .take = chronel::OptionTable::keep(filter_.grep)}));
        words.add(eventOption({.name = QStringLiteral("--chatter"),
            .help = QStringLiteral("Instead of the events, the episodes of chatter among them\n"
                                   "(module, point, start, end, changes) and the modules' own\n"
                                   "Chatter On Scan and Chatter Off Scan reports, in time order.\n"
                                   "Every change of an episode is marked \"chattering\" in the\n"
                                   "events' output."),
            .take = chronel::OptionTable::flag(listChatter_)}));
        words.add(eventOption({.name = QStringLiteral("--chatter-changes"),
            .valueName = QStringLiteral("N"),
            .help = QStringLiteral("An input point that changes more than N times within\n"
                                   "--chatter-seconds chatters; 10 by default."),
            .take = [this](const QString& v) {
                const auto changes = ParseBoundedInt(v, 1, 1000000);
                if (!changes)
                    return QStringLiteral("--chatter-changes %1: expected a number of changes 1 ... 1000000").arg(v);
                chatterLimits_.changes = *changes;
                return QString();
            }}));
        words.add(eventOption({.name = QStringLiteral("--chatter-seconds"),
            .valueName = QStringLiteral("T"),
            .help = QStringLiteral("The time those changes fall within, in seconds; 1 by\n"
                                   "default."),
            .take = [this](const QString& v) {
                bool ok = false;
                const double seconds = v.toDouble(&ok);
                if (!ok || !(seconds >= 0.001 && seconds <= 86400))
                    return QStringLiteral("--chatter-seconds %1: expected seconds from 0.001 to 86400").arg(v);
                chatterLimits_.windowMs = std::llround(seconds * 1000);
                return QString();
            }}));
        words.add(eventOption({.name = QStringLiteral("--max-offset"),
            .valueName = QStringLiteral("S"),
            .help = QStringLiteral("Events of a module whose clock was further than S seconds\n"
                                   "from the collector's when they were read are marked\n"
                                   "(\"clock off by ...\"), as are those of a clock not\n"
                                   "synchronised or of poor or bad quality; 2 by default."),
            .take = [this](const QString& v) {
                bool ok = false;
                const double seconds = v.toDouble(&ok);
                if (!ok || !(seconds >= 0 && seconds <= 86400))
                    return QStringLiteral("--max-offset %1: expected seconds from 0 to 86400").arg(v);
                maxOffsetMs_ = int(std::lround(seconds * 1000));
                return QString();
            }}));
        // The names chronel::ParseJournalFormat takes.
        words.add(eventOption({.name = QStringLiteral("--format"),
            .valueName = QStringLiteral("F"),
            .help = QStringLiteral("text (one line per event, module name first), csv (header\n"
                                   "module,name,module_time,point,state,text,quality,received)\n"
                                   "or jsonl (one JSON object per event, every field); comtrade:\n"
                                   "the period's point changes as a COMTRADE record (IEEE\n"
                                   "C37.111-2013, a .cfg and a .dat named as C37.232 says) in\n"
                                   "the folder --out names, the period in UTC."),
            .completion = chronel::Completion::Words,
            .words = {QStringLiteral("text"), QStringLiteral("csv"), QStringLiteral("jsonl"),
                QStringLiteral("comtrade")},
            .take = [this](const QString& v) {
                comtrade_ = v == u"comtrade";
                if (comtrade_)
                    return QString();
                QString error;
                const auto format = chronel::ParseJournalFormat(v, &error);
                if (!format)
                    return QStringLiteral("--format %1").arg(error);
                format_ = *format;
                return QString();
            }}));
        words.add(eventOption({.name = QStringLiteral("--out"),
            .valueName = QStringLiteral("DIR"),
            .help = QStringLiteral("The folder of a COMTRADE record."),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(comtradeExport_.dir)}));
        words.add(eventOption({.name = QStringLiteral("--comtrade-format"),
            .valueName = QStringLiteral("F"),
            .help = QStringLiteral("ascii (the default) or binary: how the .dat holds samples."),
            .completion = chronel::Completion::Words,
            .words = {QStringLiteral("ascii"), QStringLiteral("binary")},
            .take = [this](const QString& v) {
                if (v != u"ascii" && v != u"binary")
                    return QStringLiteral("--comtrade-format %1: expected ascii or binary").arg(v);
                comtradeExport_.format =
                    v == u"binary" ? chronel::ComtradeFormat::Binary : chronel::ComtradeFormat::Ascii;
                return QString();
            }}));
        words.add(eventOption({.name = QStringLiteral("--station"),
            .valueName = QStringLiteral("NAME"),
            .help = QStringLiteral("The station a COMTRADE record names; this computer's name\n"
                                   "by default. Its device is the module --module names, else\n"
                                   "\"site journal\"."),
            .take = chronel::OptionTable::keep(comtradeExport_.station)}));
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
            context.console.error(
                QStringLiteral("chronel-cli: %1: no journal there (collect writes one)").arg(location->displayName()));
            return ExitStatus::BadUsage;
        }
        // Read-only: printing never migrates or writes the journal, so a user
        // who may only read the collector's journal can print it.
        chronel::JournalStore store;
        if (!store.openReadOnly(*location, &error)) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        if (audit_)
            return verify_ ? verifyAudit(store, context) : listAudit(store, context);
        if (comtrade_) {
            if (listChatter_) {
                context.console.error(
                    QStringLiteral("chronel-cli: --chatter lists episodes as text, csv or jsonl, not comtrade"));
                return ExitStatus::BadUsage;
            }
            return writeComtrade(store, context);
        }
        if (listChatter_ && !filter_.grep.isEmpty()) {
            context.console.error(QStringLiteral("chronel-cli: --chatter counts every change of a point, so it takes "
                                                 "no --grep (--module and --point choose the points)"));
            return ExitStatus::BadUsage;
        }
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            context.console.error(QStringLiteral("chronel-cli: standard output: %1").arg(out.errorString()));
            return ExitStatus::BadUsage;
        }
        const std::optional<chronel::JournalTimeline> timeline = chronel::JournalTimelineOf(store, filter_, &error);
        const std::optional<chronel::JournalChatter> chatter =
            timeline ? chronel::ReadJournalChatter(store, filter_, *timeline, chatterLimits_, &error) : std::nullopt;
        if (!chatter) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        if (timeline->order == chronel::JournalTimeOrder::ModuleTime && timeline->rowsWithoutUtc < timeline->rows)
            context.console.error(QStringLiteral("chronel-cli: %1 of the %2 events (%3) have no UTC time, so all are "
                                                 "in module-time order, which across zones or a clock change is not "
                                                 "the order they happened in")
                                      .arg(timeline->rowsWithoutUtc)
                                      .arg(timeline->rows)
                                      .arg(timeline->modulesWithoutUtc.join(QStringLiteral(", "))));
        QString writeError;
        bool ok = true;
        if (listChatter_) {
            const QString heading = QStringLiteral("%1 Chatter: more than %2 changes of a point within %3 s.")
                                        .arg(TimelineText(*timeline), QString::number(chatterLimits_.changes),
                                            QString::number(double(chatterLimits_.windowMs) / 1000));
            ok = chronel::WriteChatterList(&out, format_, heading, chronel::ChatterList(*chatter), &writeError);
        } else {
            chronel::JournalWriter writer(&out, format_);
            writer.setMaxClockOffsetMs(maxOffsetMs_);
            writer.setHeading(TimelineText(*timeline));
            ok = writer.begin(&writeError);
            ok = ok &&
                chronel::ForEachJournalRow(
                    store, filter_,
                    [&](const chronel::JournalEvent& e) {
                        return writer.write(e, &writeError, chatter->chattering(e));
                    },
                    &error, &*timeline);
        }
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
    // Marks an option of the events' own, which the audit does not take.
    chronel::OptionTable::Option eventOption(chronel::OptionTable::Option option)
    {
        option.take = [this, name = option.name, take = std::move(option.take)](const QString& value) {
            eventOptions_ << name;
            return take(value);
        };
        return option;
    }

    ExitStatus listAudit(const chronel::JournalStore& store, const CommandContext& context)
    {
        QString error;
        const auto rows = chronel::AuditRows(store, &error);
        if (!rows) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        if (rows->isEmpty())
            context.console.line(QStringLiteral("The audit record is empty."));
        // Stored texts are data: a control character in one is shown, not
        // obeyed, and a line stays one line.
        const auto shown = [](const QString& text) {
            return text.isEmpty() ? QStringLiteral("-") : platform::PrintableText(text);
        };
        for (const chronel::AuditEntry& row : *rows)
            context.console.line(QStringLiteral("%1  %2  %3  %4  %5: \"%6\" -> \"%7\"")
                                     .arg(QString::number(row.id),
                                         row.at.isValid() ? chronel::JournalReceivedText(row.at) : QStringLiteral("?"),
                                         shown(row.who), shown(row.address), shown(row.actionText),
                                         platform::PrintableText(row.before), platform::PrintableText(row.after)));
        return ExitStatus::Done;
    }

    ExitStatus verifyAudit(const chronel::JournalStore& store, const CommandContext& context)
    {
        QString error;
        const auto verdict = chronel::VerifyAudit(store, &error);
        if (!verdict) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        const QString name = store.location().displayName();
        if (verdict->sound) {
            context.console.line(
                QStringLiteral("The audit record of %1 is as written: %2, each hash and link checked.")
                    .arg(name,
                        verdict->rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(verdict->rows)));
            return ExitStatus::Done;
        }
        context.console.error(
            QStringLiteral("chronel-cli: the audit record of %1 is not as written: %2%3")
                .arg(name, verdict->why,
                    verdict->firstBadId ? QStringLiteral(" (first row not as written: %1)").arg(*verdict->firstBadId)
                                        : QString()));
        return ExitStatus::ModuleFailed;
    }

    ExitStatus writeComtrade(const chronel::JournalStore& store, const CommandContext& context)
    {
        if (comtradeExport_.dir.isEmpty()) {
            context.console.error(
                QStringLiteral("chronel-cli: --format comtrade needs --out DIR, the record's folder"));
            return ExitStatus::BadUsage;
        }
        if (!chronel::HasUtcPeriod(filter_)) {
            context.console.error(QStringLiteral(
                "chronel-cli: COMTRADE record: a COMTRADE record holds UTC times: give --from and --to with Z or an "
                "offset (2026-10-25T00:30Z), for modules whose zone is declared"));
            return ExitStatus::BadUsage;
        }
        chronel::ComtradeFiles files;
        int changes = 0;
        QString error;
        if (!chronel::ExportComtrade(store, filter_, comtradeExport_, &files, &changes, &error)) {
            context.console.error(QStringLiteral("chronel-cli: COMTRADE record: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        context.console.line(
            QStringLiteral("Wrote %1 and %2: %3 changes").arg(files.cfgPath, files.datPath).arg(changes));
        return ExitStatus::Done;
    }

    // The text output's heading: which times its lines show and their order.
    static QString TimelineText(const chronel::JournalTimeline& timeline)
    {
        if (timeline.rows == 0)
            return QStringLiteral("No events selected.");
        const QString zones = timeline.zones.isEmpty()
            ? QStringLiteral("no zone declared")
            : QStringLiteral("zone%1 %2").arg(timeline.zones.size() > 1 ? "s" : "", timeline.zones.join(u", "));
        if (timeline.order == chronel::JournalTimeOrder::Utc)
            return QStringLiteral("Module times (%1); events in UTC order.").arg(zones);
        if (timeline.zones.isEmpty())
            return QStringLiteral("Module times (%1); events in module-time order.").arg(zones);
        return QStringLiteral("Module times (%1); events in module-time order, as %2 of them (%3) have no UTC time.")
            .arg(zones, QString::number(timeline.rowsWithoutUtc), timeline.modulesWithoutUtc.join(u", "));
    }

    QString journalText_;
    bool audit_ = false;
    bool verify_ = false;
    QStringList eventOptions_; // given, of those the audit does not take
    bool comtrade_ = false;
    bool listChatter_ = false;
    chronel::ChatterLimits chatterLimits_;
    chronel::ComtradeExport comtradeExport_;
    chronel::JournalFilter filter_;
    chronel::JournalFormat format_ = chronel::JournalFormat::Text;
    int maxOffsetMs_ = chronel::DefaultMaxClockOffsetMs;
};

} // namespace

std::unique_ptr<Command> CreateJournalCommand() { return std::make_unique<JournalCommand>(); }

} // namespace chronelcli
