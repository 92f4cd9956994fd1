// journal reads the collector's journal without writing it, so a user who
// may only read it can: a journal of an earlier schema is printed as it is,
// not migrated, and one from a newer program is refused in words. Chatter is
// found as it reads: episodes listed, every change of one marked.
#include "cli_test_support.h"

#include "journal/journal_location.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

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

// A change of `point` (or another line) of `module` at `moduleTime` on a
// clock `offsetS` ahead of UTC; no offset: no zone declared.
chronel::JournalEvent Line(
    const char* module, const QString& moduleTime, std::optional<int> offsetS, int point, const QString& body)
{
    chronel::JournalEvent e;
    e.module = QString::fromLatin1(module);
    e.moduleName = e.module == u"127.0.0.2" ? QStringLiteral("North")
        : e.module == u"127.0.0.3"          ? QStringLiteral("South")
                                            : QString();
    e.moduleTime = QStringLiteral("2026-03-01T") + moduleTime;
    e.point = point;
    e.text = QStringLiteral("2026-03-01  %1  S  G   %2").arg(moduleTime, body);
    e.received = QDateTime(QDate(2026, 3, 1), QTime(13, 5), QTimeZone::utc());
    e.raw = e.text.toLatin1();
    if (offsetS) {
        e.utcTime = QDateTime::fromString(e.moduleTime, Qt::ISODateWithMs);
        e.utcTime.setTimeZone(QTimeZone::utc());
        e.utcTime = e.utcTime.addSecs(-*offsetS);
        e.zone = *offsetS == 3600 ? QStringLiteral("+01:00") : QStringLiteral("+05:30");
    }
    return e;
}

QString Change(int point, int i)
{
    return QStringLiteral("Input Point %1  %2").arg(point, 2).arg(i % 2 ? "On" : "Off");
}

class CliJournalChatter : public testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        const auto location = chronel::ParseJournalLocation(QString::fromStdString(path_), &error);
        chronel::JournalStore store;
        ASSERT_TRUE(location && store.open(*location, &error)) << error.toStdString();
        QList<chronel::JournalEvent> rows;
        // North (UTC+1): point 4 changes every 60 ms from 13:59:59.400, ten
        // of them before 13:00 UTC, while point 5 changes every 150 ms; then
        // the module reports point 4's chatter itself.
        for (int i = 0; i < 16; ++i) {
            const QTime at = QTime(13, 59, 59, 400).addMSecs(i * 60);
            rows << Line("127.0.0.2", at.toString(QStringLiteral("HH:mm:ss.zzz")), 3600, 4, Change(4, i));
            if (i < 8) {
                const QTime slow = QTime(13, 59, 59, 410).addMSecs(i * 150);
                rows << Line("127.0.0.2", slow.toString(QStringLiteral("HH:mm:ss.zzz")), 3600, 5, Change(5, i));
            }
        }
        rows << Line(
            "127.0.0.2", QStringLiteral("14:00:01.000"), 3600, 4, QStringLiteral("Input Point  4  Chatter On Scan"));
        // South (UTC+5:30): eleven changes within half a second, at 13:00:00.5
        // UTC, between North's episode and its report.
        for (int i = 0; i < 11; ++i) {
            const QTime at = QTime(18, 30, 0, 500).addMSecs(i * 50);
            rows << Line("127.0.0.3", at.toString(QStringLiteral("HH:mm:ss.zzz")), 19800, 4, Change(4, i));
        }
        // A module whose zone nobody declared.
        rows << Line("127.0.0.4", QStringLiteral("14:00:00.100"), std::nullopt, 0, QStringLiteral("Power on Reset"));
        ASSERT_TRUE(store.append(rows, &error)) << error.toStdString();
    }

    RunResult journal(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"journal", "--journal", path_});
        return RunCli(args, 0);
    }

    TempDir dir_;
    std::string path_ = dir_.file("site.sqlite");
};

TEST_F(CliJournalChatter, EpisodesAreListedInUtcOrder)
{
    const RunResult r = journal({"--from", "2026-03-01T13:00Z", "--chatter"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out),
        (std::vector<std::string>{
            "# Module times (zones +01:00, +05:30); events in UTC order. Chatter: more than 10 changes of a point "
            "within 1 s.",
            "Module     Name   Point  Start                    End                      Changes  Note",
            "127.0.0.2  North  4      2026-03-01 14:00:00.000  2026-03-01 14:00:00.300  6        began before the "
            "period",
            "127.0.0.3  South  4      2026-03-01 18:30:00.500  2026-03-01 18:30:01.000  11",
            "127.0.0.2  North  4      2026-03-01 14:00:01.000  2026-03-01 14:00:01.000  -        reported by the "
            "module: Chatter On Scan"}));

    // Other limits: South's eleven changes are not more than 11; within
    // 0.4 s neither point chatters.
    const RunResult eleven = journal({"--from", "2026-03-01T13:00Z", "--chatter", "--chatter-changes", "11"});
    EXPECT_EQ(Lines(eleven.out).size(), 4u) << eleven.out;
    EXPECT_FALSE(Contains(eleven.out, "South")) << eleven.out;
    const RunResult brief =
        journal({"--from", "2026-03-01T13:00Z", "--chatter", "--chatter-seconds", "0.4", "--format", "csv"});
    EXPECT_EQ(Lines(brief.out),
        (std::vector<std::string>{
            "module,name,point,kind,start,end,start_utc,end_utc,changes,began_before,goes_on_after",
            "127.0.0.2,North,4,Chatter On Scan,2026-03-01T14:00:01.000,2026-03-01T14:00:01.000,"
            "2026-03-01T13:00:01.000Z,2026-03-01T13:00:01.000Z,,0,0"}))
        << brief.err;
    const RunResult quiet = journal({"--point", "5", "--chatter"});
    EXPECT_TRUE(Contains(quiet.out, "\nNo point chattered.\n")) << quiet.out;

    // Without a period the undeclared module's row is in, so module time
    // orders the rows and stderr says why.
    const RunResult all = journal({"--chatter", "--format", "jsonl"});
    ASSERT_EQ(Lines(all.out).size(), 3u) << all.out;
    EXPECT_TRUE(Contains(Lines(all.out)[0], R"("changes":16)")) << all.out;
    EXPECT_TRUE(Contains(Lines(all.out)[0], R"("began_before":false)")) << all.out;
    EXPECT_TRUE(Contains(Lines(all.out)[2], R"("name":"South")")) << all.out;
    EXPECT_TRUE(Contains(all.err, "1 of the 37 events (127.0.0.4) have no UTC time, so all are in module-time order"))
        << all.err;
}

TEST_F(CliJournalChatter, EveryChangeOfAnEpisodeIsMarkedAndKept)
{
    const RunResult csv = journal({"--from", "2026-03-01T13:00Z", "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    std::map<std::string, int> marked; // by module and point: rows marked, of rows
    std::map<std::string, int> rows;
    for (const std::string& line : Lines(csv.out)) {
        std::vector<std::string> fields;
        std::stringstream in(line);
        for (std::string field; std::getline(in, field, ',');)
            fields.push_back(field);
        ASSERT_GE(fields.size(), 11u) << line;
        if (fields[0] == "module")
            continue;
        const std::string key = fields[0] + " " + fields[3];
        ++rows[key];
        marked[key] += fields[10] == "chattering";
    }
    EXPECT_EQ(rows, (std::map<std::string, int>{{"127.0.0.2 4", 7}, {"127.0.0.2 5", 4}, {"127.0.0.3 4", 11}}));
    // The module's report is not a change; point 5 never chattered.
    EXPECT_EQ(marked, (std::map<std::string, int>{{"127.0.0.2 4", 6}, {"127.0.0.2 5", 0}, {"127.0.0.3 4", 11}}));

    const RunResult text = journal({"--module", "North", "--point", "4", "--to", "2026-03-01 14:00:00.100"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 13u) << text.out;
    EXPECT_EQ(lines[0], "# Module times (zone +01:00); events in UTC order.");
    EXPECT_EQ(lines[1], "North  2026-03-01  13:59:59.400  S  G   Input Point  4  Off  [chattering]");
    EXPECT_EQ(lines[12], "North  2026-03-01  14:00:00.060  S  G   Input Point  4  On  [chattering]");
    const RunResult json = journal({"--module", "South", "--format", "jsonl"});
    EXPECT_EQ(Lines(json.out).size(), 11u);
    EXPECT_TRUE(Contains(Lines(json.out)[0], R"("marks":"chattering")")) << json.out;
}

TEST_F(CliJournalChatter, LimitsAndListsThatCannotBeAreRefusedInWords)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } bad[] = {
        {{"--chatter-changes", "0"}, "--chatter-changes 0: expected a number of changes 1 ... 1000000"},
        {{"--chatter-seconds", "0"}, "--chatter-seconds 0: expected seconds from 0.001 to 86400"},
        {{"--chatter-seconds", "soon"}, "--chatter-seconds soon: expected seconds"},
        {{"--chatter", "--grep", "On"}, "--chatter counts every change of a point, so it takes no --grep"},
        {{"--chatter", "--format", "comtrade", "--out", dir_.path()}, "--chatter lists episodes as text, csv or jsonl"},
    };
    for (const auto& line : bad) {
        const RunResult r = journal(line.args);
        EXPECT_EQ(r.exitCode, 2) << line.message;
        EXPECT_TRUE(Contains(r.err, line.message)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
} // namespace clitest
