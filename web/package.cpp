#include "package.h"

#include "journal/clock_state.h"
#include "journal/comtrade_export.h"
#include "journal/journal_format.h"
#include "journal/journal_order.h"
#include "journal/journal_page.h"
#include "journal/journal_query.h"
#include "journal/module_zone.h"
#include "journal_rows.h"
#include "zip_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>

namespace chronel {

namespace {

// CommentCounts takes this many ids at a time: SQLite binds at most 32766
// values in one statement.
constexpr int CountChunk = 1000;

QString Html(const QString& text) { return text.toHtmlEscaped(); }

QString ModuleLabel(const JournalEvent& e)
{
    return e.moduleName.isEmpty() ? e.module : QStringLiteral("%1 (%2)").arg(e.moduleName, e.module);
}

// Characters a folder name of every system takes.
QString FolderName(const QString& text)
{
    QString out = text.left(64);
    for (QChar& c : out)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'.' && c != u'-' && c != u'_')
            c = u'_';
    return out.isEmpty() || out == u"." || out == u".." ? QStringLiteral("module") : out;
}

// A module-time bound of the period in UTC, in the module's zone; none
// where the zone is unknown or the time is in an hour it skips or repeats.
std::optional<QString> UtcBound(const QString& moduleTime, const QString& utcTime, const QString& zone)
{
    if (!utcTime.isEmpty())
        return utcTime;
    if (zone.isEmpty())
        return std::nullopt;
    QString why;
    const std::optional<ModuleZone> parsed = ModuleZone::parse(zone, &why);
    const QDateTime wall = QDateTime::fromString(moduleTime, QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    if (!parsed || !wall.isValid())
        return std::nullopt;
    const ZonedTime utc = parsed->toUtc(QDateTime(wall.date(), wall.time(), Qt::UTC), std::nullopt);
    if (!utc.utc.isValid())
        return std::nullopt;
    return JournalReceivedText(utc.utc);
}

struct ComtradeNote {
    QString module;
    QStringList files; // in the zip
    QString why;       // why there is none
    int changes = 0;
};

struct Contents {
    QList<JournalEvent> rows;
    bool cut = false;
    JournalTimeOrder order = JournalTimeOrder::ModuleTime;
    QSet<qint64> chattering;
    QMap<qint64, QList<Comment>> eventComments; // by row id
    QList<ComtradeNote> comtrade;
};

bool ReadRows(
    const JournalStore& store, const JournalFilter& period, const QStringList& modules, Contents* out, QString* error)
{
    JournalFilter filter = period;
    if (modules.size() == 1)
        filter.module = modules.front();
    const QSet<QString> wanted(modules.begin(), modules.end());
    const bool read = ForEachJournalRow(
        store, filter,
        [&](const JournalEvent& e) {
            if (!wanted.isEmpty() && !wanted.contains(e.module) && !wanted.contains(e.moduleName))
                return true;
            if (out->rows.size() == MaxPackageRows) {
                out->cut = true;
                return false;
            }
            out->rows.push_back(e);
            return true;
        },
        error);
    if (!read)
        return false;
    // The journal ordered the rows of every module of the period; those of
    // the incident's modules may all have UTC times where the others do not.
    out->order = TimeOrderOf(out->rows);
    std::stable_sort(out->rows.begin(), out->rows.end(),
        [order = out->order](const JournalEvent& a, const JournalEvent& b) { return EarlierOnTimeLine(a, b, order); });
    return true;
}

bool ReadNotes(const JournalStore& store, Contents* out, QString* error)
{
    const std::optional<QSet<qint64>> chattering = ChatteringRowsAmong(store, out->rows, error);
    if (!chattering)
        return false;
    out->chattering = *chattering;
    for (qsizetype from = 0; from < out->rows.size(); from += CountChunk) {
        QList<qint64> ids;
        for (qsizetype i = from; i < std::min(out->rows.size(), from + CountChunk); ++i)
            ids.push_back(out->rows[i].id);
        const std::optional<QHash<qint64, int>> counts = CommentCounts(store, ids, error);
        if (!counts)
            return false;
        for (auto it = counts->constBegin(); it != counts->constEnd(); ++it) {
            if (it.value() <= 0)
                continue;
            const std::optional<QList<Comment>> comments = EventComments(store, it.key(), error);
            if (!comments)
                return false;
            out->eventComments.insert(it.key(), *comments);
        }
    }
    return true;
}

std::optional<QByteArray> EventsCsv(const Contents& contents, QString* error)
{
    QByteArray csv;
    QBuffer buffer(&csv);
    buffer.open(QIODevice::WriteOnly);
    JournalWriter writer(&buffer, JournalFormat::Csv);
    if (!writer.begin(error))
        return std::nullopt;
    for (const JournalEvent& e : contents.rows)
        if (!writer.write(e, error, contents.chattering.contains(e.id)))
            return std::nullopt;
    return csv;
}

// One record per module, each in a folder of its own (two modules may share
// a name, which the record's file name is made of).
bool AddComtrade(const JournalStore& store, const JournalFilter& period, Contents* contents, ZipWriter* zip,
    const QDateTime& now, QString* error)
{
    QStringList modules;
    QHash<QString, const JournalEvent*> firstOf;
    QHash<QString, std::pair<QDateTime, QDateTime>> utcSpan;
    QSet<QString> changed;
    for (const JournalEvent& e : contents->rows) {
        if (!firstOf.contains(e.module)) {
            modules.push_back(e.module);
            firstOf.insert(e.module, &e);
        }
        if (e.point > 0 && e.utcTime.isValid() && PointStateOfLine(e.text))
            changed.insert(e.module);
        if (e.utcTime.isValid()) {
            auto& span = utcSpan[e.module];
            if (!span.first.isValid() || e.utcTime < span.first)
                span.first = e.utcTime;
            if (!span.second.isValid() || e.utcTime > span.second)
                span.second = e.utcTime;
        }
    }
    for (const QString& module : modules) {
        const JournalEvent& first = *firstOf.value(module);
        ComtradeNote note;
        note.module = ModuleLabel(first);
        const auto span = utcSpan.constFind(module);
        if (span == utcSpan.constEnd()) {
            note.why = QStringLiteral("none of its rows has a UTC time (its zone is not declared)");
            contents->comtrade.push_back(note);
            continue;
        }
        if (!changed.contains(module)) {
            note.why = QStringLiteral("no point of it changed in the period");
            contents->comtrade.push_back(note);
            continue;
        }
        // The period in UTC; where a bound cannot be put there, the span of
        // the module's rows.
        JournalFilter filter;
        filter.module = module;
        filter.fromUtc = UtcBound(period.from, period.fromUtc, first.zone).value_or(JournalReceivedText(span->first));
        filter.toUtc =
            UtcBound(period.to, period.toUtc, first.zone).value_or(JournalReceivedText(span->second.addMSecs(1)));
        QTemporaryDir dir;
        if (!dir.isValid()) {
            *error = QStringLiteral("no temporary folder for the COMTRADE record: %1").arg(dir.errorString());
            return false;
        }
        ComtradeExport how;
        how.dir = dir.path();
        how.device = first.moduleName.isEmpty() ? module : first.moduleName;
        ComtradeFiles files;
        // A record that cannot be made leaves the package without it, and
        // its summary says why, rather than no package at all.
        if (QString why; !ExportComtrade(store, filter, how, &files, &note.changes, &why)) {
            note.why = QStringLiteral("it could not be made: %1").arg(why);
            contents->comtrade.push_back(note);
            continue;
        }
        for (const QString& path : {files.cfgPath, files.datPath}) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                *error = QStringLiteral("%1: %2").arg(path, file.errorString());
                return false;
            }
            const QString name = QStringLiteral("comtrade/%1/%2").arg(FolderName(module), QFileInfo(path).fileName());
            if (!zip->add(name, file.readAll(), now, error))
                return false;
            note.files.push_back(name);
        }
        contents->comtrade.push_back(note);
    }
    return true;
}

QString TimeCell(const JournalEvent& e)
{
    QString cell = Html(e.moduleTime);
    if (e.utcTime.isValid())
        cell += QStringLiteral("<br><small>%1 UTC</small>").arg(Html(JournalReceivedText(e.utcTime)));
    return cell;
}

QString CommentItems(const QList<Comment>& comments)
{
    QString html;
    for (const Comment& c : comments)
        html += QStringLiteral("<li><b>%1</b>, %2:<div class=\"text\">%3</div></li>\n")
                    .arg(Html(c.author), Html(c.created), Html(c.text));
    return html;
}

QString Summary(
    const Incident& incident, const QList<Comment>& comments, const Contents& contents, const QDateTime& now)
{
    QString html = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        // Whatever a text holds, the page runs nothing and loads nothing.
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
        "<title>Incident %1: %2</title>\n"
        "<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
        "td,th{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}"
        ".text{white-space:pre-wrap}.doubt{color:#a00}</style>\n</head>\n<body>\n")
                       .arg(incident.id)
                       .arg(Html(incident.title));
    html += QStringLiteral("<h1>Incident %1: %2</h1>\n<dl>\n").arg(incident.id).arg(Html(incident.title));
    html += QStringLiteral("<dt>Period</dt><dd>%1 to %2</dd>\n").arg(Html(incident.fromTime), Html(incident.toTime));
    html += QStringLiteral("<dt>Modules</dt><dd>%1</dd>\n")
                .arg(incident.modules.isEmpty() ? QStringLiteral("all modules")
                                                : Html(incident.modules.join(QStringLiteral(", "))));
    html +=
        QStringLiteral("<dt>Recorded</dt><dd>by %1 at %2</dd>\n").arg(Html(incident.author), Html(incident.created));
    if (!incident.comment.isEmpty())
        html += QStringLiteral("<dt>Comment</dt><dd class=\"text\">%1</dd>\n").arg(Html(incident.comment));
    html += QStringLiteral("<dt>Events</dt><dd>%1%2, in %3 order</dd>\n</dl>\n")
                .arg(contents.rows.size())
                .arg(contents.cut ? QStringLiteral(" (cut there: the period holds more)") : QString())
                .arg(contents.order == JournalTimeOrder::Utc ? QStringLiteral("UTC") : QStringLiteral("module-time"));
    if (contents.order == JournalTimeOrder::ModuleTime && !contents.rows.isEmpty())
        html += QStringLiteral("<p>Some rows have no UTC time (their module's zone is not declared), so the rows are "
                               "in module-time order, which across zones is not the order they happened in.</p>\n");

    html += QStringLiteral("<h2>First event</h2>\n");
    if (contents.rows.isEmpty()) {
        html += QStringLiteral("<p>No event in the period.</p>\n");
    } else {
        const JournalEvent& e = contents.rows.front();
        html += QStringLiteral("<p>%1 &mdash; %2: %3</p>\n").arg(TimeCell(e), Html(ModuleLabel(e)), Html(e.text));
    }

    // Each module's clock as its rows found it: a sequence across modules
    // means something only where every clock was synchronised.
    html += QStringLiteral("<h2>Clocks</h2>\n<table>\n<tr><th>Module</th><th>Zone</th><th>Rows</th><th>Clock</th>"
                           "<th>Doubts</th></tr>\n");
    QStringList order;
    QHash<QString, QMap<QString, int>> states;
    QHash<QString, QMap<QString, int>> doubts;
    QHash<QString, QString> zones;
    QHash<QString, int> counts;
    for (const JournalEvent& e : contents.rows) {
        const QString label = ModuleLabel(e);
        if (!counts.contains(label))
            order.push_back(label);
        ++counts[label];
        ++states[label][ClockStateText(e)];
        if (const QString doubt = ClockDoubts(e); !doubt.isEmpty())
            ++doubts[label][doubt];
        if (!e.zone.isEmpty())
            zones.insert(label, e.zone);
    }
    const auto list = [](const QMap<QString, int>& seen) {
        QStringList items;
        for (auto it = seen.constBegin(); it != seen.constEnd(); ++it)
            items << QStringLiteral("%1 (%2)").arg(Html(it.key())).arg(it.value());
        return items.join(QStringLiteral("<br>"));
    };
    for (const QString& label : order)
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td class=\"doubt\">%5</td></tr>\n")
                    .arg(Html(label), Html(zones.value(label, QStringLiteral("not declared"))))
                    .arg(counts.value(label))
                    .arg(list(states.value(label)), list(doubts.value(label)));
    html += QStringLiteral("</table>\n");

    html += QStringLiteral("<h2>Sequence</h2>\n<table>\n<tr><th>Id</th><th>Time</th><th>Module</th><th>Point</th>"
                           "<th>Description</th><th>State</th><th>Event</th><th>Marks</th><th>Clock doubt</th></tr>\n");
    for (qsizetype i = 0; i < std::min<qsizetype>(contents.rows.size(), MaxSummaryRows); ++i) {
        const JournalEvent& e = contents.rows[i];
        QString marks = e.marks;
        if (contents.chattering.contains(e.id))
            marks += marks.isEmpty() ? QStringLiteral("chattering") : QStringLiteral(", chattering");
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                               "<td class=\"text\">%7</td><td>%8</td><td class=\"doubt\">%9</td></tr>\n")
                    .arg(e.id)
                    .arg(TimeCell(e), Html(ModuleLabel(e)), e.point > 0 ? QString::number(e.point) : QString(),
                        Html(e.pointDescription), Html(e.stateText), Html(e.text), Html(marks), Html(ClockDoubts(e)));
    }
    html += QStringLiteral("</table>\n");
    if (contents.rows.size() > MaxSummaryRows)
        html += QStringLiteral("<p>The first %1 of %2 events; events.csv holds them all.</p>\n")
                    .arg(MaxSummaryRows)
                    .arg(contents.rows.size());

    html += QStringLiteral("<h2>Comments</h2>\n");
    if (comments.isEmpty() && contents.eventComments.isEmpty())
        html += QStringLiteral("<p>None.</p>\n");
    if (!comments.isEmpty())
        html += QStringLiteral("<h3>On the incident</h3>\n<ul>\n%1</ul>\n").arg(CommentItems(comments));
    if (!contents.eventComments.isEmpty()) {
        QHash<qint64, const JournalEvent*> rowOf;
        for (const JournalEvent& e : contents.rows)
            rowOf.insert(e.id, &e);
        for (auto it = contents.eventComments.constBegin(); it != contents.eventComments.constEnd(); ++it) {
            const JournalEvent* e = rowOf.value(it.key());
            html += QStringLiteral("<h3>On event %1: %2 %3</h3>\n<ul>\n%4</ul>\n")
                        .arg(it.key())
                        .arg(e ? Html(ModuleLabel(*e)) : QString(), e ? Html(e->text) : QString(),
                            CommentItems(it.value()));
        }
    }

    html += QStringLiteral("<h2>COMTRADE records</h2>\n<ul>\n");
    for (const ComtradeNote& note : contents.comtrade) {
        if (note.files.isEmpty())
            html += QStringLiteral("<li>%1: none, as %2</li>\n").arg(Html(note.module), Html(note.why));
        else
            html += QStringLiteral("<li>%1: %2 (%3 changes)</li>\n")
                        .arg(Html(note.module), Html(note.files.join(QStringLiteral(", "))))
                        .arg(note.changes);
    }
    if (contents.comtrade.isEmpty())
        html += QStringLiteral("<li>None: no event in the period.</li>\n");
    html += QStringLiteral("</ul>\n<p><small>Made by chronel-web at %1.</small></p>\n</body>\n</html>\n")
                .arg(Html(JournalReceivedText(now)));
    return html;
}

} // namespace

QString IncidentPackageName(qint64 id) { return QStringLiteral("incident-%1.zip").arg(id); }

std::optional<QByteArray> IncidentPackage(const JournalStore& store, const Incident& incident,
    const QList<Comment>& comments, const QDateTime& now, QString* error)
{
    JournalFilter period;
    QString why;
    if (!period.setFrom(incident.fromTime, &why) || !period.setTo(incident.toTime, &why)) {
        *error = QStringLiteral("incident %1's period: %2").arg(incident.id).arg(why);
        return std::nullopt;
    }
    Contents contents;
    if (!ReadRows(store, period, incident.modules, &contents, error) || !ReadNotes(store, &contents, error))
        return std::nullopt;
    const std::optional<QByteArray> csv = EventsCsv(contents, error);
    if (!csv)
        return std::nullopt;
    ZipWriter zip;
    if (!zip.add(QStringLiteral("events.csv"), *csv, now, error) ||
        !AddComtrade(store, period, &contents, &zip, now, error) ||
        !zip.add(QStringLiteral("summary.html"), Summary(incident, comments, contents, now).toUtf8(), now, error))
        return std::nullopt;
    return zip.finish();
}

} // namespace chronel
