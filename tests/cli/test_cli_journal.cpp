// journal reads the collector's journal without writing it, so a user who
// may only read it can: a journal of an earlier schema is printed as it is,
// not migrated, and one from a newer program is refused in words.
#include "cli_test_support.h"

#include "journal/journal_schema.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace clitest {
namespace {

bool Exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    return query.exec(sql);
}

TEST(CliJournalReadOnly, AnOldJournalIsPrintedAndLeftAsItIs)
{
    TempDir dir;
    const std::string path = dir.file("old.sqlite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cli-old-journal"));
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QString error;
        ASSERT_TRUE(
            chronel::MigrateJournal(db, chronel::JournalDialect::Sqlite, QStringLiteral("old"), &error, nullptr, 1))
            << error.toStdString();
        ASSERT_TRUE(Exec(db,
            QStringLiteral("INSERT INTO journal_events (module, module_name, module_time, point, point_description,"
                           " state_text, text, quality, received, raw) VALUES ('127.0.0.2', 'North',"
                           " '2024-03-01T12:00:00.000', 7, 'Feeder', 'On', 'old line', 1,"
                           " '2024-03-01T12:00:01.000Z', 'ab')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cli-old-journal"));
    const std::string before = ReadFile(path);

    const RunResult read = RunCli({"journal", "--journal", path, "--format", "csv"}, 0);
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_TRUE(Contains(read.out, "127.0.0.2,North,2024-03-01T12:00:00.000,7,On,old line,")) << read.out;
    EXPECT_EQ(ReadFile(path), before) << "the journal was written (migrated)";

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cli-new-journal"));
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(Exec(db, QStringLiteral("UPDATE journal_meta SET value = '99' WHERE key = 'schema_version'")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cli-new-journal"));
    const RunResult newer = RunCli({"journal", "--journal", path}, 0);
    EXPECT_EQ(newer.exitCode, 2);
    EXPECT_TRUE(Contains(newer.err, "has schema version 99, newer than this program's")) << newer.err;
}

} // namespace
} // namespace clitest
