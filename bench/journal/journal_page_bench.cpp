// journal_page_bench [Google Benchmark options]
//
// The web table's page of a journal (journal_page.h) on a large SQLite
// journal: the first page of one day's rows, alone and with a module or a
// point, sorted each way; the count and time line of a day from aggregates;
// chatter for a page; and, as the peer in the same run, the full pass of
// JournalTimelineOf over the same day. Each iteration asks for another day,
// so no answer comes from the page cache of the one before.
//
// The journal is built once and kept: /tmp/chronel-page-bench-ROWS.sqlite,
// ROWS from CHRONEL_PAGE_BENCH_ROWS (1 000 000 by default; 10 000 000 is the
// size the page is meant for, about ten minutes to build). It holds a year
// of 64 modules: 60 with a declared zone (UTC, +01:00, +05:30), 4 without,
// so one day of every module goes in module-time order and a declared
// module's in UTC order. A journal of an earlier schema is brought up to
// this one on the first open, which times the step on a journal of that size.
#include "journal/journal_columns.h"
#include "journal/journal_page.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>

namespace {

using namespace chronel;

constexpr int Modules = 64;
constexpr int ZonedModules = 60;
const QDateTime Start(QDate(2025, 1, 1), QTime(0, 0), QTimeZone::utc());

qint64 Rows()
{
    const qint64 rows = qEnvironmentVariableIntValue("CHRONEL_PAGE_BENCH_ROWS");
    return rows > 0 ? rows : 1'000'000;
}

QString JournalPath() { return QStringLiteral("/tmp/chronel-page-bench-%1.sqlite").arg(Rows()); }

// Builds the journal beside its place and moves it there once complete, so
// an interrupted build is never taken for a journal.
bool Build(QString* error)
{
    const QString path = JournalPath();
    if (QFile::exists(path))
        return true;
    const QString building = path + QStringLiteral(".building");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(building + suffix);
    {
        JournalStore store;
        JournalLocation location;
        location.path = building;
        if (!store.open(location, error))
            return false;
    }
    QElapsedTimer timer;
    timer.start();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-build"));
        db.setDatabaseName(building);
        if (!db.open()) {
            *error = db.lastError().text();
            return false;
        }
        QSqlQuery query(db);
        // One transaction on a file no one else reads: no log worth keeping.
        for (const char* pragma :
            {"PRAGMA journal_mode = DELETE", "PRAGMA synchronous = OFF", "PRAGMA cache_size = -1000000", "BEGIN"})
            query.exec(QString::fromLatin1(pragma));
        // The indexes made anew after the rows, by one sort each, rather than
        // kept up row by row.
        QStringList indexes;
        query.exec(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"));
        QStringList names;
        while (query.next()) {
            names << query.value(0).toString();
            indexes << query.value(1).toString();
        }
        for (const QString& name : std::as_const(names))
            query.exec(QStringLiteral("DROP INDEX ") + name);
        // The rows made by SQLite itself in one statement: a row a
        // microsecond or two, where binding each from here takes fifty.
        // Modules 1 … 60 declare a zone (UTC, +01:00, +05:30 by address),
        // 61 … 64 none; a point from a cheap mix of n, so that points do not
        // follow modules.
        const qint64 rows = Rows();
        const qint64 stepMs = 365LL * 24 * 3600 * 1000 / rows;
        // By names rather than QString::arg, which would take printf's
        // "%2d" for one of its own.
        QString sql = QStringLiteral(
            "INSERT INTO journal_events (module, module_name, module_time, point, point_description, state_text,"
            " text, quality, received, raw, date_source, block, record, utc_time, zone)"
            " WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n + 1 < @ROWS),"
            " r AS (SELECT n, n % @MODULES + 1 AS m, @START + n * @STEP AS u, ((n * 2654435761) >> 7) % 32 + 1 AS p "
            "FROM s),"
            " t AS (SELECT n, m, u, p,"
            "  u + CASE m % 3 WHEN 0 THEN 0 WHEN 1 THEN 3600000 ELSE 19800000 END AS l,"
            "  CASE WHEN m > @ZONED THEN '' WHEN m % 3 = 0 THEN 'UTC' WHEN m % 3 = 1 THEN '+01:00' ELSE '+05:30' END"
            "  AS z, CASE n % 2 WHEN 1 THEN 'On' ELSE 'Off' END AS st FROM r),"
            " v AS (SELECT n, m, p, z, st,"
            "  strftime('%Y-%m-%dT%H:%M:%S', l / 1000, 'unixepoch') || printf('.%03d', l % 1000) AS mt,"
            "  strftime('%Y-%m-%dT%H:%M:%S', u / 1000, 'unixepoch') || printf('.%03dZ', u % 1000) AS ut"
            "  FROM t)"
            " SELECT '127.0.1.' || m, 'Bay ' || m, mt, p, 'Breaker ' || p, st,"
            "  substr(mt, 1, 10) || '  ' || substr(mt, 12) || '  S  G   Input Point ' || printf('%2d', p) || '  ' || "
            "st,"
            "  3, ut, CAST(printf('%x', n) AS BLOB), 'record', n + 1, 0, CASE WHEN z = '' THEN '' ELSE ut END, z"
            " FROM v");
        sql.replace(QStringLiteral("@ROWS"), QString::number(rows))
            .replace(QStringLiteral("@STEP"), QString::number(stepMs))
            .replace(QStringLiteral("@MODULES"), QString::number(Modules))
            .replace(QStringLiteral("@START"), QString::number(Start.toMSecsSinceEpoch()))
            .replace(QStringLiteral("@ZONED"), QString::number(ZonedModules));
        if (!query.exec(sql)) {
            *error = query.lastError().text();
            return false;
        }
        for (const QString& index : std::as_const(indexes)) {
            if (!query.exec(index)) {
                *error = query.lastError().text();
                return false;
            }
        }
        if (!query.exec(QStringLiteral("COMMIT")) || !query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) {
            *error = query.lastError().text();
            return false;
        }
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-build"));
    std::fprintf(stderr, "build: %lld rows in %.0f s\n", Rows(), timer.elapsed() / 1000.0);
    return QFile::rename(building, path);
}

// The store every benchmark reads, opened read-only as chronel-web does.
JournalStore& Store()
{
    static JournalStore store;
    return store;
}

// Day `i` of the year, spread so that consecutive iterations are far apart.
JournalFilter Day(benchmark::State& state, qint64 i)
{
    JournalFilter filter;
    QString error;
    const QDate day = Start.date().addDays(1 + (i * 37) % 360);
    if (!filter.setFrom(day.toString(Qt::ISODate), &error) || !filter.setTo(day.toString(Qt::ISODate), &error))
        state.SkipWithError(qPrintable(error));
    return filter;
}

using Narrow = std::function<void(JournalFilter&)>;

void Page(benchmark::State& state, const Narrow& narrow, JournalSortKey key, bool descending, qint64 offset)
{
    qint64 i = 0;
    qint64 total = 0;
    bool utc = false;
    for (auto _ : state) {
        JournalPageRequest request;
        request.filter = Day(state, i++);
        narrow(request.filter);
        request.key = key;
        request.descending = descending;
        request.offset = offset;
        QString error;
        const auto page = JournalPageOf(Store(), request, &error);
        if (!page || page->rows.isEmpty()) {
            state.SkipWithError(page ? "an empty page" : qPrintable(error));
            return;
        }
        total += page->total;
        utc = page->order == JournalTimeOrder::Utc;
    }
    state.counters["rows"] = double(total) / double(i);
    state.counters["utc order"] = utc;
}

void None(JournalFilter&) { }
void DeclaredModule(JournalFilter& filter) { filter.module = QStringLiteral("127.0.1.7"); }
void ModuleWithoutZone(JournalFilter& filter) { filter.module = QStringLiteral("Bay 62"); }
void OnePoint(JournalFilter& filter) { filter.point = 9; }
// The day in UTC: only rows with a UTC time, so in UTC order.
void UtcDay(JournalFilter& filter)
{
    filter.fromUtc = std::exchange(filter.from, {}) + u'Z';
    filter.toUtc = std::exchange(filter.to, {}) + u'Z';
}
// Thirty days from the day on.
void Month(JournalFilter& filter)
{
    filter.to = JournalTimeText(QDateTime::fromString(filter.from, Qt::ISODateWithMs).addDays(30));
}
void MonthInUtc(JournalFilter& filter)
{
    Month(filter);
    UtcDay(filter);
}
void Search(JournalFilter& filter) { filter.grep = QStringLiteral("point 17  on"); }

void QuickTimeline(benchmark::State& state)
{
    qint64 i = 0;
    for (auto _ : state) {
        QString error;
        const auto timeline = JournalQuickTimeline(Store(), Day(state, i++), &error);
        if (!timeline || timeline->rows == 0)
            state.SkipWithError(timeline ? "no rows" : qPrintable(error));
    }
}

// The peer: one pass over every row of the day.
void FullTimeline(benchmark::State& state)
{
    qint64 i = 0;
    for (auto _ : state) {
        QString error;
        const auto timeline = JournalTimelineOf(Store(), Day(state, i++), &error);
        if (!timeline || timeline->rows == 0)
            state.SkipWithError(timeline ? "no rows" : qPrintable(error));
    }
}

// Chatter for the first page of a day: by one read of the page's span of
// time (as the web table reads it), or by a read per module and point.
void ChatterOfPage(benchmark::State& state, bool perPoint)
{
    qint64 i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        JournalPageRequest request;
        request.filter = Day(state, i++);
        QString error;
        const auto page = JournalPageOf(Store(), request, &error);
        state.ResumeTiming();
        const auto ids = !page ? std::nullopt
            : perPoint         ? ChatteringRowsAmong(Store(), page->rows, &error, page->order)
                               : ChatteringRowsOfPage(Store(), *page, &error);
        if (!ids)
            state.SkipWithError(qPrintable(error));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QString error;
    if (!Build(&error)) {
        std::fprintf(stderr, "cannot build %s: %s\n", qPrintable(JournalPath()), qPrintable(error));
        return 2;
    }
    {
        // A journal of an earlier schema: its step, timed.
        QElapsedTimer timer;
        timer.start();
        JournalStore writer;
        JournalLocation location;
        location.path = JournalPath();
        if (!writer.open(location, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
        std::fprintf(stderr, "open (schema %d): %lld ms\n", writer.schemaVersion(), timer.elapsed());
    }
    JournalLocation location;
    location.path = JournalPath();
    if (!Store().openReadOnly(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    const auto page = [](const char* name, Narrow narrow, JournalSortKey key, bool descending, qint64 offset = 0) {
        benchmark::RegisterBenchmark(name, [=](benchmark::State& state) {
            Page(state, narrow, key, descending, offset);
        })->Unit(benchmark::kMillisecond);
    };
    page("FirstPageOfADay", None, JournalSortKey::Time, false);
    page("FirstPageOfADay/descending", None, JournalSortKey::Time, true);
    page("FirstPageOfADay/in UTC (UTC order)", UtcDay, JournalSortKey::Time, false);
    page("FirstPageOfADay/in UTC, descending", UtcDay, JournalSortKey::Time, true);
    page("FirstPageOfADay/declared module (UTC order)", DeclaredModule, JournalSortKey::Time, false);
    page("FirstPageOfADay/declared module, descending", DeclaredModule, JournalSortKey::Time, true);
    page("FirstPageOfADay/module without zone, by name", ModuleWithoutZone, JournalSortKey::Time, false);
    page("FirstPageOfADay/one point", OnePoint, JournalSortKey::Time, false);
    page("FirstPageOfADay/one point, descending", OnePoint, JournalSortKey::Time, true);
    page("FirstPageOfADay/search", Search, JournalSortKey::Time, false);
    page("FirstPageOfADay/by text", None, JournalSortKey::Text, false);
    page("FirstPageOfADay/by module, descending", None, JournalSortKey::Module, true);
    page("FirstPageOfAMonth", Month, JournalSortKey::Time, false);
    page("FirstPageOfAMonth/in UTC", MonthInUtc, JournalSortKey::Time, false);
    page("PageOfADay/offset half the day", None, JournalSortKey::Time, false, Rows() / 730);
    benchmark::RegisterBenchmark("QuickTimelineOfADay", QuickTimeline)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("JournalTimelineOfADay (peer)", FullTimeline)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ChatterOfFirstPage", ChatterOfPage, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ChatterOfFirstPage/per point", ChatterOfPage, true)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
