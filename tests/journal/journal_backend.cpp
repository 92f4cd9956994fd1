#include "journal_backend.h"

#include "support/postgres_server.h"

#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace chronel::test {

namespace {

std::unique_ptr<PostgresServer>& Server()
{
    static std::unique_ptr<PostgresServer> server;
    return server;
}

} // namespace

void JournalBackend::SetUp()
{
    if (GetParam() == Backend::Sqlite) {
        ASSERT_TRUE(dir_.isValid());
        location_.dialect = JournalDialect::Sqlite;
        location_.path = dir_.filePath(QStringLiteral("journal.sqlite"));
        return;
    }
    QString error;
    if (!Server()) {
        auto server = std::make_unique<PostgresServer>();
        ASSERT_TRUE(server->start(&error)) << error.toStdString();
        Server() = std::move(server);
    }
    static int databases = 0;
    const QString name = QStringLiteral("journal_%1").arg(++databases);
    ASSERT_TRUE(Server()->createDatabase(name, &error)) << error.toStdString();
    const auto location = ParseJournalLocation(Server()->url(name), &error);
    ASSERT_TRUE(location) << error.toStdString();
    location_ = *location;
}

void JournalBackend::TearDown()
{
    if (!rawName_.isEmpty()) {
        QSqlDatabase::database(rawName_, false).close();
        QSqlDatabase::removeDatabase(rawName_);
    }
}

void JournalBackend::TearDownTestSuite() { Server().reset(); }

QSqlDatabase JournalBackend::raw()
{
    if (!rawName_.isEmpty())
        return QSqlDatabase::database(rawName_);
    rawName_ = QStringLiteral("journal-test-raw");
    QSqlDatabase db;
    if (GetParam() == Backend::Sqlite) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), rawName_);
        db.setDatabaseName(location_.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), rawName_);
        db.setHostName(location_.host);
        db.setPort(location_.port);
        db.setUserName(location_.user);
        db.setDatabaseName(location_.database);
    }
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    return db;
}

void JournalBackend::exec(const QString& sql)
{
    QSqlQuery query(raw());
    EXPECT_TRUE(query.exec(sql)) << sql.toStdString() << ": " << query.lastError().text().toStdString();
}

} // namespace chronel::test
