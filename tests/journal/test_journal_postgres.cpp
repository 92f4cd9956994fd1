// A PostgreSQL journal as its users expect, on a private server: libpq's
// parameters reach the server, secrets stay out of the messages, and neither
// a hung server nor a lock held by someone else holds an append or an open
// past its bounds.
#include "journal_backend.h"

#include "journal/journal_store.h"
#include "journal/postgres_connection.h"
#include "support/postgres_server.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace chronel::test {
namespace {

JournalEvent Event(int n)
{
    JournalEvent event;
    event.module = QStringLiteral("127.0.0.2");
    event.moduleTime = QStringLiteral("2024-03-01T13:00:00.%1").arg(n, 3, 10, QLatin1Char('0'));
    event.text = QStringLiteral("event %1").arg(n);
    event.received = QDateTime(QDate(2024, 3, 1), QTime(14, 0), Qt::UTC);
    event.raw = QByteArray::number(n);
    return event;
}

// Resumes a paused server after `ms` unless dismissed first, so that a
// store without its bound fails the test instead of hanging it.
class ResumeLater {
public:
    ResumeLater(PostgresServer& server, int ms)
        : thread_([this, &server, ms] {
              std::unique_lock lock(mutex_);
              if (!wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return dismissed_; })) {
                  QString ignored;
                  server.resume(&ignored);
              }
          })
    {
    }
    ~ResumeLater()
    {
        {
            std::lock_guard lock(mutex_);
            dismissed_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool dismissed_ = false;
    std::thread thread_;
};

class JournalPostgres : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QString error;
        server_ = std::make_unique<PostgresServer>();
        if (!server_->start(&error)) {
            server_.reset();
            FAIL() << error;
        }
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(server_);
        static int databases = 0;
        database_ = QStringLiteral("pg_%1").arg(++databases);
        QString error;
        ASSERT_TRUE(server_->createDatabase(database_, &error)) << error;
    }
    void TearDown() override
    {
        if (raw_.isValid()) {
            raw_.close();
            raw_ = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("postgres-test-raw"));
        }
    }

    // The test's database with `query` added to the URL (with a password,
    // which the server's trust ignores and no message may show).
    JournalLocation location(const QString& query = {})
    {
        QString url = server_->url(database_);
        url.replace(QStringLiteral("postgres@"), QStringLiteral("postgres:hunter2@"));
        QString error;
        const auto parsed = ParseJournalLocation(url + (query.isEmpty() ? QString() : u'&' + query), &error);
        EXPECT_TRUE(parsed) << error;
        return parsed.value_or(JournalLocation{});
    }

    // A connection of the test's own, without the journal's options.
    QSqlQuery raw()
    {
        if (!raw_.isValid()) {
            raw_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("postgres-test-raw"));
            raw_.setHostName(server_->socketDirectory());
            raw_.setPort(PostgresServer::port());
            raw_.setUserName(PostgresServer::user());
            raw_.setDatabaseName(database_);
            EXPECT_TRUE(raw_.open()) << raw_.lastError().text();
        }
        return QSqlQuery(raw_);
    }

    // One value the server gives on `store`'s own connection.
    static QString Ask(const JournalStore& store, const QString& sql)
    {
        QSqlQuery query(store.database());
        EXPECT_TRUE(query.exec(sql) && query.next()) << sql << ": " << query.lastError().text();
        return query.value(0).toString();
    }

    static std::unique_ptr<PostgresServer> server_;
    QString database_;
    QSqlDatabase raw_;
};

std::unique_ptr<PostgresServer> JournalPostgres::server_;

TEST_F(JournalPostgres, ParametersReachTheServerAndOverrideTheDefaults)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location(), &error)) << error;
    EXPECT_EQ(Ask(store, QStringLiteral("SHOW statement_timeout")), QStringLiteral("6s"));
    EXPECT_EQ(Ask(store, QStringLiteral("SHOW idle_in_transaction_session_timeout")), QStringLiteral("5s"));
    EXPECT_EQ(Ask(store, QStringLiteral("SELECT application_name FROM pg_stat_activity WHERE pid = pg_backend_pid()")),
        QStringLiteral("chronel"));

    ASSERT_TRUE(store.open(location(QStringLiteral("application_name=north%20bay"
                                                   "&options=-c%20statement_timeout%3D1min&sslmode=prefer")),
        &error))
        << error;
    EXPECT_EQ(Ask(store, QStringLiteral("SELECT application_name FROM pg_stat_activity WHERE pid = pg_backend_pid()")),
        QStringLiteral("north bay"));
    EXPECT_EQ(Ask(store, QStringLiteral("SHOW statement_timeout")), QStringLiteral("1min"));
    EXPECT_EQ(Ask(store, QStringLiteral("SHOW idle_in_transaction_session_timeout")), QStringLiteral("5s"));

    // A value libpq refuses: its message names the parameter, not the password.
    JournalLocation wrong = location(QStringLiteral("sslmode=sometimes"));
    EXPECT_FALSE(store.open(wrong, &error));
    EXPECT_TRUE(error.contains(wrong.displayName())) << error;
    EXPECT_TRUE(error.contains(QStringLiteral("sslmode"))) << error;
    EXPECT_FALSE(error.contains(QStringLiteral("hunter2"))) << error;

    // libpq would connect over the Unix socket unencrypted.
    wrong = location(QStringLiteral("sslmode=require"));
    EXPECT_FALSE(store.open(wrong, &error));
    EXPECT_TRUE(error.contains(wrong.displayName())) << error;
    EXPECT_TRUE(error.contains(QStringLiteral("sslmode asks for an encrypted connection"))) << error;
    EXPECT_FALSE(store.isOpen());
}

TEST_F(JournalPostgres, AHungServerFailsAnAppendAndAnOpenWithinTheBound)
{
    const JournalLocation where = location();
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(where, &error)) << error;
    ASSERT_TRUE(store.append({Event(1)}, &error)) << error;

    ASSERT_TRUE(server_->pause(&error)) << error;
    {
        const ResumeLater net(*server_, 3 * PostgresAnswerMs);
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(store.append({Event(2)}, &error));
        EXPECT_LT(clock.elapsed(), PostgresAnswerMs + 2000);
        EXPECT_TRUE(error.contains(where.displayName())) << error;
        EXPECT_TRUE(error.contains(QStringLiteral("no answer within 8 s"))) << error;

        clock.restart();
        JournalStore other;
        EXPECT_FALSE(other.open(where, &error));
        EXPECT_LT(clock.elapsed(), PostgresAnswerMs + 2000);
        EXPECT_TRUE(error.contains(where.displayName())) << error;
        EXPECT_FALSE(error.contains(QStringLiteral("hunter2"))) << error;
    }
    ASSERT_TRUE(server_->resume(&error)) << error;
    ASSERT_TRUE(store.open(where, &error)) << error;
    int added = 0;
    ASSERT_TRUE(store.append({Event(2)}, &error, &added)) << error;
    EXPECT_EQ(added, 1);
    EXPECT_EQ(Ask(store, QStringLiteral("SELECT count(*) FROM journal_events")), QStringLiteral("2"));
}

// A live server ends a statement that waits too long for a lock, and the
// connection goes on.
TEST_F(JournalPostgres, ALockHeldElsewhereFailsTheAppendNotTheConnection)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location(), &error)) << error;
    QSqlQuery lock = raw();
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN")));
    ASSERT_TRUE(lock.exec(QStringLiteral("LOCK TABLE journal_events IN ACCESS EXCLUSIVE MODE")));

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(store.append({Event(1)}, &error));
    EXPECT_GE(clock.elapsed(), PostgresStatementTimeoutMs - 500);
    EXPECT_LT(clock.elapsed(), PostgresAnswerMs);
    EXPECT_TRUE(error.contains(QStringLiteral("statement timeout"))) << error;

    ASSERT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
    ASSERT_TRUE(store.append({Event(1)}, &error)) << error;
}

// A writer that stalls inside its transaction loses the journal's lock
// before another writer's statement times out.
TEST_F(JournalPostgres, AWriterStalledInATransactionLetsTheOthersOn)
{
    JournalStore stalled;
    JournalStore writer;
    QString error;
    ASSERT_TRUE(stalled.open(location(), &error)) << error;
    ASSERT_TRUE(writer.open(location(), &error)) << error;
    QSqlQuery held(stalled.database());
    ASSERT_TRUE(held.exec(QStringLiteral("BEGIN")));
    ASSERT_TRUE(held.exec(QStringLiteral("LOCK TABLE journal_events IN SHARE ROW EXCLUSIVE MODE")));

    int added = 0;
    EXPECT_TRUE(writer.append({Event(1), Event(2)}, &error, &added)) << error;
    EXPECT_EQ(added, 2);
    EXPECT_FALSE(held.exec(QStringLiteral("SELECT 1"))) << "the stalled session was not ended";
}

} // namespace
} // namespace chronel::test
