// Schema 6 and the audit record on both kinds of journal: a version-5
// journal keeps its rows through the step and a reader of it answers in
// words; the hash chain names a changed or deleted row wherever it is, and
// shows what it cannot prove; writers on two threads keep one chain.
#include "journal_backend.h"

#include "journal/journal_audit.h"
#include "journal/journal_incidents.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"
#include "journal/web_accounts.h"

#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <thread>

namespace chronel::test {
namespace {

using JournalAuditTest = JournalBackend;

const AuditContext Admin{QStringLiteral("admin"), QStringLiteral("127.0.0.1")};

TEST(JournalAuditHash, FieldsAreLengthPrefixedSoNoTwoRowsEncodeAlike)
{
    AuditEntry entry;
    entry.id = 1;
    entry.at = QDateTime(QDate(2026, 12, 9), QTime(1, 2, 3, 456), Qt::UTC);
    entry.prevHash = QString(64, u'0');
    entry.who = QStringLiteral("ab");
    entry.address = QStringLiteral("c");
    const QString hash = AuditEntryHash(entry);
    EXPECT_EQ(hash.size(), 64);
    AuditEntry shifted = entry;
    shifted.who = QStringLiteral("a");
    shifted.address = QStringLiteral("bc");
    EXPECT_NE(AuditEntryHash(shifted), hash);
    AuditEntry renumbered = entry;
    renumbered.id = 2;
    EXPECT_NE(AuditEntryHash(renumbered), hash);
    EXPECT_EQ(ParseAuditAction(AuditActionText(AuditAction::AccountRoleChanged)), AuditAction::AccountRoleChanged);
    EXPECT_EQ(ParseAuditAction(QStringLiteral("logged in")), std::nullopt);
}

TEST_P(JournalAuditTest, AVersionFiveJournalKeepsItsRowsAndAReaderOfItAnswersInWords)
{
    QString error;
    QSqlDatabase db = raw();
    ASSERT_TRUE(MigrateJournal(db, dialect(), QStringLiteral("old"), &error, nullptr, 5)) << error;
    exec(QStringLiteral("INSERT INTO journal_events (module, module_name, module_time, point, point_description,"
                        " state_text, text, quality, received, raw, block, record, marks, utc_time, zone)"
                        " VALUES ('127.0.0.2', 'North', '2026-03-01T12:00:00.000', 7, 'Feeder', 'On', 'old line', 1,"
                        " '2026-03-01T12:00:01.000Z', 'ab', 1, 0, '', '2026-03-01T11:00:00.000Z', 'Europe/Berlin')"));

    JournalStore reader;
    ASSERT_TRUE(reader.openReadOnly(location_, &error)) << error;
    EXPECT_EQ(reader.schemaVersion(), 5);
    EXPECT_FALSE(VerifyAudit(reader, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("schema version 5, which keeps no audit record"))) << error;
    EXPECT_FALSE(AuditRows(reader, &error));
    EXPECT_FALSE(RecordAudit(reader, AuditAction::Login, Admin, {}, {}, &error));
    EXPECT_FALSE(FindWebAccount(reader, QStringLiteral("admin"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("keeps no web accounts"))) << error;
    EXPECT_FALSE(Incidents(reader, &error));
    EXPECT_FALSE(CommentCounts(reader, {1}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("keeps no incidents or comments"))) << error;

    JournalStore writer;
    ASSERT_TRUE(writer.open(location_, &error)) << error;
    EXPECT_EQ(JournalVersion(db, dialect(), &error), 6);
    const auto rows = JournalRows(writer, {}, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ((*rows)[0].text, QStringLiteral("old line"));
    EXPECT_EQ((*rows)[0].zone, QStringLiteral("Europe/Berlin"));
    ASSERT_TRUE(RecordAudit(writer, AuditAction::Login, Admin, {}, {}, &error)) << error;

    // The reader opened before the step finds the tables the writer added,
    // and still writes nothing.
    const auto verdict = VerifyAudit(reader, &error);
    ASSERT_TRUE(verdict) << error;
    EXPECT_TRUE(verdict->sound) << verdict->why;
    EXPECT_EQ(verdict->rows, 1);
    EXPECT_FALSE(RecordAudit(reader, AuditAction::Logout, Admin, {}, {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("reading only"))) << error;
}

class AuditChain : public JournalAuditTest {
protected:
    void SetUp() override
    {
        JournalAuditTest::SetUp();
        QString error;
        ASSERT_TRUE(store_.open(location_, &error)) << error;
        for (int i = 1; i <= 5; ++i)
            ASSERT_TRUE(RecordAudit(store_, AuditAction::AccountRoleChanged, Admin,
                QStringLiteral("op%1 viewer").arg(i), QStringLiteral("op%1 engineer").arg(i), &error))
                << error;
        const auto rows = AuditRows(store_, &error);
        ASSERT_TRUE(rows) << error;
        rows_ = *rows;
    }

    AuditVerdict verdict()
    {
        QString error;
        const auto verdict = VerifyAudit(store_, &error);
        EXPECT_TRUE(verdict) << error;
        return verdict.value_or(AuditVerdict{false, -1, std::nullopt, error});
    }
    void remove(qint64 id) { exec(QStringLiteral("DELETE FROM journal_audit WHERE id = %1").arg(id)); }
    // Puts row `entry` back as it was written (or as a forger wrote it).
    void put(const AuditEntry& entry)
    {
        QSqlQuery query(raw());
        query.prepare(QStringLiteral("INSERT INTO journal_audit (id, at, who, address, action, before, after,"
                                     " prev_hash, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& value : {QVariant(entry.id), QVariant(JournalReceivedText(entry.at)), QVariant(entry.who),
                 QVariant(entry.address), QVariant(entry.actionText), QVariant(entry.before), QVariant(entry.after),
                 QVariant(entry.prevHash), QVariant(entry.hash)})
            query.addBindValue(value);
        EXPECT_TRUE(query.exec()) << query.lastError().text();
    }
    void replace(const AuditEntry& entry)
    {
        remove(entry.id);
        put(entry);
    }
    void expectBroken(std::optional<qint64> id, const char* words)
    {
        const AuditVerdict v = verdict();
        EXPECT_FALSE(v.sound);
        EXPECT_EQ(v.firstBadId, id) << v.why;
        EXPECT_TRUE(v.why.contains(QLatin1StringView(words))) << v.why;
    }

    JournalStore store_;
    QList<AuditEntry> rows_;
};

TEST_P(AuditChain, RowsReadBackAsWrittenAndTheLastOnesOldestFirst)
{
    ASSERT_EQ(rows_.size(), 5);
    EXPECT_EQ(rows_[0].prevHash, QString(64, u'0'));
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        EXPECT_EQ(rows_[i].id, i + 1);
        EXPECT_EQ(rows_[i].action, AuditAction::AccountRoleChanged);
        EXPECT_EQ(rows_[i].actionText, QStringLiteral("account role changed"));
        EXPECT_EQ(rows_[i].address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(rows_[i].after, QStringLiteral("op%1 engineer").arg(i + 1));
        EXPECT_EQ(AuditEntryHash(rows_[i]), rows_[i].hash);
        if (i > 0) {
            EXPECT_EQ(rows_[i].prevHash, rows_[i - 1].hash);
        }
    }
    QString error;
    const auto last = AuditRows(store_, &error, 2);
    ASSERT_TRUE(last) << error;
    ASSERT_EQ(last->size(), 2);
    EXPECT_EQ((*last)[0].id, 4);
    EXPECT_EQ((*last)[1].id, 5);
    const AuditVerdict v = verdict();
    EXPECT_TRUE(v.sound) << v.why;
    EXPECT_EQ(v.rows, 5);
}

TEST_P(AuditChain, AChangedRowIsNamed)
{
    exec(QStringLiteral("UPDATE journal_audit SET after = 'op3 admin' WHERE id = 3"));
    expectBroken(3, "row 3 was changed after it was written");
    replace(rows_[2]);
    EXPECT_TRUE(verdict().sound);
}

TEST_P(AuditChain, ADeletedRowIsNamedInTheMiddleAtTheStartAndAtTheEnd)
{
    remove(3);
    expectBroken(3, "row 3 was deleted");
    put(rows_[2]);
    remove(1);
    expectBroken(1, "row 1, the first, was deleted");
    put(rows_[0]);
    remove(5);
    expectBroken(5, "row 5, the last, was deleted");
    remove(4);
    expectBroken(4, "rows 4 to 5, the last, were deleted");

    // Rows appended afterwards chain to the head, not to what is left, so
    // the gap stays in the record.
    QString error;
    ASSERT_TRUE(RecordAudit(store_, AuditAction::Logout, Admin, {}, {}, &error)) << error;
    expectBroken(4, "row 4 was deleted: the ids go from 3 to 6");
}

// A forger who recomputes the changed row's hash breaks the next link; one
// who rewrites every row after it must rewrite the head as well, and then
// the chain verifies: it proves edits, not the absence of a forger with
// write access to the whole journal.
TEST_P(AuditChain, ARehashedRowBreaksTheNextLinkAndOnlyAWholeRewriteWithTheHeadPasses)
{
    QList<AuditEntry> forged = rows_;
    forged[1].after = QStringLiteral("op2 admin");
    forged[1].hash = AuditEntryHash(forged[1]);
    replace(forged[1]);
    expectBroken(2, "the link from row 2 to row 3 is broken");

    for (qsizetype i = 2; i < forged.size(); ++i) {
        forged[i].prevHash = forged[i - 1].hash;
        forged[i].hash = AuditEntryHash(forged[i]);
        replace(forged[i]);
    }
    expectBroken(5, "does not have the hash the head keeps");

    exec(QStringLiteral("UPDATE journal_meta SET value = '5 %1' WHERE key = 'audit_head'").arg(forged[4].hash));
    const AuditVerdict v = verdict();
    EXPECT_TRUE(v.sound) << "what the chain cannot prove: " << v.why;

    // A head that is no head is said to be one, and the chain is not
    // continued past it.
    exec(QStringLiteral("UPDATE journal_meta SET value = 'five' WHERE key = 'audit_head'"));
    expectBroken(std::nullopt, "not \"<id> <hash>\"");
    QString error;
    EXPECT_FALSE(RecordAudit(store_, AuditAction::Logout, Admin, {}, {}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nothing is changed"))) << error;
}

// Each writer has a store of its own on its own thread, as chronel-web's
// workers do; the appends interleave and the chain stays one.
TEST_P(JournalAuditTest, WritersOnTwoThreadsKeepOneChain)
{
    constexpr int PerWriter = 25;
    {
        JournalStore creator;
        QString error;
        ASSERT_TRUE(creator.open(location_, &error)) << error;
    }
    std::atomic<int> failures{0};
    QString errors[2];
    auto writer = [&](int n) {
        JournalStore store;
        if (!store.open(location_, &errors[n])) {
            ++failures;
            return;
        }
        const AuditContext context{QStringLiteral("writer%1").arg(n), QStringLiteral("127.0.0.%1").arg(n + 1)};
        for (int i = 0; i < PerWriter; ++i)
            if (!RecordAudit(store, AuditAction::CommentAdded, context, {}, QString::number(i), &errors[n]))
                ++failures;
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0) << errors[0] << errors[1];

    JournalStore store;
    QString error;
    ASSERT_TRUE(store.openReadOnly(location_, &error)) << error;
    const auto verdict = VerifyAudit(store, &error);
    ASSERT_TRUE(verdict) << error;
    EXPECT_TRUE(verdict->sound) << verdict->why;
    EXPECT_EQ(verdict->rows, 2 * PerWriter);
    const auto rows = AuditRows(store, &error);
    ASSERT_TRUE(rows) << error;
    int next[2] = {0, 0};
    for (const AuditEntry& row : *rows) {
        const int n = row.who == u"writer1" ? 1 : 0;
        EXPECT_EQ(row.after, QString::number(next[n]++)) << "each writer's rows in its order";
    }
    EXPECT_EQ(next[0], PerWriter);
    EXPECT_EQ(next[1], PerWriter);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalAuditTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalAuditTest, ::testing::Values(Backend::Postgres));
INSTANTIATE_TEST_SUITE_P(Sqlite, AuditChain, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, AuditChain, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
