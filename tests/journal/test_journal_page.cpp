// The web table's pages on both kinds of journal, held against the readers
// they stand in for: for random filters over a journal of modules in and
// without zones, through a fall-back hour, with undated rows and texts made
// to break SQL, the page's rows and count are JournalRows' rows in its order
// (or reversed), the quick time line is JournalTimelineOf's, the filter
// decided in memory selects what the SQL selects, and a page's chatter is
// ReadJournalChatter's.
#include "journal_backend.h"

#include "journal/journal_chatter.h"
#include "journal/journal_page.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QSqlQuery>
#include <QTimeZone>

#include <algorithm>
#include <random>
#include <tuple>

namespace chronel::test {
namespace {

const QDateTime Base(QDate(2026, 10, 24), QTime(23, 30), QTimeZone::utc());

struct Module {
    const char* address;
    const char* zone; // "" undeclared
};
const Module Modules[] = {{"127.0.0.2", "Europe/Berlin"}, {"127.0.0.3", "+05:30"}, {"127.0.0.4", ""}};

// Texts a web page could send back as a search, stored in rows too.
const char* const Awkward[] = {"it's 100% _done_ -- ok", "'; DROP TABLE journal_events; --", "back\\slash",
    "Überlast Phase A", "ÜBERLAST phase b", "a_b", "50%"};

// A row of module `m` at `utc`, as its collector stores it: a module time in
// the module's zone, and a UTC time where the zone is declared and the time
// is not in the hour the fall-back repeats.
JournalEvent Row(int m, const QDateTime& utc, int point, const QString& body)
{
    const Module& module = Modules[m];
    JournalEvent e;
    e.module = QString::fromLatin1(module.address);
    e.moduleName = m == 0 ? QStringLiteral("Feeder") : (m == 1 ? QStringLiteral("Bay 9") : QStringLiteral("South"));
    e.zone = QString::fromUtf8(module.zone);
    const QDateTime local = e.zone.isEmpty() ? utc
        : e.zone.startsWith(u'+')            ? utc.toOffsetFromUtc(19800)
                                             : utc.toTimeZone(QTimeZone(module.zone));
    e.moduleTime = JournalTimeText(local);
    const bool repeated = m == 0 && local.date() == QDate(2026, 10, 25) && local.time().hour() == 2;
    if (!e.zone.isEmpty() && !(repeated && utc.time().msec() % 2 == 0))
        e.utcTime = utc;
    e.dateSource = QStringLiteral("record");
    e.point = point;
    e.pointDescription = point == 3 ? QStringLiteral("Trip 'A' 100%") : QStringLiteral("Breaker %1").arg(point);
    e.stateText = body.endsWith(u"On") ? QStringLiteral("On") : QStringLiteral("Off");
    e.text = QStringLiteral("%1  %2  S  G   %3")
                 .arg(local.date().toString(Qt::ISODate), local.time().toString(QStringLiteral("HH:mm:ss.zzz")), body);
    e.received = utc;
    e.raw = e.moduleTime.toLatin1();
    return e;
}

QString InputLine(int point, bool on)
{
    return QStringLiteral("Input Point %1  %2").arg(point, 2).arg(on ? QStringLiteral("On") : QStringLiteral("Off"));
}

// Three hours of three modules around Berlin's fall-back, with bursts of
// changes that chatter (more than 10 in a second) and one that just does not.
QList<JournalEvent> VariedJournal()
{
    QList<JournalEvent> rows;
    std::mt19937 random(7);
    for (int i = 0; i < 220; ++i) {
        const int m = i % 3;
        const QDateTime utc = Base.addMSecs(qint64(i) * 49'000 + random() % 1000);
        const int kind = int(random() % 10);
        int point = int(random() % 5);
        QString body;
        if (kind < 5 && point > 0)
            body = InputLine(point, random() % 2);
        else if (kind == 5)
            body = QStringLiteral("Output Point  3  On"), point = 3;
        else if (kind == 6)
            body = QString::fromUtf8(Awkward[random() % std::size(Awkward)]), point = 0;
        else
            body = QStringLiteral("Power Up"), point = 0;
        JournalEvent row = Row(m, utc, point, body);
        if (i % 70 == 5)
            row.moduleName = QStringLiteral("South 2");
        rows << row;
    }
    // Bursts: (module, point, first change, changes, ms apart).
    const std::tuple<int, int, QDateTime, int, int> bursts[] = {{0, 4, Base.addSecs(1800), 15, 60},
        {1, 4, Base.addSecs(1800).addMSecs(30), 12, 80}, {2, 2, Base.addSecs(5400), 14, 50},
        {1, 1, Base.addSecs(7000), 10, 90}, {0, 2, Base.addSecs(5000), 11, 95}};
    for (const auto& [m, point, start, count, step] : bursts)
        for (int i = 0; i < count; ++i)
            rows << Row(m, start.addMSecs(qint64(i) * step), point, InputLine(point, i % 2));
    rows << Row(1, Base.addSecs(1801), 4, QStringLiteral("Input Point  4  Chatter On Scan"));
    // Ties the order breaks by module, then id: Feeder and Bay 9 at one UTC
    // time, Bay 9 and South (no zone) at one module time, and a genuine
    // repeat stored twice.
    for (int k = 0; k < 4; ++k) {
        const QDateTime at = Base.addSecs(600 + k);
        rows << Row(1, at, 1, QStringLiteral("Power Up")) << Row(0, at, 3, QStringLiteral("Power Up"))
             << Row(2, at.addSecs(19800), 2, QStringLiteral("Power Up"));
        rows << rows.last();
    }
    // Undated: no module time, no UTC time.
    JournalEvent undated = Row(1, Base.addSecs(3000), 1, InputLine(1, true));
    undated.moduleTime.clear();
    undated.utcTime = {};
    undated.marks = QStringLiteral("undated");
    rows << undated;
    return rows;
}

class JournalPageTest : public JournalBackend {
protected:
    void SetUp() override
    {
        JournalBackend::SetUp();
        QString error;
        ASSERT_TRUE(store_.open(location_, &error)) << error;
        QList<JournalEvent> rows = VariedJournal();
        // Stored out of time order, as modules' blocks arrive.
        std::shuffle(rows.begin(), rows.end(), std::mt19937(3));
        ASSERT_TRUE(store_.append(rows, &error)) << error;
        const auto all = JournalRowsAfter(store_, 0, {}, 100'000, &error);
        ASSERT_TRUE(all) << error;
        all_ = *all;
        ASSERT_EQ(all_.size(), rows.size());
    }

    // Every row of `filter` through pages of `limit`, checking what each says.
    QList<JournalEvent> Pages(JournalPageRequest request, int limit, qint64 expectedTotal)
    {
        request.limit = limit;
        QList<JournalEvent> rows;
        for (request.offset = 0;; request.offset += limit) {
            QString error;
            const auto page = JournalPageOf(store_, request, &error);
            EXPECT_TRUE(page) << error;
            if (!page)
                break;
            EXPECT_EQ(page->total, expectedTotal);
            EXPECT_LE(page->rows.size(), limit);
            rows << page->rows;
            EXPECT_EQ(page->more, rows.size() < expectedTotal);
            if (!page->more)
                break;
        }
        return rows;
    }

    JournalStore store_;
    QList<JournalEvent> all_;
};

QList<qint64> Ids(const QList<JournalEvent>& rows)
{
    QList<qint64> ids;
    for (const JournalEvent& row : rows)
        ids << row.id;
    return ids;
}

// A filter of random parts: bounds at and around the rows' times, modules
// by address and name, points, and searches among them texts made to break
// SQL.
JournalFilter RandomFilter(std::mt19937& random, const QList<JournalEvent>& rows)
{
    const auto chance = [&](int percent) { return int(random() % 100) < percent; };
    const auto someRow = [&]() -> const JournalEvent& { return rows[random() % rows.size()]; };
    JournalFilter filter;
    if (chance(40))
        filter.from = someRow().moduleTime;
    if (chance(40))
        filter.to = someRow().moduleTime;
    if (const JournalEvent& row = someRow(); chance(20) && row.utcTime.isValid())
        filter.fromUtc = JournalReceivedText(row.utcTime);
    if (chance(20))
        filter.toUtc = JournalReceivedText(Base.addSecs(random() % 12000));
    static const char* const modules[] = {
        "127.0.0.2", "127.0.0.4", "Feeder", "Bay 9", "South 2", "nobody", "127.0.0.3' OR '1'='1", "%"};
    if (chance(35))
        filter.module = QString::fromUtf8(modules[random() % std::size(modules)]);
    // An incident's modules.
    if (chance(20)) {
        for (int n = 1 + int(random() % 3); n > 0; --n)
            filter.modules << QString::fromUtf8(modules[random() % std::size(modules)]);
    }
    if (chance(25))
        filter.point = int(random() % 6);
    filter.pointRows = chance(15);
    static const char* const searches[] = {"'", "%", "_", "--", "'; DROP TABLE journal_events; --", "\\", "über",
        "ÜBERLAST", "100%", "a_b", "input point  4", "ON", "trip 'a'", "feeder", "\"", "%'--"};
    if (chance(35))
        filter.grep = QString::fromUtf8(searches[random() % std::size(searches)]);
    return filter;
}

QString Describe(const JournalFilter& f)
{
    return QStringLiteral("from=%1 to=%2 fromUtc=%3 toUtc=%4 module=%5 point=%6 pointRows=%7 grep=%8 modules=%9")
        .arg(f.from, f.to, f.fromUtc, f.toUtc, f.module, f.point ? QString::number(*f.point) : QStringLiteral("-"))
        .arg(f.pointRows)
        .arg(f.grep, f.modules.join(u'|'));
}

void ExpectSameTimeline(const JournalTimeline& quick, const JournalTimeline& full, const QString& what)
{
    EXPECT_EQ(quick.order, full.order) << what;
    EXPECT_EQ(quick.rows, full.rows) << what;
    EXPECT_EQ(quick.rowsWithoutUtc, full.rowsWithoutUtc) << what;
    EXPECT_EQ(quick.modulesWithoutUtc, full.modulesWithoutUtc) << what;
    EXPECT_EQ(quick.zones, full.zones) << what;
    EXPECT_EQ(quick.firstModuleTime, full.firstModuleTime) << what;
    EXPECT_EQ(quick.lastModuleTime, full.lastModuleTime) << what;
    EXPECT_EQ(quick.firstUtc, full.firstUtc) << what;
    EXPECT_EQ(quick.lastUtc, full.lastUtc) << what;
}

TEST_P(JournalPageTest, RandomFiltersSelectOrderAndCountAsTheJournalsReaders)
{
    std::mt19937 random(11);
    int selecting = 0;
    int utcOrdered = 0;
    for (int n = 0; n < 150; ++n) {
        const JournalFilter filter = RandomFilter(random, all_);
        const QString what = Describe(filter);
        QString error;
        const auto expected = JournalRows(store_, filter, &error);
        ASSERT_TRUE(expected) << error;
        QList<qint64> matching;
        for (const JournalEvent& row : std::as_const(all_))
            if (JournalFilterMatches(filter, row))
                matching << row.id;
        QList<qint64> selected = Ids(*expected);
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(matching, selected) << what;

        JournalPageRequest request;
        request.filter = filter;
        EXPECT_EQ(Ids(Pages(request, 500, expected->size())), Ids(*expected)) << what;
        request.descending = true;
        QList<qint64> reversed = Ids(*expected);
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(Ids(Pages(request, 37, expected->size())), reversed) << what;

        const auto full = JournalTimelineOf(store_, filter, &error);
        const auto quick = JournalQuickTimeline(store_, filter, &error);
        ASSERT_TRUE(full && quick) << error;
        ExpectSameTimeline(*quick, *full, what);
        selecting += !expected->isEmpty();
        utcOrdered += !expected->isEmpty() && full->order == JournalTimeOrder::Utc;
    }
    // The draw reached both orders and empty selections.
    EXPECT_GT(utcOrdered, 10);
    EXPECT_GT(selecting - utcOrdered, 10);
    EXPECT_LT(selecting, 140);
}

// Pages of every sort key either way put together are the whole selection
// in that key's order, ties on the journal's time line.
TEST_P(JournalPageTest, EverySortKeyPagesWithoutGapsOrRepeats)
{
    for (const bool utc : {false, true}) {
        JournalFilter filter;
        // Bay 9 has UTC times on every row but its undated one.
        if (utc) {
            filter.module = QStringLiteral("Bay 9");
            filter.from = QStringLiteral("2026-10-25T00:00:00.000");
        }
        QString error;
        const auto rows = JournalRows(store_, filter, &error);
        ASSERT_TRUE(rows) << error;
        const JournalTimeOrder order = TimeOrderOf(*rows);
        ASSERT_EQ(order, utc ? JournalTimeOrder::Utc : JournalTimeOrder::ModuleTime);
        const auto time = [order](const JournalEvent& e) {
            return order == JournalTimeOrder::Utc ? JournalReceivedText(e.utcTime) : e.moduleTime;
        };
        const std::pair<JournalSortKey, std::function<bool(const JournalEvent&, const JournalEvent&)>> keys[] = {
            {JournalSortKey::Module,
                [&](const auto& a, const auto& b) {
                    return std::tuple(a.module, time(a), a.id) < std::tuple(b.module, time(b), b.id);
                }},
            {JournalSortKey::Point,
                [&](const auto& a, const auto& b) {
                    return std::tuple(a.point, time(a), a.module, a.id) < std::tuple(b.point, time(b), b.module, b.id);
                }},
            {JournalSortKey::Text,
                [&](const auto& a, const auto& b) {
                    return std::tuple(a.text.toUtf8(), time(a), a.module, a.id) <
                        std::tuple(b.text.toUtf8(), time(b), b.module, b.id);
                }},
            {JournalSortKey::Id, [](const auto& a, const auto& b) { return a.id < b.id; }},
        };
        for (const auto& [key, earlier] : keys) {
            QList<JournalEvent> expected = *rows;
            std::sort(expected.begin(), expected.end(), earlier);
            JournalPageRequest request;
            request.filter = filter;
            request.key = key;
            EXPECT_EQ(Ids(Pages(request, 13, rows->size())), Ids(expected)) << int(key) << " utc " << utc;
            std::reverse(expected.begin(), expected.end());
            request.descending = true;
            EXPECT_EQ(Ids(Pages(request, 13, rows->size())), Ids(expected)) << int(key) << " utc " << utc;
        }
    }
}

TEST_P(JournalPageTest, TextsFromAPageAreValuesOnly)
{
    QString error;
    JournalFilter filter;
    filter.grep = QStringLiteral("'; DROP TABLE journal_events; --");
    JournalPageRequest request;
    request.filter = filter;
    const auto page = JournalPageOf(store_, request, &error);
    ASSERT_TRUE(page) << error;
    ASSERT_GT(page->total, 0);
    for (const JournalEvent& row : page->rows)
        EXPECT_TRUE(row.text.contains(filter.grep)) << row.text;
    // A quote alone finds the rows that hold one, and nothing else happened.
    request.filter.grep = QStringLiteral("'");
    request.filter.module = QStringLiteral("x' OR 1=1 --");
    const auto none = JournalPageOf(store_, request, &error);
    ASSERT_TRUE(none) << error;
    EXPECT_EQ(none->total, 0);
    const auto after = JournalRowsAfter(store_, 0, {}, 100'000, &error);
    ASSERT_TRUE(after) << error;
    EXPECT_EQ(*after, all_);
}

TEST_P(JournalPageTest, APageOutsideItsBoundsIsRefusedOrEmpty)
{
    QString error;
    for (const auto& [offset, limit] : {std::pair{qint64(-1), 10}, {0, 0}, {0, 501}}) {
        JournalPageRequest request;
        request.offset = offset;
        request.limit = limit;
        EXPECT_FALSE(JournalPageOf(store_, request, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("1 to 500 rows"))) << error;
    }
    JournalPageRequest beyond;
    beyond.offset = all_.size();
    const auto page = JournalPageOf(store_, beyond, &error);
    ASSERT_TRUE(page) << error;
    EXPECT_TRUE(page->rows.isEmpty());
    EXPECT_EQ(page->total, all_.size());
    EXPECT_FALSE(page->more);
}

// An undated row in a group of dated ones leaves the first module time to
// the dated rows.
TEST_P(JournalPageTest, TheFirstModuleTimeIsTheFirstDatedOne)
{
    JournalFilter filter;
    filter.module = QStringLiteral("127.0.0.3");
    QString error;
    const auto full = JournalTimelineOf(store_, filter, &error);
    ASSERT_TRUE(full) << error;
    QString first;
    for (const JournalEvent& row : std::as_const(all_))
        if (row.module == filter.module && !row.moduleTime.isEmpty() && (first.isEmpty() || row.moduleTime < first))
            first = row.moduleTime;
    EXPECT_EQ(full->firstModuleTime, first);
    // Named by the greatest name among its rows: one was stored as South 2.
    EXPECT_EQ(full->modulesWithoutUtc, QStringList{"South 2"});
}

TEST_P(JournalPageTest, APagesChatterIsTheJournalsChatterOfItsRows)
{
    JournalFilter berlinHour;
    berlinHour.from = QStringLiteral("2026-10-25T02:00:00.500");
    berlinHour.to = QStringLiteral("2026-10-25T03:00:00.000");
    JournalFilter bay;
    bay.module = QStringLiteral("127.0.0.3");
    bay.from = QStringLiteral("2026-10-25T05:30:00.000");
    JournalFilter south;
    south.module = QStringLiteral("127.0.0.4");
    JournalFilter four;
    four.point = 4;
    four.to = QStringLiteral("2026-10-25T01:00:00.300");
    int chattering = 0;
    int utcPages = 0;
    for (const JournalFilter& filter : {JournalFilter{}, berlinHour, bay, south, four}) {
        QString error;
        const auto timeline = JournalTimelineOf(store_, filter, &error);
        ASSERT_TRUE(timeline) << error;
        const auto chatter = ReadJournalChatter(store_, filter, *timeline, {}, &error);
        ASSERT_TRUE(chatter) << error;
        for (const bool descending : {false, true}) {
            JournalPageRequest request;
            request.filter = filter;
            request.descending = descending;
            request.limit = 9;
            for (request.offset = 0; request.offset < timeline->rows; request.offset += request.limit) {
                const auto page = JournalPageOf(store_, request, &error);
                ASSERT_TRUE(page) << error;
                const auto found = ChatteringRowsAmong(store_, page->rows, &error, page->order);
                ASSERT_TRUE(found) << error;
                QSet<qint64> expected;
                for (const JournalEvent& row : page->rows)
                    if (chatter->chattering(row))
                        expected.insert(row.id);
                EXPECT_EQ(*found, expected) << Describe(filter) << " offset " << request.offset;
                // Read as one span of time, as a page of a period is; any
                // page's answer is the same that way, if dearer.
                EXPECT_EQ(page->contiguous, filter.module.isEmpty() && !filter.point) << Describe(filter);
                JournalPage spanned = *page;
                spanned.contiguous = true;
                const auto overSpan = ChatteringRowsOfPage(store_, spanned, &error);
                ASSERT_TRUE(overSpan) << error;
                EXPECT_EQ(*overSpan, expected) << Describe(filter) << " offset " << request.offset << ", one span";
                chattering += found->size();
                utcPages += page->order == JournalTimeOrder::Utc;
            }
        }
    }
    EXPECT_GT(chattering, 50);
    EXPECT_GT(utcPages, 3);
}

// A page of one row after a second of 1100 changes: its span holds more than
// a one-row page reads as one range, so the chatter is read per point, and
// says the same.
TEST_P(JournalPageTest, ACrowdedSpanIsReadPerPoint)
{
    const QDateTime at = Base.addSecs(12'000);
    QList<JournalEvent> burst;
    for (int k = 0; k < 1100; ++k)
        burst << Row(2, at.addMSecs(-999 + k % 999), 1 + k % 11, InputLine(1 + k % 11, k % 2));
    burst << Row(2, at, 1, InputLine(1, true));
    QString error;
    ASSERT_TRUE(store_.append(burst, &error)) << error;
    JournalPageRequest request;
    request.filter.from = JournalTimeText(at);
    request.limit = 1;
    const auto page = JournalPageOf(store_, request, &error);
    ASSERT_TRUE(page) << error;
    ASSERT_EQ(page->rows.size(), 1);
    ASSERT_TRUE(page->contiguous);
    const auto timeline = JournalTimelineOf(store_, request.filter, &error);
    ASSERT_TRUE(timeline) << error;
    const auto chatter = ReadJournalChatter(store_, request.filter, *timeline, {}, &error);
    ASSERT_TRUE(chatter) << error;
    ASSERT_TRUE(chatter->chattering(page->rows.first()));
    const auto found = ChatteringRowsOfPage(store_, *page, &error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(*found, QSet<qint64>{page->rows.first().id});
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalPageTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalPageTest, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
