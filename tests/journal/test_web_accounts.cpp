// The web view's accounts on both kinds of journal: what is added reads
// back, a taken or missing name is refused with nothing stored or audited,
// every change has its audit row (never a hash in it), and a change whose
// audit row cannot be written is not made.
#include "journal_backend.h"

#include "journal/web_accounts.h"

#include <QSqlQuery>

namespace chronel::test {
namespace {

const AuditContext Cli{QStringLiteral("cli:root"), QString()};

TEST(WebAccountName, OnlyTheAllowedCharactersUpToSixtyFour)
{
    for (const QString& good : {QStringLiteral("a"), QStringLiteral("ops.eng-1@site_x"), QString(64, u'z')})
        EXPECT_TRUE(IsValidWebAccountName(good)) << good;
    QString why;
    for (const QString& bad : {QString(), QString(65, u'z'), QStringLiteral("a b"), QStringLiteral("J\u00fcrgen"),
             QStringLiteral("a/b"), QStringLiteral("x\ny"), QStringLiteral("a'--")}) {
        EXPECT_FALSE(IsValidWebAccountName(bad, &why)) << bad;
        EXPECT_FALSE(why.contains(u'\n')) << why;
    }
    EXPECT_EQ(ParseWebRole(QStringLiteral("engineer")), WebRole::Engineer);
    EXPECT_EQ(ParseWebRole(QStringLiteral("root")), std::nullopt);
}

using WebAccountsTest = JournalBackend;

TEST_P(WebAccountsTest, ChangesReadBackAndEachHasItsAuditRowWithoutTheHash)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    const QString hash1 = QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$first");
    const QString hash2 = QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$second");
    ASSERT_TRUE(AddWebAccount(store, {QStringLiteral("zoe"), WebRole::Viewer, hash1, {}, {}}, Cli, &error)) << error;
    ASSERT_TRUE(AddWebAccount(store, {QStringLiteral("adam"), WebRole::Admin, hash1, {}, {}}, Cli, &error)) << error;

    // Refusals store nothing and audit nothing.
    EXPECT_FALSE(AddWebAccount(store, {QStringLiteral("zoe"), WebRole::Admin, hash2, {}, {}}, Cli, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("web account zoe exists already"))) << error;
    EXPECT_FALSE(RemoveWebAccount(store, QStringLiteral("eve"), Cli, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no web account eve"))) << error;
    EXPECT_FALSE(SetWebPassword(store, QStringLiteral("eve"), hash2, Cli, &error));
    EXPECT_FALSE(SetWebRole(store, QStringLiteral("eve"), WebRole::Admin, Cli, &error));
    EXPECT_FALSE(AddWebAccount(store, {QStringLiteral("no one"), WebRole::Viewer, hash1, {}, {}}, Cli, &error));
    EXPECT_FALSE(AddWebAccount(store, {QStringLiteral("empty"), WebRole::Viewer, {}, {}, {}}, Cli, &error));

    const auto accounts = WebAccounts(store, &error);
    ASSERT_TRUE(accounts) << error;
    ASSERT_EQ(accounts->size(), 2);
    EXPECT_EQ((*accounts)[0].name, QStringLiteral("adam"));
    EXPECT_EQ((*accounts)[1].role, WebRole::Viewer);
    EXPECT_EQ((*accounts)[1].hash, hash1);
    EXPECT_TRUE((*accounts)[1].created.endsWith(u'Z'));
    EXPECT_EQ((*accounts)[1].changed, (*accounts)[1].created);

    ASSERT_TRUE(SetWebPassword(store, QStringLiteral("zoe"), hash2, Cli, &error)) << error;
    ASSERT_TRUE(SetWebRole(store, QStringLiteral("zoe"), WebRole::Engineer, Cli, &error)) << error;
    const auto zoe = FindWebAccount(store, QStringLiteral("zoe"), &error);
    ASSERT_TRUE(zoe && *zoe) << error;
    EXPECT_EQ((*zoe)->hash, hash2);
    EXPECT_EQ((*zoe)->role, WebRole::Engineer);
    ASSERT_TRUE(RemoveWebAccount(store, QStringLiteral("zoe"), Cli, &error)) << error;
    EXPECT_EQ(FindWebAccount(store, QStringLiteral("zoe"), &error),
        std::optional<std::optional<WebAccount>>{std::optional<WebAccount>{}});

    const auto audit = AuditRows(store, &error);
    ASSERT_TRUE(audit) << error;
    QStringList rows;
    for (const AuditEntry& row : *audit) {
        rows << QStringLiteral("%1 %2: %3 -> %4").arg(row.who, row.actionText, row.before, row.after);
        EXPECT_FALSE(row.before.contains(QStringLiteral("argon2")) || row.after.contains(QStringLiteral("argon2")));
    }
    EXPECT_EQ(rows,
        (QStringList{"cli:root account added:  -> zoe viewer", "cli:root account added:  -> adam admin",
            "cli:root account password changed: zoe viewer -> zoe viewer",
            "cli:root account role changed: zoe viewer -> zoe engineer",
            "cli:root account removed: zoe engineer -> "}));
    EXPECT_TRUE(VerifyAudit(store, &error).value_or(AuditVerdict{false, 0, {}, error}).sound);
}

TEST_P(WebAccountsTest, AChangeWhoseAuditRowFailsIsNotMadeAndAnUnknownRoleGrantsNothing)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    ASSERT_TRUE(
        AddWebAccount(store, {QStringLiteral("adam"), WebRole::Admin, QStringLiteral("h"), {}, {}}, Cli, &error))
        << error;
    // The chain's head damaged: the audit append refuses, so the change goes too.
    exec(QStringLiteral("UPDATE journal_meta SET value = 'x' WHERE key = 'audit_head'"));
    EXPECT_FALSE(
        AddWebAccount(store, {QStringLiteral("eve"), WebRole::Admin, QStringLiteral("h"), {}, {}}, Cli, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nothing is changed"))) << error;
    EXPECT_FALSE(RemoveWebAccount(store, QStringLiteral("adam"), Cli, &error));
    const auto accounts = WebAccounts(store, &error);
    ASSERT_TRUE(accounts) << error;
    ASSERT_EQ(accounts->size(), 1);
    EXPECT_EQ((*accounts)[0].name, QStringLiteral("adam"));

    exec(QStringLiteral("UPDATE web_users SET role = 'root' WHERE name = 'adam'"));
    EXPECT_FALSE(FindWebAccount(store, QStringLiteral("adam"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("role \"root\", which this program does not know"))) << error;
    EXPECT_FALSE(WebAccounts(store, &error));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, WebAccountsTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, WebAccountsTest, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
