// clocks [--journal LOCATION] [--hours H]: each module's clock as the
// collectors last read it, and how it kept time over the last hours, from
// the clock readings the journal keeps.
#include "command.h"
#include "console.h"

#include "journal/clock_state.h"
#include "journal/journal_location.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdlib>

namespace chronelcli {

namespace {

// A collector keeps a reading at least every ten minutes while it reads a
// clock; past twice that, nobody was watching it.
constexpr qint64 WatchedForMs = 2 * 600000;

QString Seconds(qint64 ms) { return QString::number(ms / 1000.0, 'f', ms % 1000 == 0 ? 0 : 1) + QStringLiteral(" s"); }

QString Duration(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min").arg(s / 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

struct ClockSummary {
    QString module;
    QString name;
    QString now;      // source and quality at the last reading
    QString offset;   // at the last reading
    QString worst;    // the largest offset in the period
    QString unsynced; // time not synchronised in the period
    QString lastRead;
};

class ClocksCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Show how each module's clock kept time");
        declared.about = QStringLiteral("For each module the collectors read: its time source and time quality at the\n"
                                        "last read, its offset from the collector's UTC clock then (where its zone is\n"
                                        "declared), the largest offset and the time it was not synchronised in the\n"
                                        "last hours, and when it was last read. Nothing is sent; no --ip is needed.\n");
        chronel::OptionTable& words = declared.words;
        words.add({.name = QStringLiteral("--journal"),
            .valueName = QStringLiteral("LOCATION"),
            .help = QStringLiteral("As for collect."),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(journalText_)});
        words.add({.name = QStringLiteral("--hours"),
            .valueName = QStringLiteral("H"),
            .help = QStringLiteral("The period looked back on, 1 ... 8760 hours; 24 by default."),
            .take = [this](const QString& v) {
                bool ok = false;
                const int hours = v.toInt(&ok);
                if (!ok || hours < 1 || hours > 8760)
                    return QStringLiteral("--hours %1: expected hours from 1 to 8760").arg(v);
                hours_ = hours;
                return QString();
            }});
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
        chronel::JournalStore store;
        if (!store.openReadOnly(*location, &error)) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QDateTime since = now.addSecs(-3600LL * hours_);
        const auto readings = chronel::JournalClockReadings(store, since, &error);
        const auto modules = readings ? chronel::JournalModules(store, &error) : std::nullopt;
        if (!readings || !modules) {
            context.console.error(QStringLiteral("chronel-cli: %1").arg(error));
            return ExitStatus::BadUsage;
        }
        QHash<QString, QString> names;
        for (const chronel::JournalModule& m : *modules)
            names.insert(m.module, m.name);
        std::vector<ClockSummary> rows;
        for (qsizetype i = 0; i < readings->size();) {
            qsizetype end = i;
            while (end < readings->size() && (*readings)[end].module == (*readings)[i].module)
                ++end;
            rows.push_back(summarise(readings->mid(i, end - i), since, now, names));
            i = end;
        }
        // Modules with events whose clock no collector of this journal read.
        for (const chronel::JournalModule& m : *modules)
            if (std::none_of(rows.begin(), rows.end(), [&](const ClockSummary& r) { return r.module == m.module; }))
                rows.push_back({m.module, m.name, QStringLiteral("unknown"), {}, {}, {}, QStringLiteral("never")});
        std::sort(
            rows.begin(), rows.end(), [](const ClockSummary& a, const ClockSummary& b) { return a.module < b.module; });
        print(context.console, rows);
        return ExitStatus::Done;
    }

    ExitStatus runModule(ModuleSession&, const CommandContext& context) override { return runOffline(context); }

private:
    ClockSummary summarise(const QList<chronel::JournalClockReading>& readings, const QDateTime& since,
        const QDateTime& now, const QHash<QString, QString>& names) const
    {
        const chronel::JournalClockReading& last = readings.last();
        ClockSummary s;
        s.module = last.module;
        s.name = names.value(last.module);
        chronel::JournalEvent state;
        state.clockSource = last.source;
        state.clockQuality = last.quality;
        s.now = chronel::ClockStateText(state);
        s.offset = last.offsetMs ? (*last.offsetMs < 0 ? QStringLiteral("-") : QStringLiteral("+")) +
                Seconds(std::abs(qint64(*last.offsetMs)))
                                 : QStringLiteral("(no zone)");
        std::optional<qint64> worst;
        qint64 unsynced = 0;
        for (qsizetype i = 0; i < readings.size(); ++i) {
            const chronel::JournalClockReading& r = readings[i];
            if (r.offsetMs && (!worst || std::abs(qint64(*r.offsetMs)) > *worst))
                worst = std::abs(qint64(*r.offsetMs));
            if (chronel::ClockSynchronised(r.source))
                continue;
            // Until the next reading, or for as long as a collector was
            // watching after the last one.
            const QDateTime from = std::max(r.at, since);
            const QDateTime until =
                i + 1 < readings.size() ? readings[i + 1].at : std::min(now, r.at.addMSecs(WatchedForMs));
            unsynced += std::max<qint64>(0, from.msecsTo(until));
        }
        s.worst = worst ? Seconds(*worst) : QStringLiteral("-");
        s.unsynced = Duration(unsynced);
        s.lastRead = last.at.toString(Qt::ISODate);
        if (last.at.msecsTo(now) > WatchedForMs)
            s.lastRead += QStringLiteral(" (not read since)");
        return s;
    }

    void print(Console& console, const std::vector<ClockSummary>& rows) const
    {
        const QString period = QStringLiteral("(%1 h)").arg(hours_);
        QList<QStringList> table{{QStringLiteral("Module"), QStringLiteral("Name"), QStringLiteral("Clock"),
            QStringLiteral("Offset"), QStringLiteral("Worst offset ") + period,
            QStringLiteral("Not synchronised ") + period, QStringLiteral("Last read")}};
        for (const ClockSummary& r : rows)
            table << QStringList{r.module, r.name, r.now, r.offset, r.worst, r.unsynced, r.lastRead};
        QList<int> widths(table.front().size(), 0);
        for (const QStringList& row : table)
            for (int c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], int(row[c].size()));
        for (const QStringList& row : table) {
            QString line;
            for (int c = 0; c < row.size(); ++c)
                line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
            console.line(line.trimmed());
        }
    }

    QString journalText_;
    int hours_ = 24;
};

} // namespace

std::unique_ptr<Command> CreateClocksCommand() { return std::make_unique<ClocksCommand>(); }

} // namespace chronelcli
