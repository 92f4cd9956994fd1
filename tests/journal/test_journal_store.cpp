// The store and its queries on both kinds of journal: what goes in comes out
// in order, a block is all or nothing, old journals are brought up to date,
// and two writers share one journal.
#include "journal_backend.h"

#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <array>
#include <atomic>
#include <thread>
#include <tuple>
#include <utility>

#include <sys/stat.h>

namespace chronel::test {
namespace {

JournalEvent Event(const QString& module, const QString& time, int point, const QString& text = {})
{
    JournalEvent event;
    event.module = module;
    event.moduleName = module == u"127.0.0.2" ? QStringLiteral("North") : QStringLiteral("South");
    event.moduleTime = time;
    event.dateSource = QStringLiteral("record");
    event.point = point;
    event.pointDescription = QStringLiteral("Breaker %1").arg(point);
    event.stateText = point % 2 ? QStringLiteral("Open") : QStringLiteral("Closed");
    event.text = text.isEmpty() ? QStringLiteral("%1  Input Point %2  On").arg(time).arg(point, 2) : text;
    event.quality = 3;
    event.scanFlags = 1;
    event.received = QDateTime(QDate(2024, 3, 1), QTime(14, 0, 0, 250), Qt::UTC);
    event.raw = QByteArray::number(point) + '\0' + time.toLatin1();
    return event;
}

int RowCount(const JournalStore& store)
{
    QSqlQuery query(store.database());
    EXPECT_TRUE(query.exec(QStringLiteral("SELECT count(*) FROM journal_events")) && query.next());
    return query.value(0).toInt();
}

using JournalStoreTest = JournalBackend;

TEST_P(JournalStoreTest, RowsComeBackAsStoredAndAnIdentityIsStoredOnce)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    QList<JournalEvent> block{Event("127.0.0.2", "2024-03-01T13:05:07.042", 5),
        Event("127.0.0.3", "2024-03-01T13:05:07.001", 0, QStringLiteral("Power on Reset"))};
    block[0].block = 4;
    block[0].record = 0;
    block[0].moduleId = -2;
    block[1].block = 4;
    block[1].record = 1;
    block[1].marks = QStringLiteral("malformed");
    int added = -1;
    ASSERT_TRUE(store.append(block, &error, &added)) << error;
    EXPECT_EQ(added, 2);

    auto rows = JournalRows(store, {}, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 2);
    // Module-time order, not the order of the block.
    for (int i = 0; i < 2; ++i) {
        JournalEvent expected = block[1 - i];
        EXPECT_GT((*rows)[i].id, 0);
        expected.id = (*rows)[i].id;
        EXPECT_EQ((*rows)[i], expected) << "row " << i;
    }

    // The same identities again: nothing new. A genuine repeat (same module,
    // time and bytes) under another record number is another event.
    ASSERT_TRUE(store.append(block, &error, &added)) << error;
    EXPECT_EQ(added, 0);
    JournalEvent repeat = block[0];
    repeat.record = 2;
    ASSERT_TRUE(store.append({block[0], repeat}, &error, &added)) << error;
    EXPECT_EQ(added, 1);
    EXPECT_EQ(RowCount(store), 3);

    // A row with only what orders it: no identity, stored empty otherwise,
    // and stored each time (nothing says it is the same event).
    JournalEvent bare;
    bare.module = QStringLiteral("127.0.0.4");
    bare.moduleTime = QStringLiteral("2024-03-01T13:05:07.042");
    bare.received = block[0].received;
    ASSERT_TRUE(store.append({bare, bare}, &error, &added)) << error;
    EXPECT_EQ(added, 2);
    JournalFilter filter;
    filter.module = bare.module;
    rows = JournalRows(store, filter, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 2);
    bare.id = rows->front().id;
    EXPECT_EQ(rows->front(), bare);

    // Only an undated row goes without a module time.
    bare.moduleTime.clear();
    EXPECT_FALSE(store.append({bare}, &error));
    bare.marks = QStringLiteral("undated");
    EXPECT_TRUE(store.append({bare}, &error)) << error;
}

// A module's blocks are numbered by the journal, and the module's state is
// stored in the block's transaction: a block the journal refuses changes
// neither rows nor state.
TEST_P(JournalStoreTest, BlocksAreNumberedWithTheModulesStateInOneTransaction)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    auto state = store.moduleState(QStringLiteral("127.0.0.2"), &error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->block, 0);
    EXPECT_TRUE(state->unconfirmed.isEmpty());

    JournalModuleState after;
    after.module = QStringLiteral("127.0.0.2");
    after.moduleId = 12;
    after.unconfirmed = QByteArray(200, '\x5a');
    after.decoder = QStringLiteral("{\"date\":[2024,3,1]}");
    QList<JournalEvent> rows{
        Event("127.0.0.2", "2024-03-01T13:00:00.000", 1), Event("127.0.0.2", "2024-03-01T13:00:00.000", 1)};
    rows[1].record = 1;
    qint64 number = 0;
    ASSERT_TRUE(store.appendBlock(rows, after, &error, &number)) << error;
    EXPECT_EQ(number, 1);
    ASSERT_TRUE(store.appendBlock({}, after, &error, &number)) << error;
    EXPECT_EQ(number, 2);
    state = store.moduleState(QStringLiteral("127.0.0.2"), &error);
    ASSERT_TRUE(state) << error;
    JournalModuleState expected = after;
    expected.block = 2;
    EXPECT_EQ(*state, expected);
    const auto stored = JournalRows(store, {}, &error);
    ASSERT_TRUE(stored) << error;
    ASSERT_EQ(stored->size(), 2);
    EXPECT_EQ((*stored)[0].block, 1);
    EXPECT_EQ((*stored)[1].block, 1);
    EXPECT_EQ((*stored)[1].record, 1);

    // Confirmation of another block changes nothing; of the last one, it
    // drops the kept block.
    ASSERT_TRUE(store.confirmBlock(after.module, 1, &error)) << error;
    EXPECT_EQ(store.moduleState(after.module, &error)->unconfirmed, after.unconfirmed);
    ASSERT_TRUE(store.confirmBlock(after.module, 2, &error)) << error;
    EXPECT_TRUE(store.moduleState(after.module, &error)->unconfirmed.isEmpty());

    // A refused row: neither the block's rows nor the state change.
    JournalModuleState refusedState = after;
    refusedState.decoder = QStringLiteral("refused");
    JournalEvent wrong = Event("127.0.0.2", "2024-03-01 13:00", 1);
    EXPECT_FALSE(store.appendBlock({rows[0], wrong}, refusedState, &error));
    exec(QStringLiteral("DROP TABLE journal_events"));
    EXPECT_FALSE(store.appendBlock({rows[0]}, refusedState, &error));
    state = store.moduleState(after.module, &error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->block, 2);
    EXPECT_EQ(state->decoder, after.decoder);
    // A row of another module is no part of this module's block.
    EXPECT_FALSE(store.appendBlock({Event("127.0.0.3", "2024-03-01T13:00:00.000", 1)}, after, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.3"))) << error;
}

TEST_P(JournalStoreTest, AFailedBlockStoresNothingAndNamesTheJournal)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    // A row the database refuses halfway through the block.
    if (dialect() == JournalDialect::Sqlite) {
        exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON journal_events WHEN NEW.text = 'refused'"
                            " BEGIN SELECT RAISE(ABORT, 'row refused'); END"));
    } else {
        exec(QStringLiteral("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                            " IF NEW.text = 'refused' THEN RAISE EXCEPTION 'row refused'; END IF; RETURN NEW; END $$"));
        exec(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE INSERT ON journal_events FOR EACH ROW EXECUTE FUNCTION refuse()"));
    }
    const QList<JournalEvent> block{Event("127.0.0.2", "2024-03-01T13:00:00.000", 1),
        Event("127.0.0.2", "2024-03-01T13:00:00.001", 2), Event("127.0.0.2", "2024-03-01T13:00:00.002", 3, "refused"),
        Event("127.0.0.2", "2024-03-01T13:00:00.003", 4)};
    int added = -1;
    EXPECT_FALSE(store.append(block, &error, &added));
    EXPECT_EQ(added, 0);
    EXPECT_TRUE(error.contains(location_.displayName())) << error;
    EXPECT_TRUE(error.contains(QStringLiteral("row refused"))) << error;
    EXPECT_EQ(RowCount(store), 0);

    // The store goes on after a failure.
    ASSERT_TRUE(store.append(block.mid(0, 2), &error, &added)) << error;
    EXPECT_EQ(added, 2);

    // A row not in the stored form is refused before the database sees it.
    JournalEvent wrong = Event("127.0.0.2", "2024-03-01 13:00:00", 1);
    EXPECT_FALSE(store.append({block[3], wrong}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("row 2"))) << error;

    exec(QStringLiteral("DROP TABLE journal_events"));
    EXPECT_FALSE(store.append({block[3]}, &error));
    EXPECT_TRUE(error.contains(location_.displayName())) << error;
    EXPECT_TRUE(error.contains(QStringLiteral("journal_events"))) << error;
}

TEST_P(JournalStoreTest, AVersionOneJournalIsMigratedWithItsRows)
{
    QString error;
    QSqlDatabase db = raw();
    ASSERT_TRUE(MigrateJournal(db, dialect(), QStringLiteral("old"), &error, nullptr, 1)) << error;
    ASSERT_EQ(JournalVersion(db, dialect(), &error), 1) << error;
    // A row as a version-1 collector stored it, without date source or scan flags.
    exec(QStringLiteral(
        "INSERT INTO journal_events (module, module_name, module_time, point, point_description,"
        " state_text, text, quality, received, raw) VALUES ('127.0.0.2', 'North',"
        " '2024-03-01T12:00:00.000', 7, 'Feeder', 'On', 'old line', 1, '2024-03-01T12:00:01.000Z', 'ab')"));

    QSqlQuery oldId(db);
    ASSERT_TRUE(oldId.exec(QStringLiteral("SELECT id FROM journal_events")) && oldId.next());
    const qint64 id = oldId.value(0).toLongLong();
    oldId.finish();

    JournalStore store;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    EXPECT_EQ(JournalVersion(db, dialect(), &error), JournalSchemaVersion);
    // Two events of one millisecond with the same bytes, which the key of
    // versions 1 and 2 took for one.
    QList<JournalEvent> repeats{
        Event("127.0.0.2", "2024-03-01T12:30:00.000", 7), Event("127.0.0.2", "2024-03-01T12:30:00.000", 7)};
    repeats[0].block = repeats[1].block = 1;
    repeats[1].record = 1;
    int added = 0;
    ASSERT_TRUE(store.append(repeats, &error, &added)) << error;
    EXPECT_EQ(added, 2);

    JournalFilter byName;
    byName.module = QStringLiteral("North");
    const auto rows = JournalRows(store, byName, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 3);
    // The old row keeps its id, which a reader following ids relies on.
    EXPECT_EQ((*rows)[0].id, id);
    EXPECT_GT((*rows)[1].id, id);
    EXPECT_EQ((*rows)[0].block, 0);
    EXPECT_EQ((*rows)[0].moduleId, std::nullopt);
    EXPECT_EQ((*rows)[0].text, QStringLiteral("old line"));
    EXPECT_EQ((*rows)[0].dateSource, QString(""));
    EXPECT_EQ((*rows)[0].raw, QByteArray("ab"));
    EXPECT_EQ((*rows)[0].received, QDateTime(QDate(2024, 3, 1), QTime(12, 0, 1), Qt::UTC));
    EXPECT_EQ((*rows)[1].dateSource, QStringLiteral("record"));
    EXPECT_EQ((*rows)[1].scanFlags, 1);

    // A journal from a newer program is left alone.
    store.close();
    exec(QStringLiteral("UPDATE journal_meta SET value = '%1' WHERE key = 'schema_version'")
             .arg(JournalSchemaVersion + 1));
    EXPECT_FALSE(store.open(location_, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("newer"))) << error;
}

// journal_events as stored: each column's name, type, NOT NULL, default,
// identity and collation, in order, then the unique key.
QString StoredColumns(QSqlDatabase db, JournalDialect dialect)
{
    const QString columns = dialect == JournalDialect::Sqlite
        ? QStringLiteral("SELECT group_concat(name || ' ' || type || CASE WHEN \"notnull\" THEN ' NOT NULL' ELSE '' END"
                         " || coalesce(' DEFAULT ' || dflt_value, '') || CASE WHEN pk THEN ' PRIMARY KEY' ELSE '' END,"
                         " ', ') FROM (SELECT * FROM pragma_table_info('journal_events') ORDER BY cid)")
        : QStringLiteral("SELECT string_agg(a.attname || ' ' || format_type(a.atttypid, a.atttypmod)"
                         " || CASE WHEN a.attnotnull THEN ' NOT NULL' ELSE '' END"
                         " || coalesce(' DEFAULT ' || pg_get_expr(d.adbin, d.adrelid), '')"
                         " || CASE WHEN a.attidentity <> '' THEN ' IDENTITY' ELSE '' END"
                         " || CASE WHEN c.collname <> 'default' THEN ' COLLATE ' || c.collname ELSE '' END,"
                         " ', ' ORDER BY a.attnum) FROM pg_attribute a"
                         " LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum"
                         " LEFT JOIN pg_collation c ON c.oid = a.attcollation"
                         " WHERE a.attrelid = 'journal_events'::regclass AND a.attnum > 0 AND NOT a.attisdropped");
    const QString key = dialect == JournalDialect::Sqlite
        ? QStringLiteral(
              "SELECT group_concat(name, ', ') FROM (SELECT i.name FROM pragma_index_list('journal_events') l,"
              " pragma_index_info(l.name) i WHERE l.origin = 'u' ORDER BY i.seqno)")
        : QStringLiteral("SELECT pg_get_constraintdef(oid) FROM pg_constraint"
                         " WHERE conrelid = 'journal_events'::regclass AND contype = 'u'");
    QStringList parts;
    for (const QString& sql : {columns, key}) {
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql) && query.next()) << query.lastError().text().toStdString();
        parts << query.value(0).toString();
    }
    return parts.join(QStringLiteral("; "));
}

// Each version's table as the version's first program stored it: readers of
// a journal count on what its version holds, so a row of the column table
// changed after its version was out fails here.
TEST_P(JournalStoreTest, EachVersionKeepsItsColumns)
{
    const bool sqlite = dialect() == JournalDialect::Sqlite;
    const QString first = sqlite
        ? QStringLiteral(
              "id INTEGER PRIMARY KEY, module TEXT NOT NULL, module_name TEXT NOT NULL DEFAULT '',"
              " module_time TEXT NOT NULL, point INTEGER NOT NULL DEFAULT 0, point_description TEXT NOT NULL"
              " DEFAULT '', state_text TEXT NOT NULL DEFAULT '', text TEXT NOT NULL, quality INTEGER NOT NULL"
              " DEFAULT 0, received TEXT NOT NULL, raw BLOB NOT NULL")
        : QStringLiteral(
              "id bigint NOT NULL IDENTITY, module text NOT NULL COLLATE C, module_name text NOT NULL DEFAULT"
              " ''::text COLLATE C, module_time text NOT NULL COLLATE C, point integer NOT NULL DEFAULT 0,"
              " point_description text NOT NULL DEFAULT ''::text, state_text text NOT NULL DEFAULT ''::text,"
              " text text NOT NULL, quality integer NOT NULL DEFAULT 0, received text NOT NULL, raw bytea"
              " NOT NULL");
    const QString second = sqlite
        ? QStringLiteral(", date_source TEXT NOT NULL DEFAULT '', scan_flags INTEGER NOT NULL DEFAULT 0")
        : QStringLiteral(", date_source text NOT NULL DEFAULT ''::text, scan_flags integer NOT NULL DEFAULT 0");
    const QString third = sqlite
        ? QStringLiteral(", module_id INTEGER, block INTEGER, record INTEGER, marks TEXT NOT NULL DEFAULT ''")
        : QStringLiteral(", module_id integer, block bigint, record integer, marks text NOT NULL DEFAULT ''::text");
    const QString oldKey =
        sqlite ? QStringLiteral("; module, module_time, raw") : QStringLiteral("; UNIQUE (module, module_time, raw)");
    const QString identity =
        sqlite ? QStringLiteral("; module, block, record") : QStringLiteral("; UNIQUE (module, block, record)");
    const QStringList expected{first + oldKey, first + second + oldKey, first + second + third + identity};

    QSqlDatabase db = raw();
    if (!sqlite)
        exec(QStringLiteral("SET client_min_messages = warning"));
    QString error;
    for (int version = 1; version <= 3; ++version) {
        for (const char* table : {"journal_modules", "journal_events", "journal_meta"})
            exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1StringView(table)));
        ASSERT_TRUE(MigrateJournal(db, dialect(), QStringLiteral("old"), &error, nullptr, version)) << error;
        EXPECT_EQ(StoredColumns(db, dialect()), expected[version - 1]) << "version " << version;
    }
}

// Two stores on two threads, each with its own module and both with the same
// shared blocks (the same identities): every row once, and every append
// committed.
TEST_P(JournalStoreTest, TwoWritersShareOneJournal)
{
    constexpr int Blocks = 60;
    constexpr int Rows = 30;
    std::atomic<int> added{0};
    std::atomic<int> failures{0};
    std::array<QString, 2> errors;
    auto writer = [&](int n) {
        JournalStore store;
        if (!store.open(location_, &errors[n])) {
            ++failures;
            return;
        }
        for (int b = 0; b < Blocks; ++b) {
            for (const QString& module : {QStringLiteral("10.0.0.%1").arg(n + 1), QStringLiteral("10.0.0.9")}) {
                QList<JournalEvent> block;
                for (int r = 0; r < Rows; ++r) {
                    const QDateTime time = QDateTime(QDate(2024, 3, 1), QTime(0, 0)).addMSecs(b * Rows + r);
                    block << Event(module, JournalTimeText(time), r % 32 + 1);
                    block.back().block = b + 1;
                    block.back().record = r;
                }
                int count = 0;
                if (!store.append(block, &errors[n], &count))
                    ++failures;
                added += count;
            }
        }
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0) << errors[0] << errors[1];
    EXPECT_EQ(added.load(), 3 * Blocks * Rows);

    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    EXPECT_EQ(RowCount(store), 3 * Blocks * Rows);
    // Ids follow commit order: each block's rows are consecutive.
    const auto rows = JournalRowsAfter(store, 0, {}, 3 * Blocks * Rows, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 3 * Blocks * Rows);
    for (qsizetype i = 0; i < rows->size(); ++i) {
        if (i % Rows == 0)
            continue;
        EXPECT_EQ((*rows)[i].module, (*rows)[i - 1].module) << "a block split at row " << i;
        EXPECT_GT((*rows)[i].moduleTime, (*rows)[i - 1].moduleTime) << "row " << i;
    }
}

TEST(JournalStoreFile, WhatCannotBeOpenedIsNamed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    JournalLocation location;
    location.path = dir.filePath(QStringLiteral("missing/journal.sqlite"));
    JournalStore store;
    QString error;
    EXPECT_FALSE(store.open(location, &error));
    EXPECT_TRUE(error.contains(location.path)) << error;
    EXPECT_FALSE(store.isOpen());

    location.path = dir.filePath(QStringLiteral("notes.txt"));
    QFile notes(location.path);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write(QByteArray(4096, 'x'));
    notes.close();
    EXPECT_FALSE(store.open(location, &error));
    EXPECT_TRUE(error.contains(location.path)) << error;
    EXPECT_TRUE(error.contains(QStringLiteral("not a database"))) << error;
    EXPECT_FALSE(store.append({Event("127.0.0.2", "2024-03-01T13:00:00.000", 1)}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not open"))) << error;
}

// Under the usual umask SQLite would create the journal 0644, readable by
// every local user.
TEST(JournalStoreFile, ANewJournalAndItsWalAreTheOwnersAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    JournalLocation location;
    location.path = dir.filePath(QStringLiteral("journal.sqlite"));
    const mode_t umaskBefore = ::umask(022);
    JournalStore store;
    QString error;
    const bool opened = store.open(location, &error);
    ::umask(umaskBefore);
    ASSERT_TRUE(opened) << error;
    ASSERT_TRUE(store.append({Event("127.0.0.2", "2024-03-01T13:00:00.000", 1)}, &error)) << error;
    for (const QString& name : {location.path, location.path + QStringLiteral("-wal")}) {
        struct stat info { };
        ASSERT_EQ(::stat(QFile::encodeName(name).constData(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }
}

// In a folder shared through its group (setgid, as the collector's state
// directory is for the web view), the group reads and writes the journal and
// its -wal, as far as the umask lets it.
TEST(JournalStoreFile, ANewJournalInASharedFolderIsTheGroups)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 02770), 0);
    for (const auto& [mask, expected] : {std::pair{mode_t(007), 0660u}, std::pair{mode_t(027), 0640u}}) {
        JournalLocation location;
        location.path = dir.filePath(QStringLiteral("journal-%1.sqlite").arg(mask, 3, 8, QLatin1Char('0')));
        const mode_t umaskBefore = ::umask(mask);
        JournalStore store;
        QString error;
        const bool opened = store.open(location, &error);
        ::umask(umaskBefore);
        ASSERT_TRUE(opened) << error;
        ASSERT_TRUE(store.append({Event("127.0.0.2", "2024-03-01T13:00:00.000", 1)}, &error)) << error;
        for (const QString& name : {location.path, location.path + QStringLiteral("-wal")}) {
            struct stat info { };
            ASSERT_EQ(::stat(QFile::encodeName(name).constData(), &info), 0) << name;
            EXPECT_EQ(info.st_mode & 0777, expected) << name;
        }
    }
}

using JournalQueryTest = JournalBackend;

TEST_P(JournalQueryTest, FiltersSelectAndOrderRows)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    // Stored out of order; two modules share 13:30:00.000.
    const QList<JournalEvent> events{
        Event("127.0.0.3", "2024-03-01T13:30:00.000", 5, QStringLiteral("INPUT POINT 5 ON")),
        Event("127.0.0.2", "2024-03-01T14:00:00.000", 5),
        Event("127.0.0.2", "2024-03-01T13:30:00.000", 6),
        Event("127.0.0.2", "2024-03-01T12:59:59.999", 5),
        Event("127.0.0.2", "2024-03-01T13:00:00.000", 5, QStringLiteral("100% of 5_x")),
        Event("127.0.0.3", "2024-03-02T00:00:00.000", 0, QStringLiteral("Power on Reset")),
    };
    ASSERT_TRUE(store.append(events, &error)) << error;
    auto texts = [&](const JournalFilter& filter) {
        QStringList found;
        const auto rows = JournalRows(store, filter, &error);
        EXPECT_TRUE(rows) << error.toStdString();
        for (const auto& row : rows.value_or(QList<JournalEvent>{}))
            found << row.module + u' ' + row.moduleTime.mid(11);
        return found.join(u',');
    };

    EXPECT_EQ(texts({}),
        "127.0.0.2 12:59:59.999,127.0.0.2 13:00:00.000,127.0.0.2 13:30:00.000,127.0.0.3 13:30:00.000,"
        "127.0.0.2 14:00:00.000,127.0.0.3 00:00:00.000");

    JournalFilter hour;
    ASSERT_TRUE(hour.setFrom(QStringLiteral("2024-03-01 13:00"), &error)) << error;
    ASSERT_TRUE(hour.setTo(QStringLiteral("2024-03-01T14:00"), &error)) << error;
    EXPECT_EQ(texts(hour), "127.0.0.2 13:00:00.000,127.0.0.2 13:30:00.000,127.0.0.3 13:30:00.000");
    hour.point = 5;
    EXPECT_EQ(texts(hour), "127.0.0.2 13:00:00.000,127.0.0.3 13:30:00.000");
    hour.module = QStringLiteral("South");
    EXPECT_EQ(texts(hour), "127.0.0.3 13:30:00.000");
    hour.module = QStringLiteral("127.0.0.2");
    EXPECT_EQ(texts(hour), "127.0.0.2 13:00:00.000");
    // An incident's modules, by name or address; the module field narrows
    // them further.
    hour.modules = {QStringLiteral("South"), QStringLiteral("127.0.0.9")};
    EXPECT_EQ(texts(hour), "");
    hour.module.clear();
    EXPECT_EQ(texts(hour), "127.0.0.3 13:30:00.000");
    hour.modules << QStringLiteral("127.0.0.2");
    EXPECT_EQ(texts(hour), "127.0.0.2 13:00:00.000,127.0.0.3 13:30:00.000");

    JournalFilter day;
    ASSERT_TRUE(day.setTo(QStringLiteral("2024-03-01"), &error)) << error;
    EXPECT_EQ(texts(day).count(u','), 4) << "the whole of the 1st, not the 2nd";

    JournalFilter grep;
    grep.grep = QStringLiteral("input point 5");
    EXPECT_EQ(texts(grep), "127.0.0.3 13:30:00.000");
    grep.grep = QStringLiteral("0% of 5_");
    EXPECT_EQ(texts(grep), "127.0.0.2 13:00:00.000");
    grep.grep = QStringLiteral("%");
    EXPECT_EQ(texts(grep), "127.0.0.2 13:00:00.000");

    EXPECT_EQ(JournalRows(store, {}, &error, 2).value_or(QList<JournalEvent>{}).size(), 2);

    const auto modules = JournalModules(store, &error);
    ASSERT_TRUE(modules) << error;
    EXPECT_EQ(*modules, (QList<JournalModule>{{"127.0.0.2", "North"}, {"127.0.0.3", "South"}}));
    EXPECT_EQ(JournalPoints(store, &error), (QList<int>{0, 5, 6}));
}

TEST_P(JournalQueryTest, AViewFollowsNewRowsById)
{
    JournalStore writer;
    JournalStore reader;
    QString error;
    ASSERT_TRUE(writer.open(location_, &error)) << error;
    ASSERT_TRUE(reader.open(location_, &error)) << error;
    ASSERT_TRUE(writer.append(
        {Event("127.0.0.2", "2024-03-01T13:00:00.000", 1), Event("127.0.0.2", "2024-03-01T13:00:00.001", 2)}, &error))
        << error;
    auto first = JournalRowsAfter(reader, 0, {}, 1, &error);
    ASSERT_TRUE(first) << error;
    ASSERT_EQ(first->size(), 1);
    // An older module time arrives later; it is still new to the view.
    ASSERT_TRUE(writer.append({Event("127.0.0.3", "2024-02-01T00:00:00.000", 2)}, &error)) << error;
    JournalFilter point2;
    point2.point = 2;
    const auto rest = JournalRowsAfter(reader, first->last().id, point2, 100, &error);
    ASSERT_TRUE(rest) << error;
    ASSERT_EQ(rest->size(), 2);
    EXPECT_EQ((*rest)[0].moduleTime, QStringLiteral("2024-03-01T13:00:00.001"));
    EXPECT_EQ((*rest)[1].module, QStringLiteral("127.0.0.3"));
    EXPECT_LT((*rest)[0].id, (*rest)[1].id);
    EXPECT_TRUE(JournalRowsAfter(reader, (*rest)[1].id, {}, 100, &error).value().isEmpty());
}

// More rows than one page, with many rows on each module time, so that pages
// end in the middle of a time.
TEST_P(JournalQueryTest, LongResultsComeInOrderAcrossPages)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    constexpr int Total = 4500;
    QList<JournalEvent> block;
    for (int i = 0; i < Total; ++i) {
        JournalEvent event =
            Event(i % 3 ? "127.0.0.2" : "127.0.0.3", QStringLiteral("2024-03-01T13:00:0%1.000").arg(i % 7), 1);
        event.raw = QByteArray::number(i);
        block << event;
        if (block.size() == 500) {
            ASSERT_TRUE(store.append(block, &error)) << error;
            block.clear();
        }
    }
    int seen = 0;
    JournalEvent previous;
    ASSERT_TRUE(ForEachJournalRow(
        store, {},
        [&](const JournalEvent& row) {
            const bool inOrder = std::tie(previous.moduleTime, previous.module, previous.id) <
                std::tie(row.moduleTime, row.module, row.id);
            EXPECT_TRUE(inOrder) << "row " << seen;
            previous = row;
            ++seen;
            return true;
        },
        &error))
        << error;
    EXPECT_EQ(seen, Total);

    // The sink ends the reading early.
    seen = 0;
    ASSERT_TRUE(ForEachJournalRow(
        store, {}, [&](const JournalEvent&) { return ++seen < 10; }, &error));
    EXPECT_EQ(seen, 10);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalStoreTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalStoreTest, ::testing::Values(Backend::Postgres));
INSTANTIATE_TEST_SUITE_P(Sqlite, JournalQueryTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalQueryTest, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
