// The journal's read side as a viewer uses it: a read-only store that never
// writes or migrates, notices when the files it reads are no longer the
// journal's, and says failures in words; the text filter over every text a
// row has, and the lists the window's filter and chart read.
#include "journal_backend.h"

#include "journal/journal_error.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlQuery>

namespace chronel::test {
namespace {

JournalEvent Event(
    const QString& module, const QString& time, int point, const QString& description, const QString& state)
{
    JournalEvent event;
    event.module = module;
    event.moduleName = module == u"127.0.0.2" ? QStringLiteral("North Feeder") : QStringLiteral("South");
    event.moduleTime = time;
    event.dateSource = QStringLiteral("record");
    event.point = point;
    event.pointDescription = description;
    event.stateText = state;
    event.text = QStringLiteral("%1  Input Point %2  On").arg(time).arg(point, 2);
    event.received = QDateTime(QDate(2024, 3, 1), QTime(14, 0), Qt::UTC);
    event.raw = module.toLatin1() + time.toLatin1();
    return event;
}

QStringList Times(const std::optional<QList<JournalEvent>>& rows)
{
    QStringList times;
    for (const JournalEvent& e : rows.value_or(QList<JournalEvent>{}))
        times << e.moduleTime.mid(11, 8);
    return times;
}

using JournalReadOnlyTest = JournalBackend;

TEST_P(JournalReadOnlyTest, AnOldJournalIsReadAsItIsAndNothingIsWritten)
{
    QString error;
    QSqlDatabase db = raw();
    ASSERT_TRUE(MigrateJournal(db, dialect(), QStringLiteral("old"), &error, nullptr, 1)) << error;
    exec(QStringLiteral("INSERT INTO journal_events (module, module_name, module_time, point, point_description,"
                        " state_text, text, quality, received, raw) VALUES ('127.0.0.2', 'North',"
                        " '2024-03-01T12:00:00.000', 7, 'Feeder', 'On', 'old line', 1, '2024-03-01T12:00:01.000Z',"
                        " 'ab')"));

    JournalStore store;
    ASSERT_TRUE(store.openReadOnly(location_, &error)) << error;
    EXPECT_EQ(store.schemaVersion(), 1);
    const auto rows = JournalRows(store, {}, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ((*rows)[0].text, QStringLiteral("old line"));
    EXPECT_EQ((*rows)[0].dateSource, QString(""));
    EXPECT_EQ((*rows)[0].scanFlags, 0);

    EXPECT_FALSE(store.append({Event("127.0.0.2", "2024-03-01T12:30:00.000", 7, "Feeder", "On")}, &error));
    EXPECT_EQ(JournalRows(store, {}, &error).value_or(QList<JournalEvent>{}).size(), 1);
    EXPECT_EQ(JournalVersion(db, dialect(), &error), 1) << "migrated by a reader";

    // Newer than this program, or no journal at all: refused, with why.
    store.close();
    exec(QStringLiteral("UPDATE journal_meta SET value = '%1' WHERE key = 'schema_version'")
             .arg(JournalSchemaVersion + 1));
    EXPECT_FALSE(store.openReadOnly(location_, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("newer"))) << error;
    exec(QStringLiteral("DROP TABLE journal_meta"));
    EXPECT_FALSE(store.openReadOnly(location_, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("holds no site journal"))) << error;
    EXPECT_FALSE(store.isOpen());
}

TEST_P(JournalReadOnlyTest, TheTextFilterAndTheListsOfTheFilterAndChart)
{
    JournalStore writer;
    QString error;
    ASSERT_TRUE(writer.open(location_, &error)) << error;
    ASSERT_TRUE(writer.append({Event("127.0.0.2", "2024-03-01T13:00:00.000", 5, "52-A breaker", "Tripped"),
                                  Event("127.0.0.3", "2024-03-01T13:00:01.000", 5, "Bus tie", "Closed"),
                                  Event("127.0.0.3", "2024-03-01T12:59:00.000", 7, "86 lockout", "Locked out"),
                                  Event("127.0.0.2", "2024-03-01T13:00:02.000", 0, "", "")},
        &error))
        << error;
    JournalStore store;
    ASSERT_TRUE(store.openReadOnly(location_, &error)) << error;

    // What engineers type: a description, a state's text, a module's name.
    JournalFilter grep;
    grep.grep = QStringLiteral("BREAKER");
    EXPECT_EQ(Times(JournalRows(store, grep, &error)), (QStringList{"13:00:00"}));
    grep.grep = QStringLiteral("locked");
    EXPECT_EQ(Times(JournalRows(store, grep, &error)), (QStringList{"12:59:00"}));
    grep.grep = QStringLiteral("north f");
    EXPECT_EQ(Times(JournalRows(store, grep, &error)), (QStringList{"13:00:00", "13:00:02"}));

    // Each point with its latest description, the module's when one is named.
    EXPECT_EQ(JournalPointList(store, {}, &error), (QList<JournalPoint>{{0, ""}, {5, "Bus tie"}, {7, "86 lockout"}}));
    EXPECT_EQ(JournalPointList(store, QStringLiteral("North Feeder"), &error),
        (QList<JournalPoint>{{0, ""}, {5, "52-A breaker"}, {7, "86 lockout"}}));
    EXPECT_EQ(
        JournalFirstModuleTime(store, QStringLiteral("127.0.0.3"), &error), QStringLiteral("2024-03-01T12:59:00.000"));
    EXPECT_EQ(JournalFirstModuleTime(store, QStringLiteral("127.0.0.9"), &error), QString());
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalReadOnlyTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalReadOnlyTest, ::testing::Values(Backend::Postgres));

QByteArray FileHash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

// A journal removed and written anew under the same name (or its -wal and
// -shm removed by a writer that took itself for the last one) is noticed,
// and opening again reads what is there now.
TEST(JournalReadOnlyFile, FilesNoLongerTheJournalsAreNoticed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    JournalLocation location;
    location.path = dir.filePath(QStringLiteral("journal.sqlite"));
    QString error;
    JournalStore store;
    EXPECT_FALSE(store.openReadOnly(location, &error));
    EXPECT_EQ(error, QStringLiteral("journal %1: no such file").arg(location.path));
    EXPECT_FALSE(QFile::exists(location.path)) << "a reader created the journal";

    {
        JournalStore writer;
        ASSERT_TRUE(writer.open(location, &error)) << error;
        ASSERT_TRUE(writer.append({Event("127.0.0.2", "2024-03-01T13:00:00.000", 5, "Breaker", "Open")}, &error));
    }
    const QByteArray before = FileHash(location.path);
    ASSERT_TRUE(store.openReadOnly(location, &error)) << error;
    ASSERT_EQ(JournalRows(store, {}, &error).value_or(QList<JournalEvent>{}).size(), 1);
    EXPECT_TRUE(store.readsCurrentFiles(&error)) << error;
    ASSERT_TRUE(store.reopen(&error)) << error;
    EXPECT_EQ(FileHash(location.path), before) << "a reader wrote the journal";

    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(location.path + QLatin1String(suffix));
    {
        JournalStore writer;
        ASSERT_TRUE(writer.open(location, &error)) << error;
        ASSERT_TRUE(writer.append({Event("127.0.0.3", "2024-03-01T14:00:00.000", 5, "Breaker", "Open"),
                                      Event("127.0.0.3", "2024-03-01T14:00:01.000", 5, "Breaker", "Closed")},
            &error));
    }
    EXPECT_EQ(JournalRows(store, {}, &error).value_or(QList<JournalEvent>{}).size(), 1) << "reads the removed file";
    QString why;
    EXPECT_FALSE(store.readsCurrentFiles(&why));
    EXPECT_EQ(why, QStringLiteral("journal %1: the file was removed or replaced").arg(location.path));
    ASSERT_TRUE(store.reopen(&error)) << error;
    EXPECT_TRUE(store.readOnly());
    EXPECT_EQ(Times(JournalRows(store, {}, &error)), (QStringList{"14:00:00", "14:00:01"}));
    EXPECT_TRUE(store.readsCurrentFiles(&why)) << why;
}

TEST(JournalErrors, SaidInWords)
{
    const auto sqlite = [](int code, const char* native) {
        return JournalErrorText(QSqlError(QStringLiteral("Unable to fetch row"), QString::fromLatin1(native),
                                    QSqlError::StatementError, QString::number(code)),
            JournalDialect::Sqlite);
    };
    EXPECT_EQ(
        sqlite(26, "file is not a database"), QStringLiteral("the file is not a database, so it holds no journal"));
    EXPECT_EQ(sqlite(14, "unable to open database file"),
        QStringLiteral("the file cannot be opened: it is missing, or this user may not read it or create its -wal and "
                       "-shm files beside it"));
    EXPECT_EQ(sqlite(1, "no such table: journal_events"),
        QStringLiteral("it holds no table journal_events, so no journal of this program"));
    EXPECT_EQ(sqlite(5 | (3 << 8), "database is locked"), QStringLiteral("another program holds it locked"));

    const QSqlError libpq(QStringLiteral("QPSQL: Unable to connect"),
        QStringLiteral("connection to server on socket \"/run/x/.s.PGSQL.5432\" failed: FATAL:  role \"ops\" does not "
                       "exist\n\tIs the server running locally and accepting connections on that socket?\n"),
        QSqlError::ConnectionError);
    EXPECT_EQ(JournalErrorText(libpq, JournalDialect::Postgres),
        QStringLiteral("connection to server on socket \"/run/x/.s.PGSQL.5432\" failed: role \"ops\" does not exist; "
                       "is the server running locally and accepting connections on that socket?"));
}

} // namespace
} // namespace chronel::test
