// journal_bench [FILE]
//
// Fills a SQLite journal with ten million rows of a site of 64 modules and 32
// points over a year (about 36 rows per point and hour), in blocks of 50 000
// rows, unless FILE already holds them (a FILE given is kept for the next
// run; without one the journal lives in a temporary folder). Then:
//   - the query for one point over one hour, on a store opened afresh, 20
//     times at spread-out hours: the first, the median and the slowest; the
//     program fails when the slowest exceeds 100 ms;
//   - appends of 30-row blocks, one transaction each (synchronous=FULL, so
//     each waits for the disk), for five seconds on that journal and on an
//     empty one, as rows per second.
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace chronel;

constexpr qint64 Rows = 10'000'000;
constexpr int Modules = 64;
constexpr int FillBlock = 50'000;
constexpr qint64 QueryLimitMs = 100;
const QDateTime Start(QDate(2025, 1, 1), QTime(0, 0));
// One year spread over the rows.
constexpr qint64 StepMs = 365LL * 24 * 3600 * 1000 / Rows;

JournalEvent Row(qint64 n)
{
    JournalEvent event;
    const int module = int(n % Modules) + 1;
    event.module = QStringLiteral("127.0.1.%1").arg(module);
    event.moduleName = QStringLiteral("Bay %1").arg(module);
    const QDateTime time = Start.addMSecs(n * StepMs);
    event.moduleTime = JournalTimeText(time);
    event.dateSource = QStringLiteral("record");
    // A point from a cheap mix of n, so that points do not follow modules.
    event.point = int((n * 2654435761ULL >> 7) % 32) + 1;
    event.pointDescription = QStringLiteral("Breaker %1").arg(event.point);
    event.stateText = n % 2 ? QStringLiteral("On") : QStringLiteral("Off");
    event.text = QStringLiteral("%1  %2  S  G   Input Point %3  %4")
                     .arg(time.date().toString(Qt::ISODate), time.time().toString(QStringLiteral("HH:mm:ss.zzz")))
                     .arg(event.point, 2)
                     .arg(event.stateText);
    event.quality = 3;
    event.received = time.toUTC();
    event.raw = QByteArray::number(n, 16);
    return event;
}

qint64 RowCount(const JournalStore& store)
{
    QSqlQuery query(store.database());
    return query.exec(QStringLiteral("SELECT max(id) FROM journal_events")) && query.next()
        ? query.value(0).toLongLong()
        : -1;
}

bool Fill(const JournalLocation& location)
{
    JournalStore store;
    QString error;
    if (!store.open(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const qint64 have = RowCount(store);
    if (have >= Rows) {
        std::printf("journal: %s already holds %lld rows\n", qPrintable(location.path), have);
        return true;
    }
    if (have != 0) {
        std::fprintf(stderr, "%s holds %lld rows, not 0 or %lld\n", qPrintable(location.path), have, Rows);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    for (qint64 n = 0; n < Rows;) {
        QList<JournalEvent> block;
        block.reserve(FillBlock);
        for (int i = 0; i < FillBlock && n < Rows; ++i, ++n)
            block << Row(n);
        if (!store.append(block, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        if (n % 1'000'000 == 0)
            std::printf("fill: %lld rows, %.0f s\n", n, timer.elapsed() / 1000.0);
        std::fflush(stdout);
    }
    std::printf("fill: %lld rows in %.0f s (%.0f rows/s in blocks of %d)\n", Rows, timer.elapsed() / 1000.0,
        Rows * 1000.0 / timer.elapsed(), FillBlock);
    return true;
}

// The slowest of 20 one-point, one-hour queries, or -1 on failure.
qint64 TimeQueries(const JournalLocation& location)
{
    JournalStore store;
    QString error;
    if (!store.open(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return -1;
    }
    std::vector<qint64> times;
    qsizetype found = 0;
    for (int i = 0; i < 20; ++i) {
        JournalFilter filter;
        const QDateTime hour = Start.addSecs(3600LL * (i * 419 % (365 * 24)));
        filter.setFrom(hour);
        filter.setTo(hour.addSecs(3600));
        filter.point = i % 32 + 1;
        QElapsedTimer timer;
        timer.start();
        const auto rows = JournalRows(store, filter, &error);
        times.push_back(timer.nsecsElapsed() / 1000);
        if (!rows || rows->isEmpty()) {
            std::fprintf(stderr, "query %d: %s\n", i, rows ? "no rows" : qPrintable(error));
            return -1;
        }
        found += rows->size();
    }
    const qint64 first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("query one point over one hour: first %.2f ms, median %.2f ms, slowest %.2f ms (%.1f rows each)\n",
        first / 1000.0, times[times.size() / 2] / 1000.0, times.back() / 1000.0, double(found) / 20);
    QSqlQuery plan(store.database());
    if (plan.exec(
            QStringLiteral("EXPLAIN QUERY PLAN SELECT id FROM journal_events WHERE point = 5"
                           " AND module_time >= '2025-03-01T13:00:00.000' AND module_time < '2025-03-01T14:00:00.000'"
                           " ORDER BY module_time, module, id"))) {
        while (plan.next())
            std::printf("  plan: %s\n", qPrintable(plan.value(3).toString()));
    }
    return times.back() / 1000;
}

bool TimeAppends(const JournalLocation& location, const char* what, qint64 first)
{
    JournalStore store;
    QString error;
    if (!store.open(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    qint64 n = first;
    int blocks = 0;
    while (timer.elapsed() < 5000) {
        QList<JournalEvent> block;
        for (int i = 0; i < 30; ++i)
            block << Row(n++);
        if (!store.append(block, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        ++blocks;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("append on %s: %d blocks of 30 rows in %.1f s: %.0f rows/s, %.2f ms a block\n", what, blocks, seconds,
        blocks * 30 / seconds, seconds * 1000 / blocks);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;
    JournalLocation big;
    big.path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : dir.filePath(QStringLiteral("journal.sqlite"));
    if (!Fill(big))
        return 2;
    const qint64 slowestMs = TimeQueries(big);
    if (slowestMs < 0)
        return 2;
    JournalLocation empty;
    empty.path = dir.filePath(QStringLiteral("empty.sqlite"));
    if (!TimeAppends(big, "the 10-million-row journal", Rows) || !TimeAppends(empty, "an empty journal", 0))
        return 2;
    if (slowestMs > QueryLimitMs) {
        std::printf("FAIL: the slowest query took %lld ms, above %lld ms\n", slowestMs, QueryLimitMs);
        return 1;
    }
    return 0;
}
