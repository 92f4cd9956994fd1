#include "journal_page.h"

#include "chatter.h"
#include "journal_columns.h"
#include "journal_error.h"

#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <map>
#include <utility>

namespace chronel {

namespace {

// Column `name` in an expression: what a journal of an earlier version, read
// as it is, gives instead where it lacks it.
QString ColumnOr(const JournalStore& store, const char* name)
{
    for (const JournalColumn& column : JournalColumns)
        if (qstrcmp(column.name, name) == 0)
            return store.schemaVersion() >= column.since ? QString::fromLatin1(name) : column.absent();
    return QString::fromLatin1(name);
}

QString Columns(const JournalStore& store)
{
    QStringList columns;
    for (const JournalColumn& column : JournalColumns) {
        const QString value = ColumnOr(store, column.name);
        columns << (value == QLatin1StringView(column.name)
                ? value
                : QStringLiteral("%1 AS %2").arg(value, QLatin1StringView(column.name)));
    }
    return columns.join(QStringLiteral(", "));
}

JournalEvent RowOf(const QSqlQuery& query)
{
    JournalEvent event;
    int at = 0;
    for (const JournalColumn& column : JournalColumns)
        column.load(&event, query.value(at++));
    return event;
}

struct Conditions {
    QStringList terms;
    QVariantList values;

    void add(const QString& term, const QVariantList& bound = {})
    {
        terms << term;
        values << bound;
    }
    QString where() const { return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(u" AND "); }
};

// The filter's SQL. journal_query.cpp keeps its own (the two are held equal
// by the tests, row for row, on both kinds of journal); this one reads
// journals of any version, and every text in it is a bound value.
Conditions FilterConditions(const JournalStore& store, const JournalFilter& filter)
{
    const QString utc = ColumnOr(store, "utc_time");
    Conditions conditions;
    if (!filter.from.isEmpty())
        conditions.add(QStringLiteral("module_time >= ?"), {filter.from});
    if (!filter.to.isEmpty())
        conditions.add(QStringLiteral("module_time < ?"), {filter.to});
    if (!filter.fromUtc.isEmpty())
        conditions.add(QStringLiteral("%1 >= ?").arg(utc), {filter.fromUtc});
    if (!filter.toUtc.isEmpty())
        conditions.add(QStringLiteral("%1 <> '' AND %1 < ?").arg(utc), {filter.toUtc});
    if (!filter.module.isEmpty())
        conditions.add(QStringLiteral("(module = ? OR module_name = ?)"), {filter.module, filter.module});
    if (!filter.modules.isEmpty()) {
        const QString marks = QStringList(filter.modules.size(), QStringLiteral("?")).join(u',');
        QVariantList names;
        for (const QString& module : filter.modules)
            names << module;
        conditions.add(QStringLiteral("(module IN (%1) OR module_name IN (%1))").arg(marks), names + names);
    }
    if (filter.point)
        conditions.add(QStringLiteral("point = ?"), {*filter.point});
    if (filter.pointRows)
        conditions.add(QStringLiteral("point > 0"));
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

// What the time order and the count of a selection take, from aggregates
// over an index range where the filter bounds the time.
struct Extent {
    qint64 rows = 0;
    qint64 rowsWithoutUtc = 0;
    QString firstModuleTime;
    QString lastModuleTime;
    QString firstUtc;
    QString lastUtc;

    JournalTimeOrder order() const
    {
        return rows > 0 && rowsWithoutUtc == 0 ? JournalTimeOrder::Utc : JournalTimeOrder::ModuleTime;
    }
};

// `times`: with the first and last module and UTC times; without, only the
// UTC span a page needs (the rows in UTC order and `span` asking for it). A
// count walks the index range and nothing else; the times compare every
// entry's texts, which costs several times a count.
std::optional<Extent> ExtentOf(
    const JournalStore& store, const Conditions& conditions, bool times, bool span, QString* error)
{
    const QString utc = ColumnOr(store, "utc_time");
    Extent extent;
    {
        QSqlQuery query(store.database());
        const QString sql = QStringLiteral("SELECT count(*), count(CASE WHEN %1 = '' THEN 1 END) FROM journal_events%2")
                                .arg(utc, conditions.where());
        if (!Run(query, sql, conditions.values, store, error))
            return std::nullopt;
        if (query.next()) {
            extent.rows = query.value(0).toLongLong();
            extent.rowsWithoutUtc = query.value(1).toLongLong();
        }
    }
    if (extent.rows == 0 || (!times && (!span || extent.order() != JournalTimeOrder::Utc)))
        return extent;
    QSqlQuery query(store.database());
    // An undated row's module time is empty: no first time.
    const QString sql = times
        ? QStringLiteral("SELECT min(CASE WHEN module_time = '' THEN NULL ELSE module_time END), max(module_time),"
                         " min(CASE WHEN %1 = '' THEN NULL ELSE %1 END), max(%1) FROM journal_events%2")
              .arg(utc, conditions.where())
        : QStringLiteral("SELECT '', '', min(%1), max(%1) FROM journal_events%2").arg(utc, conditions.where());
    if (!Run(query, sql, conditions.values, store, error))
        return std::nullopt;
    if (query.next()) {
        extent.firstModuleTime = query.value(0).toString();
        extent.lastModuleTime = query.value(1).toString();
        extent.firstUtc = query.value(2).toString();
        extent.lastUtc = query.value(3).toString();
    }
    return extent;
}

// The ORDER BY of a page; descending reverses the whole order.
QString OrderBy(const JournalStore& store, JournalSortKey key, JournalTimeOrder order, bool descending)
{
    const QString time = order == JournalTimeOrder::Utc ? QStringLiteral("utc_time") : QStringLiteral("module_time");
    // The event text compares byte by byte on PostgreSQL too, as on SQLite.
    const QString text =
        store.dialect() == JournalDialect::Postgres ? QStringLiteral("text COLLATE \"C\"") : QStringLiteral("text");
    QStringList keys;
    switch (key) {
    case JournalSortKey::Time: keys = {time, QStringLiteral("module"), QStringLiteral("id")}; break;
    case JournalSortKey::Module: keys = {QStringLiteral("module"), time, QStringLiteral("id")}; break;
    case JournalSortKey::Point:
        keys = {QStringLiteral("point"), time, QStringLiteral("module"), QStringLiteral("id")};
        break;
    case JournalSortKey::Text: keys = {text, time, QStringLiteral("module"), QStringLiteral("id")}; break;
    case JournalSortKey::Id: keys = {QStringLiteral("id")}; break;
    }
    if (descending)
        for (QString& k : keys)
            k += QStringLiteral(" DESC");
    return QStringLiteral(" ORDER BY ") + keys.join(QStringLiteral(", "));
}

// SQLite's lower(): ASCII letters only.
QString AsciiLower(const QString& text)
{
    QString lowered = text;
    for (QChar& c : lowered)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return lowered;
}

// Text order as both databases compare these columns: byte by byte in UTF-8.
int Compare(const QString& a, const QString& b)
{
    // UTF-16 order is UTF-8's but for surrogates against U+E000 … U+FFFF.
    const bool plain = std::none_of(a.begin(), a.end(), [](QChar c) { return c.unicode() >= 0xd800; }) &&
        std::none_of(b.begin(), b.end(), [](QChar c) { return c.unicode() >= 0xd800; });
    if (plain)
        return QString::compare(a, b, Qt::CaseSensitive);
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    return x < y ? -1 : (y < x ? 1 : 0);
}

} // namespace

std::optional<JournalPage> JournalPageOf(const JournalStore& store, const JournalPageRequest& request, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    if (request.offset < 0 || request.limit < 1 || request.limit > JournalPageRequest::MaxRows) {
        *error = QStringLiteral("a page starts at an offset of 0 or more and holds 1 to %1 rows, not %2 from %3")
                     .arg(JournalPageRequest::MaxRows)
                     .arg(request.limit)
                     .arg(request.offset);
        return std::nullopt;
    }
    // The count and the page from one snapshot, so rows stored between them
    // do not make the count disagree with the page.
    QSqlDatabase db = store.database();
    const bool snapshot = db.transaction();
    const auto done = qScopeGuard([&] {
        if (snapshot)
            db.rollback();
    });
    Conditions conditions = FilterConditions(store, request.filter);
    // A period in UTC leads the index of UTC times itself; one in module
    // times is given the rows' UTC span, which takes an aggregate.
    const bool utcBounded = !request.filter.fromUtc.isEmpty() || !request.filter.toUtc.isEmpty();
    const std::optional<Extent> extent = ExtentOf(store, conditions, false, !utcBounded, error);
    if (!extent)
        return std::nullopt;
    JournalPage page;
    page.total = extent->rows;
    page.order = extent->order();
    if (request.offset >= page.total)
        return page;
    if (page.order == JournalTimeOrder::Utc && request.key != JournalSortKey::Id && !utcBounded) {
        // The rows' UTC span lets the index of UTC times serve a period
        // given in module times; the rows in it are the same.
        conditions.add(QStringLiteral("utc_time >= ? AND utc_time <= ?"), {extent->firstUtc, extent->lastUtc});
    }
    QSqlQuery query(db);
    const QString sql =
        QStringLiteral("SELECT %1 FROM journal_events%2%3 LIMIT %4 OFFSET %5")
            .arg(Columns(store), conditions.where(), OrderBy(store, request.key, page.order, request.descending))
            .arg(request.limit)
            .arg(request.offset);
    if (!Run(query, sql, conditions.values, store, error))
        return std::nullopt;
    while (query.next())
        page.rows << RowOf(query);
    page.more = request.offset + page.rows.size() < page.total;
    const JournalFilter& f = request.filter;
    page.contiguous = request.key == JournalSortKey::Time && f.module.isEmpty() && f.modules.isEmpty() && !f.point &&
        !f.pointRows && f.grep.isEmpty();
    return page;
}

std::optional<JournalTimeline> JournalQuickTimeline(
    const JournalStore& store, const JournalFilter& filter, QString* error)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    const Conditions conditions = FilterConditions(store, filter);
    const std::optional<Extent> extent = ExtentOf(store, conditions, true, true, error);
    if (!extent)
        return std::nullopt;
    JournalTimeline timeline;
    timeline.order = extent->order();
    timeline.rows = extent->rows;
    timeline.rowsWithoutUtc = extent->rowsWithoutUtc;
    timeline.firstModuleTime = extent->firstModuleTime;
    timeline.lastModuleTime = extent->lastModuleTime;
    timeline.firstUtc = extent->firstUtc;
    timeline.lastUtc = extent->lastUtc;
    if (extent->rows == 0)
        return timeline;
    const QString zone = ColumnOr(store, "zone");
    if (zone == u"zone") {
        Conditions declared = conditions;
        declared.add(QStringLiteral("zone <> ''"));
        QSqlQuery query(store.database());
        if (!Run(query, QStringLiteral("SELECT DISTINCT zone FROM journal_events%1").arg(declared.where()),
                declared.values, store, error))
            return std::nullopt;
        while (query.next())
            timeline.zones << query.value(0).toString();
        timeline.zones.sort();
    }
    if (extent->rowsWithoutUtc > 0) {
        // JournalTimelineOf names each (module, zone) with rows without UTC
        // by the greatest name among all its rows the filter selects.
        const QString utc = ColumnOr(store, "utc_time");
        // Within a period the rows without UTC are sought among the
        // period's, not the other way round: in a journal of modules without
        // a zone, the index's empty UTC times are most of its rows.
        Conditions without = conditions;
        const bool period = !filter.from.isEmpty() || !filter.to.isEmpty();
        without.add((period ? QStringLiteral("length(%1) = 0") : QStringLiteral("%1 = ''")).arg(utc));
        QSqlQuery query(store.database());
        if (!Run(query, QStringLiteral("SELECT DISTINCT module, %1 FROM journal_events%2").arg(zone, without.where()),
                without.values, store, error))
            return std::nullopt;
        QList<std::pair<QString, QString>> groups;
        while (query.next())
            groups.append({query.value(0).toString(), query.value(1).toString()});
        for (const auto& [module, groupZone] : std::as_const(groups)) {
            Conditions group = conditions;
            group.add(QStringLiteral("module = ?"), {module});
            if (zone == u"zone")
                group.add(QStringLiteral("zone = ?"), {groupZone});
            QSqlQuery name(store.database());
            if (!Run(name, QStringLiteral("SELECT max(module_name) FROM journal_events%1").arg(group.where()),
                    group.values, store, error))
                return std::nullopt;
            const QString found = name.next() ? name.value(0).toString() : QString();
            const QString shown = found.isEmpty() ? module : found;
            if (!timeline.modulesWithoutUtc.contains(shown))
                timeline.modulesWithoutUtc << shown;
        }
        timeline.modulesWithoutUtc.sort();
    }
    return timeline;
}

bool JournalFilterMatches(const JournalFilter& filter, const JournalEvent& row)
{
    const QString utc = row.utcTime.isValid() ? JournalReceivedText(row.utcTime) : QString();
    if (!filter.from.isEmpty() && Compare(row.moduleTime, filter.from) < 0)
        return false;
    if (!filter.to.isEmpty() && Compare(row.moduleTime, filter.to) >= 0)
        return false;
    if (!filter.fromUtc.isEmpty() && Compare(utc, filter.fromUtc) < 0)
        return false;
    if (!filter.toUtc.isEmpty() && (utc.isEmpty() || Compare(utc, filter.toUtc) >= 0))
        return false;
    if (!filter.module.isEmpty() && row.module != filter.module && row.moduleName != filter.module)
        return false;
    if (!filter.modules.isEmpty() && !filter.modules.contains(row.module) && !filter.modules.contains(row.moduleName))
        return false;
    if (filter.point && row.point != *filter.point)
        return false;
    if (filter.pointRows && row.point <= 0)
        return false;
    if (!filter.grep.isEmpty()) {
        // LIKE '%…%' with every wildcard escaped: a plain substring of the
        // lowered texts; LIKE also folds ASCII letters on SQLite, which the
        // lowered pattern makes no difference to.
        const QString pattern = filter.grep.toLower();
        const auto holds = [&](const QString& text) { return AsciiLower(text).contains(pattern); };
        if (!holds(row.text) && !holds(row.pointDescription) && !holds(row.stateText) && !holds(row.moduleName))
            return false;
    }
    return true;
}

namespace {

// The time line's text of `ms`, as the column `key` holds it.
QString LineText(JournalTimeOrder line, qint64 ms)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    return line == JournalTimeOrder::Utc ? JournalReceivedText(at) : JournalTimeText(at);
}

QString LineKey(JournalTimeOrder line)
{
    return line == JournalTimeOrder::Utc ? QStringLiteral("utc_time") : QStringLiteral("module_time");
}

// Feeds the input changes `sql` selects to `detector`; how many rows it read.
std::optional<qint64> Detect(const JournalStore& store, const QString& sql, const QVariantList& values,
    JournalTimeOrder line, ChatterDetector& detector, QString* error)
{
    QSqlQuery query(store.database());
    if (!Run(query, sql, values, store, error))
        return std::nullopt;
    qint64 read = 0;
    while (query.next()) {
        ++read;
        const JournalEvent row = RowOf(query);
        const std::optional<qint64> ms = TimeLineMs(row, line);
        if (ms && IsInputChange(row))
            detector.add({row.module, row.moduleName, row.point, *ms, row.id, true, row.moduleTime, row.utcTime});
    }
    return read;
}

QSet<qint64> Chattering(ChatterDetector& detector, const QList<JournalEvent>& rows, JournalTimeOrder line)
{
    const ChatterIndex index(detector.finish());
    QSet<qint64> ids;
    for (const JournalEvent& row : rows) {
        const std::optional<qint64> ms = TimeLineMs(row, line);
        if (ms && IsInputChange(row) && index.holds(row.module, row.point, *ms, row.id))
            ids.insert(row.id);
    }
    return ids;
}

// The page's chatter from every change within T of its time span, read as
// one range of the time line's index: for a page that holds every row of its
// span that is cheaper than a seek per point. None without an error when the
// span holds more than `most` changes (a page of rows far apart in time):
// then a read per point costs less.
std::optional<QSet<qint64>> ChatterOverSpan(const JournalStore& store, const QList<JournalEvent>& rows,
    JournalTimeOrder line, ChatterLimits limits, qint64 most, QString* error)
{
    std::optional<qint64> first;
    std::optional<qint64> last;
    for (const JournalEvent& row : rows) {
        const std::optional<qint64> ms = TimeLineMs(row, line);
        if (!ms || !IsInputChange(row))
            continue;
        first = std::min(first.value_or(*ms), *ms);
        last = std::max(last.value_or(*ms), *ms);
    }
    if (!first)
        return QSet<qint64>();
    const QString key = LineKey(line);
    // The unary plus keeps SQLite off the point indexes, which would visit
    // every row with a point rather than the span's.
    const QString sql =
        QStringLiteral("SELECT %1 FROM journal_events WHERE %2 >= ? AND %2 <= ? AND +point > 0 ORDER BY %2, module, id"
                       " LIMIT %3")
            .arg(Columns(store), key)
            .arg(most + 1);
    ChatterDetector detector(limits);
    const std::optional<qint64> read = Detect(store, sql,
        {LineText(line, *first - limits.windowMs), LineText(line, *last + limits.windowMs)}, line, detector, error);
    if (!read || *read > most)
        return std::nullopt;
    return Chattering(detector, rows, line);
}

} // namespace

std::optional<QSet<qint64>> ChatteringRowsAmong(const JournalStore& store, const QList<JournalEvent>& rows,
    QString* error, std::optional<JournalTimeOrder> order, ChatterLimits limits)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    const JournalTimeOrder line = order.value_or(TimeOrderOf(rows));
    // Per module and point, the page's changes as spans of T either side,
    // joined where they meet: every change within T of a page's change is
    // read, and a window of N + 1 changes less than T long that holds one of
    // them lies within its span. Changes read around a gap can only join
    // into windows that hold more changes in truth, so none is found that is
    // not there.
    struct Span {
        qint64 from;
        qint64 to;
    };
    std::map<std::pair<QString, int>, QList<Span>> spans;
    for (const JournalEvent& row : rows) {
        const std::optional<qint64> ms = TimeLineMs(row, line);
        if (ms && IsInputChange(row))
            spans[{row.module, row.point}].append({*ms - limits.windowMs, *ms + limits.windowMs});
    }
    if (spans.empty())
        return QSet<qint64>();
    const QString key = LineKey(line);
    QStringList terms;
    QVariantList values;
    for (auto& [point, list] : spans) {
        std::sort(list.begin(), list.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
        QList<Span> joined;
        for (const Span& span : std::as_const(list)) {
            if (!joined.isEmpty() && span.from <= joined.last().to)
                joined.last().to = std::max(joined.last().to, span.to);
            else
                joined.append(span);
        }
        for (const Span& span : std::as_const(joined)) {
            terms << QStringLiteral("(module = ? AND point = ? AND %1 >= ? AND %1 <= ?)").arg(key);
            values << point.first << point.second << LineText(line, span.from) << LineText(line, span.to);
        }
    }
    const QString sql = QStringLiteral("SELECT %1 FROM journal_events WHERE point > 0 AND (%2) ORDER BY %3, module, id")
                            .arg(Columns(store), terms.join(QStringLiteral(" OR ")), key);
    ChatterDetector detector(limits);
    if (!Detect(store, sql, values, line, detector, error))
        return std::nullopt;
    return Chattering(detector, rows, line);
}

std::optional<QSet<qint64>> ChatteringRowsOfPage(
    const JournalStore& store, const JournalPage& page, QString* error, ChatterLimits limits)
{
    if (!CheckOpen(store, error))
        return std::nullopt;
    if (page.contiguous) {
        // A few times the page's rows leaves room for the changes of T either
        // side of it, a burst's included, before a read per point is cheaper.
        const qint64 most = 20 * qint64(page.rows.size()) + 1000;
        QString spanError;
        std::optional<QSet<qint64>> ids = ChatterOverSpan(store, page.rows, page.order, limits, most, &spanError);
        if (ids)
            return ids;
        if (!spanError.isEmpty()) {
            *error = spanError;
            return std::nullopt;
        }
    }
    return ChatteringRowsAmong(store, page.rows, error, page.order, limits);
}

} // namespace chronel
