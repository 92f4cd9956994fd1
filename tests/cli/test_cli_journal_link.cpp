// The collection's one journal connection: every module's requests on it,
// and a hung server holding one request for one try, not every module in
// turn.
#include "journal_link.h"

#include "support/postgres_server.h"
#include "support/qt_printers.h"

#include "journal/journal_location.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

namespace clitest {
namespace {

TEST(CliJournalLink, AHungServerHoldsOneRequestForOneTry)
{
    chronel::test::PostgresServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    ASSERT_TRUE(server.createDatabase(QStringLiteral("site"), &error)) << error.toStdString();
    const auto location = chronel::ParseJournalLocation(server.url(QStringLiteral("site")), &error);
    ASSERT_TRUE(location) << error.toStdString();

    chronelcli::JournalLink link(*location);
    chronel::JournalModuleState state;
    state.module = QStringLiteral("127.0.0.1");
    qint64 number = 0;
    // Requests from several threads, one connection.
    std::vector<std::thread> modules;
    std::atomic<int> stored{0};
    for (int m = 0; m < 4; ++m)
        modules.emplace_back([&, m] {
            chronel::JournalModuleState own = state;
            own.module = QStringLiteral("127.0.0.%1").arg(m + 2);
            QString why;
            qint64 n = 0;
            for (int b = 0; b < 5; ++b)
                stored += link.appendBlock({}, own, &why, &n) ? 1 : 0;
        });
    for (std::thread& t : modules)
        t.join();
    EXPECT_EQ(stored.load(), 20);
    EXPECT_EQ(link.moduleState(QStringLiteral("127.0.0.3"), &error)->block, 5);

    ASSERT_TRUE(server.pause(&error)) << error.toStdString();
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.appendBlock({}, state, &error, &number));
    EXPECT_LT(timer.elapsed(), 25000);
    EXPECT_TRUE(error.contains(location->displayName())) << error.toStdString();
    // The next module's request within the retry time: at once, the same reason.
    const QString reason = error;
    timer.restart();
    EXPECT_FALSE(link.appendBlock({}, state, &error, &number));
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(error, reason);

    ASSERT_TRUE(server.resume(&error)) << error.toStdString();
    QThread::msleep(chronelcli::JournalLink::RetryMs + 100);
    EXPECT_TRUE(link.appendBlock({}, state, &error, &number)) << error.toStdString();
    EXPECT_EQ(number, 1);
}

} // namespace
} // namespace clitest
