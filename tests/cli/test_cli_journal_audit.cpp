// journal audit lists the web view's audit record, a line per row, its
// texts shown and never obeyed; --verify says a sound record is sound, and
// of a tampered one names the first row not as written, with exit status 1;
// a journal older than the record is refused in words.
#include "cli_test_support.h"

#include "journal/journal_audit.h"
#include "journal/journal_location.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"
#include "journal/web_accounts.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace clitest {
namespace {

// Runs `sql` on the SQLite journal at `path` on a connection of its own.
bool Exec(const std::string& path, const QString& sql)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cli-audit-raw"));
        db.setDatabaseName(QString::fromStdString(path));
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cli-audit-raw"));
    return ok;
}

TEST(CliJournalAudit, ListsTheRecordAndVerifiesItSoundOrNamesTheRowChanged)
{
    TempDir dir;
    const std::string path = dir.file("journal.sqlite");
    {
        chronel::JournalLocation location;
        location.path = QString::fromStdString(path);
        chronel::JournalStore store;
        QString error;
        ASSERT_TRUE(store.open(location, &error)) << error.toStdString();
        const chronel::AuditContext cli{QStringLiteral("cli:root"), {}};
        ASSERT_TRUE(chronel::AddWebAccount(store,
            {QStringLiteral("adam"), chronel::WebRole::Admin, QStringLiteral("$argon2id$secret"), {}, {}}, cli, &error))
            << error.toStdString();
        ASSERT_TRUE(chronel::RecordAudit(store, chronel::AuditAction::LoginFailed,
            {QStringLiteral("ad\x1b[2Jam"), QStringLiteral("127.0.0.9")}, {}, {}, &error))
            << error.toStdString();
        ASSERT_TRUE(
            chronel::SetWebPassword(store, QStringLiteral("adam"), QStringLiteral("$argon2id$new"), cli, &error))
            << error.toStdString();
    }

    const RunResult list = RunCli({"journal", "audit", "--journal", path}, 0);
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const std::vector<std::string> lines = Lines(list.out);
    ASSERT_GE(lines.size(), 3u) << list.out;
    EXPECT_TRUE(Contains(lines[0], "Z  cli:root  -  account added: \"\" -> \"adam admin\"")) << lines[0];
    EXPECT_EQ(lines[0].rfind("1  20", 0), 0u) << lines[0];
    EXPECT_TRUE(Contains(lines[1], "ad\\x1b[2Jam  127.0.0.9  login failed: \"\" -> \"\"")) << lines[1];
    EXPECT_TRUE(Contains(lines[2], "account password changed: \"adam admin\" -> \"adam admin\"")) << lines[2];
    EXPECT_FALSE(Contains(list.out, "argon2")) << list.out;

    const RunResult sound = RunCli({"journal", "audit", "--verify", "--journal", path}, 0);
    EXPECT_EQ(sound.exitCode, 0) << sound.err;
    EXPECT_TRUE(Contains(sound.out, "is as written: 3 rows")) << sound.out;

    ASSERT_TRUE(Exec(path, QStringLiteral("UPDATE journal_audit SET address = '10.0.0.1' WHERE id = 2")));
    const RunResult changed = RunCli({"journal", "audit", "--verify", "--journal", path}, 0);
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_TRUE(Contains(changed.err,
        "the audit record of " + path +
            " is not as written: row 2 was changed after "
            "it was written"))
        << changed.err;
    EXPECT_TRUE(Contains(changed.err, "(first row not as written: 2)")) << changed.err;

    ASSERT_TRUE(Exec(path, QStringLiteral("UPDATE journal_audit SET address = '127.0.0.9' WHERE id = 2")));
    ASSERT_TRUE(Exec(path, QStringLiteral("DELETE FROM journal_audit WHERE id = 3")));
    const RunResult deleted = RunCli({"journal", "audit", "--verify", "--journal", path}, 0);
    EXPECT_EQ(deleted.exitCode, 1);
    EXPECT_TRUE(Contains(deleted.err, "row 3, the last, was deleted")) << deleted.err;

    // The events' options are not the audit's.
    const RunResult mixed = RunCli({"journal", "audit", "--journal", path, "--grep", "x"}, 0);
    EXPECT_EQ(mixed.exitCode, 2);
    EXPECT_TRUE(Contains(mixed.err, "--grep is for the events")) << mixed.err;
}

TEST(CliJournalAudit, AJournalOlderThanTheRecordIsRefusedInWords)
{
    TempDir dir;
    const std::string path = dir.file("old.sqlite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cli-audit-old"));
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QString error;
        ASSERT_TRUE(
            chronel::MigrateJournal(db, chronel::JournalDialect::Sqlite, QStringLiteral("old"), &error, nullptr, 5))
            << error.toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cli-audit-old"));
    const std::string before = ReadFile(path);
    const RunResult r = RunCli({"journal", "audit", "--verify", "--journal", path}, 0);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "has schema version 5, which keeps no audit record")) << r.err;
    EXPECT_EQ(ReadFile(path), before) << "the journal was migrated";
}

} // namespace
} // namespace clitest
