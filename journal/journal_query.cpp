#include "journal_query.h"

#include "journal_columns.h"
#include "journal_error.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

namespace chronel {

namespace {

constexpr int PageRows = 2000;

// Every column of the table, in its order; for one that a journal of an
// earlier version, read as it is, lacks, what that version gives instead.
QString Columns(const JournalStore& store)
{
    QStringList columns;
    for (const JournalColumn& column : JournalColumns) {
        columns << (store.schemaVersion() >= column.since
                ? QString::fromLatin1(column.name)
                : QStringLiteral("%1 AS %2").arg(column.absent(), QLatin1StringView(column.name)));
    }
    return columns.join(QStringLiteral(", "));
}

// Column `name` in an expression: what a journal of an earlier version, read
// as it is, gives instead where it lacks it.
QString ColumnOr(const JournalStore& store, const char* name)
{
    for (const JournalColumn& column : JournalColumns)
        if (qstrcmp(column.name, name) == 0)
            return store.schemaVersion() >= column.since ? QString::fromLatin1(name) : column.absent();
    return QString::fromLatin1(name);
}

// What a WHERE clause needs: its conditions and the values they bind.
struct Conditions {
    QStringList terms;
    QVariantList values;

    void add(const QString& term, const QVariantList& bound)
    {
        terms << term;
        values << bound;
    }
    QString where() const { return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(u" AND "); }
};

Conditions FilterConditions(const JournalFilter& filter)
{
    Conditions conditions;
    if (!filter.from.isEmpty())
        conditions.add(QStringLiteral("module_time >= ?"), {filter.from});
    if (!filter.to.isEmpty())
        conditions.add(QStringLiteral("module_time < ?"), {filter.to});
    if (!filter.fromUtc.isEmpty())
        conditions.add(QStringLiteral("utc_time >= ?"), {filter.fromUtc});
    if (!filter.toUtc.isEmpty())
        conditions.add(QStringLiteral("utc_time <> '' AND utc_time < ?"), {filter.toUtc});
    if (!filter.module.isEmpty())
        conditions.add(QStringLiteral("(module = ? OR module_name = ?)"), {filter.module, filter.module});
    if (!filter.modules.isEmpty()) {
        QStringList marks(filter.modules.size(), QStringLiteral("?"));
        const QString list = marks.join(u',');
        QVariantList names;
        for (const QString& module : filter.modules)
            names << module;
        conditions.add(QStringLiteral("(module IN (%1) OR module_name IN (%1))").arg(list), names + names);
    }
    if (filter.point)
        conditions.add(QStringLiteral("point = ?"), {*filter.point});
    if (filter.pointRows)
        conditions.add(QStringLiteral("point > 0"), {});
    if (!filter.grep.isEmpty()) {
        QString pattern = filter.grep.toLower();
        pattern.replace(u'\\', QStringLiteral("\\\\"))
            .replace(u'%', QStringLiteral("\\%"))
            .replace(u'_', QStringLiteral("\\_"));
        const QVariant like = u'%' + pattern + u'%';
        conditions.add(
            QStringLiteral("(lower(text) LIKE ? ESCAPE '\\' OR lower(point_description) LIKE ? ESCAPE '\\'"
                           " OR lower(state_text) LIKE ? ESCAPE '\\' OR lower(module_name) LIKE ? ESCAPE '\\')"),
            {like, like, like, like});
    }
    return conditions;
}

// A row of a SELECT of Columns().
JournalEvent RowOf(const QSqlQuery& query)
{
    JournalEvent event;
    int at = 0;
    for (const JournalColumn& column : JournalColumns)
        column.load(&event, query.value(at++));
    return event;
}

bool Run(QSqlQuery& query, const QString& sql, const QVariantList& values, const JournalStore& store, QString* error)
{
    query.setForwardOnly(true);
    if (query.prepare(sql)) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    *error = QStringLiteral("journal %1: cannot read: %2")
                 .arg(store.location().displayName(), JournalErrorText(query.lastError(), store.dialect()));
    return false;
}

bool CheckOpen(const JournalStore& store, QString* error)
{
    if (store.isOpen())
        return true;
    *error = QStringLiteral("journal %1: not open").arg(store.location().displayName());
    return false;
}

// The bound of a period from a user's text; `end` moves a date alone to the
// next day's start.
bool BoundOf(const QString& text, bool end, QString* bound, QString* utcBound, QString* error)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d)(?:[T ](\\d\\d:\\d\\d)(?::(\\d\\d)(?:\\.(\\d{1,3}))?)?"
                       "(Z|[+-]\\d\\d(?::?\\d\\d)?)?)?$"));
    const auto match = form.match(text.trimmed());
    const QDate date = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
    if (!date.isValid()) {
        *error = QStringLiteral("\"%1\" is not a module time (yyyy-MM-dd, then HH:mm, :ss, .zzz if wanted)").arg(text);
        return false;
    }
    if (match.captured(2).isEmpty()) {
        utcBound->clear();
        *bound = JournalTimeText(QDateTime(end ? date.addDays(1) : date, QTime(0, 0)));
        return true;
    }
    const QString hhmmss =
        match.captured(2) + u':' + (match.captured(3).isEmpty() ? QStringLiteral("00") : match.captured(3));
    const QString ms = match.captured(4).leftJustified(3, u'0');
    const QTime time = QTime::fromString(hhmmss + u'.' + ms, QStringLiteral("HH:mm:ss.zzz"));
    if (!time.isValid()) {
        *error = QStringLiteral("\"%1\" is not a time of day").arg(text);
        return false;
    }
    if (const QString zone = match.captured(5); !zone.isEmpty()) {
        // An offset of ISO 8601 (Z, ±hh, ±hhmm, ±hh:mm) of at most a day.
        const int sign = zone.startsWith(u'-') ? -1 : 1;
        const QString digits = zone == u"Z" ? QString() : zone.mid(1).remove(u':');
        const int hours = digits.left(2).toInt();
        const int minutes = digits.size() > 2 ? digits.mid(2).toInt() : 0;
        if (hours > 23 || minutes > 59) {
            *error = QStringLiteral("\"%1\" has no offset from UTC that can be").arg(text);
            return false;
        }
        const QDateTime at(date, time, QTimeZone(sign * (hours * 3600 + minutes * 60)));
        bound->clear();
        *utcBound = JournalReceivedText(at.toUTC());
        return true;
    }
    utcBound->clear();
    *bound = JournalTimeText(QDateTime(date, time));
    return true;
}

} // namespace

bool JournalFilter::setFrom(const QString& text, QString* error)
{
    return BoundOf(text, false, &from, &fromUtc, error);
}

bool JournalFilter::setTo(const QString& text, QString* error) { return BoundOf(text, true, &to, &toUtc, error); }

std::optional<JournalTimeline> JournalTimelineOf(const JournalStore& store, const JournalFilter& filter, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    const Conditions conditions = FilterConditions(filter);
    const QString utc = ColumnOr(store, "utc_time");
    const QString zone = ColumnOr(store, "zone");
    // PostgreSQL groups by no constant, which a journal without zones has.
    const QString groups = zone == u"zone" ? QStringLiteral("module, zone") : QStringLiteral("module");
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("SELECT module, max(module_name), %2, count(*), sum(CASE WHEN %1 = '' THEN 1 ELSE 0 END),"
                       " min(CASE WHEN module_time = '' THEN NULL ELSE module_time END), max(module_time),"
                       " min(CASE WHEN %1 = '' THEN NULL ELSE %1 END), max(%1)"
                       " FROM journal_events%3 GROUP BY %4")
            .arg(utc, zone, conditions.where(), groups);
    if (!Run(query, sql, conditions.values, store, error))
        return std::nullopt;
    JournalTimeline timeline;
    const auto earliest = [](QString& kept, const QString& seen) {
        if (!seen.isEmpty() && (kept.isEmpty() || seen < kept))
            kept = seen;
    };
    const auto latest = [](QString& kept, const QString& seen) {
        if (!seen.isEmpty() && seen > kept)
            kept = seen;
    };
    while (query.next()) {
        const QString module = query.value(0).toString();
        const QString name = query.value(1).toString();
        const QString zone = query.value(2).toString();
        const qint64 withoutUtc = query.value(4).toLongLong();
        timeline.rows += query.value(3).toLongLong();
        timeline.rowsWithoutUtc += withoutUtc;
        if (withoutUtc > 0 && !timeline.modulesWithoutUtc.contains(name.isEmpty() ? module : name))
            timeline.modulesWithoutUtc << (name.isEmpty() ? module : name);
        if (!zone.isEmpty() && !timeline.zones.contains(zone))
            timeline.zones << zone;
        earliest(timeline.firstModuleTime, query.value(5).toString());
        latest(timeline.lastModuleTime, query.value(6).toString());
        earliest(timeline.firstUtc, query.value(7).toString());
        latest(timeline.lastUtc, query.value(8).toString());
    }
    timeline.modulesWithoutUtc.sort();
    timeline.zones.sort();
    // An empty selection has no time line; module-time order reads any
    // journal, one without UTC times too.
    timeline.order =
        timeline.rows > 0 && timeline.rowsWithoutUtc == 0 ? JournalTimeOrder::Utc : JournalTimeOrder::ModuleTime;
    return timeline;
}

bool ForEachJournalRow(const JournalStore& store, const JournalFilter& filter,
    const std::function<bool(const JournalEvent&)>& sink, QString* error, const JournalTimeline* timeline)
{
    if (!CheckOpen(store, error))
        return false;
    std::optional<JournalTimeline> found;
    if (!timeline) {
        found = JournalTimelineOf(store, filter, error);
        if (!found)
            return false;
        timeline = &*found;
    }
    const bool utc = timeline->order == JournalTimeOrder::Utc;
    const QString key = utc ? QStringLiteral("utc_time") : QStringLiteral("module_time");
    Conditions selected = FilterConditions(filter);
    if (utc) {
        // The span lets the index of UTC times serve a period given in
        // module times; the rows in it are the same.
        selected.add(QStringLiteral("utc_time <> ''"), {});
        if (!timeline->firstUtc.isEmpty())
            selected.add(QStringLiteral("utc_time >= ? AND utc_time <= ?"), {timeline->firstUtc, timeline->lastUtc});
    }
    // Pages by key (time, module, id) rather than one long statement: memory
    // stays flat on either driver and no read holds the journal open. The
    // key is the stored text, whatever it holds.
    std::optional<JournalEvent> last;
    QString lastKey;
    const int keyAt = int(std::size(JournalColumns));
    for (;;) {
        Conditions conditions = selected;
        if (last) {
            conditions.add(QStringLiteral("%1 >= ? AND (%1 > ? OR module > ? OR (module = ? AND id > ?))").arg(key),
                {lastKey, lastKey, last->module, last->module, last->id});
        }
        QSqlQuery query(store.database());
        const QString sql = QStringLiteral("SELECT %1, %2 FROM journal_events%3 ORDER BY %2, module, id LIMIT %4")
                                .arg(Columns(store), key, conditions.where())
                                .arg(PageRows);
        if (!Run(query, sql, conditions.values, store, error))
            return false;
        int rows = 0;
        while (query.next()) {
            ++rows;
            last = RowOf(query);
            lastKey = query.value(keyAt).toString();
            if (!sink(*last))
                return true;
        }
        if (rows < PageRows)
            return true;
    }
}

std::optional<QList<JournalEvent>> JournalRows(
    const JournalStore& store, const JournalFilter& filter, QString* error, int limit)
{
    QList<JournalEvent> rows;
    const bool ok = ForEachJournalRow(
        store, filter,
        [&](const JournalEvent& event) {
            rows << event;
            return limit < 0 || rows.size() < limit;
        },
        error);
    if (!ok)
        return std::nullopt;
    return rows;
}

std::optional<QList<JournalEvent>> JournalRowsAfter(
    const JournalStore& store, qint64 id, const JournalFilter& filter, int limit, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    Conditions conditions = FilterConditions(filter);
    conditions.add(QStringLiteral("id > ?"), {id});
    QSqlQuery query(store.database());
    const QString sql = QStringLiteral("SELECT %1 FROM journal_events%2 ORDER BY id LIMIT %3")
                            .arg(Columns(store), conditions.where())
                            .arg(qMax(limit, 0));
    if (!Run(query, sql, conditions.values, store, error))
        return std::nullopt;
    QList<JournalEvent> rows;
    while (query.next())
        rows << RowOf(query);
    return rows;
}

std::optional<QList<JournalModule>> JournalModules(const JournalStore& store, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    // Each step finds the next address in the unique index, so the few
    // modules cost a few index probes, not a scan of every row.
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("WITH RECURSIVE m(module) AS ("
                       " SELECT min(module) FROM journal_events"
                       " UNION ALL"
                       " SELECT (SELECT min(module) FROM journal_events e WHERE e.module > m.module) FROM m"
                       " WHERE m.module IS NOT NULL)"
                       " SELECT module, (SELECT module_name FROM journal_events e WHERE e.module = m.module"
                       " ORDER BY module_time DESC, id DESC LIMIT 1)"
                       " FROM m WHERE module IS NOT NULL ORDER BY module");
    if (!Run(query, sql, {}, store, error))
        return std::nullopt;
    QList<JournalModule> modules;
    while (query.next())
        modules << JournalModule{query.value(0).toString(), query.value(1).toString()};
    return modules;
}

std::optional<QList<int>> JournalPoints(const JournalStore& store, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("WITH RECURSIVE p(point) AS ("
                       " SELECT min(point) FROM journal_events"
                       " UNION ALL"
                       " SELECT (SELECT min(point) FROM journal_events e WHERE e.point > p.point) FROM p"
                       " WHERE p.point IS NOT NULL)"
                       " SELECT point FROM p WHERE point IS NOT NULL ORDER BY point");
    if (!Run(query, sql, {}, store, error))
        return std::nullopt;
    QList<int> points;
    while (query.next())
        points << query.value(0).toInt();
    return points;
}

std::optional<QList<JournalPoint>> JournalPointList(const JournalStore& store, const QString& module, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    // Each description is the newest row of its point through the index
    // (point, module_time); a module's, when one is named, found by going
    // back through that point's rows.
    const QString latest = QStringLiteral("(SELECT point_description FROM journal_events e WHERE e.point = p.point%1"
                                          " ORDER BY e.module_time DESC LIMIT 1)");
    const QString any = latest.arg(QString());
    const QString description = module.isEmpty()
        ? any
        : QStringLiteral("coalesce(%1, %2)")
              .arg(latest.arg(QStringLiteral(" AND (e.module = ? OR e.module_name = ?)")), any);
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("WITH RECURSIVE p(point) AS ("
                       " SELECT min(point) FROM journal_events"
                       " UNION ALL"
                       " SELECT (SELECT min(point) FROM journal_events e WHERE e.point > p.point) FROM p"
                       " WHERE p.point IS NOT NULL)"
                       " SELECT point, %1 FROM p WHERE point IS NOT NULL ORDER BY point")
            .arg(description);
    if (!Run(query, sql, module.isEmpty() ? QVariantList{} : QVariantList{module, module}, store, error))
        return std::nullopt;
    QList<JournalPoint> points;
    while (query.next())
        points << JournalPoint{query.value(0).toInt(), query.value(1).toString()};
    return points;
}

std::optional<QString> JournalFirstModuleTime(const JournalStore& store, const QString& address, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    QSqlQuery query(store.database());
    // The index (module, module_time) holds the answer first.
    if (!Run(query, QStringLiteral("SELECT min(module_time) FROM journal_events WHERE module = ?"), {address}, store,
            error))
        return std::nullopt;
    return query.next() ? query.value(0).toString() : QString();
}

bool JournalLineBefore(const JournalStore& store, const QString& module, int point, const QString& kind,
    const QString& utcBound, std::optional<QString>* line, QString* error)
{
    if (!CheckOpen(store, error))
        return false;
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("SELECT text FROM journal_events WHERE module = ? AND point = ? AND utc_time <> ''"
                       " AND utc_time < ? AND text LIKE ? ORDER BY utc_time DESC, id DESC LIMIT 1");
    if (!Run(query, sql, {module, point, utcBound, u'%' + kind + u'%'}, store, error))
        return false;
    *line = query.next() ? std::optional<QString>(query.value(0).toString()) : std::nullopt;
    return true;
}

std::optional<QList<JournalClockReading>> JournalClockReadings(
    const JournalStore& store, const QDateTime& since, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    if (!store.database().tables().contains(QStringLiteral("journal_clocks")))
        return QList<JournalClockReading>{};
    const QString from = JournalReceivedText(since);
    QSqlQuery query(store.database());
    const QString sql =
        QStringLiteral("SELECT module, at, source, quality, offset_ms FROM journal_clocks c WHERE at >= ?"
                       " OR at = (SELECT max(at) FROM journal_clocks b WHERE b.module = c.module AND b.at < ?)"
                       " ORDER BY module, at");
    if (!Run(query, sql, {from, from}, store, error))
        return std::nullopt;
    QList<JournalClockReading> readings;
    while (query.next()) {
        JournalClockReading r;
        r.module = query.value(0).toString();
        r.at = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs);
        r.source = query.value(2).toInt();
        r.quality = query.value(3).toInt();
        if (!query.value(4).isNull())
            r.offsetMs = query.value(4).toInt();
        readings << r;
    }
    return readings;
}

} // namespace chronel
