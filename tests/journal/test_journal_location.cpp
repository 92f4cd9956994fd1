// What --journal means: a file, the default file, or a PostgreSQL URL, and
// the reason when the text is none of these.
#include "journal_backend.h"

#include "journal/journal_location.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace chronel::test {
namespace {

struct PostgresCase {
    const char* text;
    const char* host;
    int port;
    const char* user;
    const char* password;
    const char* database;
};

void PrintTo(const PostgresCase& c, std::ostream* os) { *os << c.text; }

class JournalLocationUrl : public ::testing::TestWithParam<PostgresCase> { };

TEST_P(JournalLocationUrl, GivesTheConnectionsParts)
{
    const PostgresCase& c = GetParam();
    QString error;
    const auto location = ParseJournalLocation(QString::fromUtf8(c.text), &error);
    ASSERT_TRUE(location) << error;
    EXPECT_EQ(location->kind, JournalLocation::Kind::Postgres);
    EXPECT_EQ(location->host, QString::fromUtf8(c.host));
    EXPECT_EQ(location->port, c.port);
    EXPECT_EQ(location->user, QString::fromUtf8(c.user));
    EXPECT_EQ(location->password, QString::fromUtf8(c.password));
    EXPECT_EQ(location->database, QString::fromUtf8(c.database));
    if (*c.password) {
        EXPECT_FALSE(location->displayName().contains(QString::fromUtf8(c.password))) << location->displayName();
    }
}

INSTANTIATE_TEST_SUITE_P(Urls, JournalLocationUrl,
    ::testing::Values(
        PostgresCase{"postgresql://site:p%40ss:w@db.plant:6543/journal", "db.plant", 6543, "site", "p@ss:w", "journal"},
        PostgresCase{
            "postgres://chronel@/site?host=/run/postgresql&port=5433", "/run/postgresql", 5433, "chronel", "", "site"},
        PostgresCase{"postgresql://%2Ftmp%2Fpg/site", "/tmp/pg", 0, "", "", "site"},
        PostgresCase{"postgresql://[::1]:5432/x", "::1", 5432, "", "", "x"},
        PostgresCase{"postgresql:///x?user=a&password=b&dbname=y", "", 0, "a", "b", "y"},
        PostgresCase{"postgresql://", "", 0, "", "", ""}));

struct WrongCase {
    const char* text;
    const char* reason;
};

void PrintTo(const WrongCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class JournalLocationWrong : public ::testing::TestWithParam<WrongCase> { };

TEST_P(JournalLocationWrong, SaysWhatIsWrong)
{
    QString error;
    EXPECT_FALSE(ParseJournalLocation(QString::fromUtf8(GetParam().text), &error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().text))) << error;
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().reason))) << error;
}

INSTANTIATE_TEST_SUITE_P(Texts, JournalLocationWrong,
    ::testing::Values(WrongCase{"postgresql://h:99999/x", "port \"99999\""},
        WrongCase{"postgresql://h:5x/x", "port \"5x\""}, WrongCase{"postgresql://h:0/x", "port \"0\""},
        WrongCase{"postgresql://h/x?sslmode=require", "unknown parameter \"sslmode\""},
        WrongCase{"postgresql://h/x?host", "not key=value"}, WrongCase{"postgresql://a,b/x", "several hosts"},
        WrongCase{"postgresql://[::1/x", "no closing ]"}, WrongCase{"postgresql://h/x/y", "holds a /"},
        WrongCase{"mysql://h/x", "\"mysql\" is not a journal's scheme"}, WrongCase{"  ", "names no file"}));

TEST(JournalLocationFile, PathsEmptyTextAndFolders)
{
    QString error;
    auto location = ParseJournalLocation(QStringLiteral("site.sqlite"), &error);
    ASSERT_TRUE(location) << error;
    EXPECT_EQ(location->kind, JournalLocation::Kind::Sqlite);
    EXPECT_EQ(location->path, QDir::current().absoluteFilePath(QStringLiteral("site.sqlite")));
    EXPECT_EQ(location->displayName(), location->path);

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    location = ParseJournalLocation(QString(), &error);
    qunsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(location) << error;
    EXPECT_EQ(location->path, home.filePath(QStringLiteral("chronel/journal.sqlite")));
    EXPECT_TRUE(QFileInfo(home.filePath(QStringLiteral("chronel"))).isDir());

    EXPECT_FALSE(ParseJournalLocation(home.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("is a folder"))) << error;
}

} // namespace
} // namespace chronel::test
