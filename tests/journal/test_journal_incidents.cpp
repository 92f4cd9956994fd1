// Incidents and comments on both kinds of journal: what is added reads back
// in its order with its counts, to a reader too; a comment on nothing is
// refused; texts and periods beyond their limits are refused with nothing
// stored or audited.
#include "journal_backend.h"

#include "journal/journal_incidents.h"
#include "journal/journal_query.h"

namespace chronel::test {
namespace {

const AuditContext Engineer{QStringLiteral("eng"), QStringLiteral("127.0.0.5")};

JournalEvent Row(int record)
{
    JournalEvent event;
    event.module = QStringLiteral("127.0.0.2");
    event.moduleName = QStringLiteral("North");
    event.moduleTime = QStringLiteral("2026-03-01T12:00:0%1.000").arg(record);
    event.point = 3;
    event.text = QStringLiteral("Input Point 3 On");
    event.received = QDateTime(QDate(2026, 3, 1), QTime(11, 0), Qt::UTC);
    event.block = 1;
    event.record = record;
    return event;
}

Incident Trip()
{
    Incident incident;
    incident.title = QStringLiteral("Feeder 3 trip");
    incident.fromTime = QStringLiteral("2026-03-01T12:00:00.000");
    incident.toTime = QStringLiteral("2026-03-01T12:05:00.000");
    incident.modules = {QStringLiteral("127.0.0.2"), QStringLiteral("South")};
    incident.comment = QStringLiteral("86 lockout\nreset at 12:10");
    return incident;
}

using JournalIncidentsTest = JournalBackend;

TEST_P(JournalIncidentsTest, IncidentsAndCommentsReadBackInOrderWithTheirCounts)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    ASSERT_TRUE(store.append({Row(1), Row(2)}, &error)) << error;
    const auto rows = JournalRows(store, {}, &error);
    ASSERT_TRUE(rows && rows->size() == 2) << error;
    const qint64 row1 = (*rows)[0].id;
    const qint64 row2 = (*rows)[1].id;

    const auto trip = AddIncident(store, Trip(), Engineer, &error);
    ASSERT_TRUE(trip) << error;
    Incident utc = Trip();
    utc.title = QStringLiteral("Clock check");
    utc.fromTime = QStringLiteral("2026-03-01T11:00:00.000Z");
    utc.toTime = QStringLiteral("2026-03-01T11:30:00.000Z");
    utc.modules.clear();
    utc.author = QStringLiteral("night shift");
    const auto check = AddIncident(store, utc, Engineer, &error);
    ASSERT_TRUE(check) << error;

    ASSERT_TRUE(AddComment(store, {0, *trip, {}, {}, QStringLiteral("breaker replaced"), {}}, Engineer, &error))
        << error;
    ASSERT_TRUE(AddComment(store, {0, *trip, {}, {}, QStringLiteral("relay tested"), {}}, Engineer, &error)) << error;
    ASSERT_TRUE(AddComment(store, {0, {}, row2, {}, QStringLiteral("first trip"), {}}, Engineer, &error)) << error;
    ASSERT_TRUE(AddComment(store, {0, {}, row2, {}, QStringLiteral("confirmed"), {}}, Engineer, &error)) << error;

    // A comment on nothing, or on two things, is refused.
    EXPECT_FALSE(AddComment(store, {0, *check + 100, {}, {}, QStringLiteral("x"), {}}, Engineer, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("there is no incident %1").arg(*check + 100))) << error;
    EXPECT_FALSE(AddComment(store, {0, {}, row2 + 100, {}, QStringLiteral("x"), {}}, Engineer, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("there is no journal row %1").arg(row2 + 100))) << error;
    EXPECT_FALSE(AddComment(store, {0, *trip, row1, {}, QStringLiteral("x"), {}}, Engineer, &error));
    EXPECT_FALSE(AddComment(store, {0, {}, {}, {}, QStringLiteral("x"), {}}, Engineer, &error));

    // A reader sees all of it.
    JournalStore reader;
    ASSERT_TRUE(reader.openReadOnly(location_, &error)) << error;
    const auto incidents = Incidents(reader, &error);
    ASSERT_TRUE(incidents) << error;
    ASSERT_EQ(incidents->size(), 2);
    EXPECT_EQ((*incidents)[0].id, *check) << "newest first";
    EXPECT_EQ((*incidents)[0].author, QStringLiteral("night shift"));
    EXPECT_EQ((*incidents)[0].modules, QStringList());
    EXPECT_EQ((*incidents)[0].comments, 0);
    Incident expected = Trip();
    expected.id = *trip;
    expected.author = QStringLiteral("eng");
    expected.created = (*incidents)[1].created;
    expected.comments = 2;
    EXPECT_EQ((*incidents)[1], expected);
    EXPECT_TRUE(expected.created.endsWith(u'Z')) << expected.created;
    EXPECT_EQ(FindIncident(reader, *trip, &error), std::optional<std::optional<Incident>>(expected));
    EXPECT_EQ(
        FindIncident(reader, *check + 100, &error), std::optional<std::optional<Incident>>(std::optional<Incident>{}));

    const auto onTrip = IncidentComments(reader, *trip, &error);
    ASSERT_TRUE(onTrip && onTrip->size() == 2) << error;
    EXPECT_EQ((*onTrip)[0].text, QStringLiteral("breaker replaced"));
    EXPECT_EQ((*onTrip)[1].text, QStringLiteral("relay tested"));
    EXPECT_EQ((*onTrip)[1].author, QStringLiteral("eng"));
    EXPECT_EQ((*onTrip)[1].eventId, std::nullopt);
    const auto onRow = EventComments(reader, row2, &error);
    ASSERT_TRUE(onRow && onRow->size() == 2) << error;
    EXPECT_EQ((*onRow)[0].eventId, row2);
    EXPECT_EQ((*onRow)[0].incidentId, std::nullopt);

    // A page's ids in more than one statement's worth of values.
    QList<qint64> ids;
    for (qint64 id = row2 + 1; id < row2 + 1200; ++id)
        ids << id;
    ids << row1 << row2;
    const auto counts = CommentCounts(reader, ids, &error);
    ASSERT_TRUE(counts) << error;
    EXPECT_EQ(*counts, (QHash<qint64, int>{{row2, 2}}));

    // A reader that keeps the last comment's id reads only the later ones.
    const auto last = LastCommentId(reader, &error);
    ASSERT_TRUE(last) << error;
    EXPECT_EQ(*last, (*onRow)[1].id);
    const auto after = CommentsAfter(reader, (*onTrip)[1].id, &error);
    ASSERT_TRUE(after) << error;
    EXPECT_EQ(*after, (QList<Comment>{(*onRow)[0], (*onRow)[1]}));
    EXPECT_EQ(CommentsAfter(reader, *last, &error), std::optional<QList<Comment>>(QList<Comment>{}));

    const auto audit = AuditRows(reader, &error);
    ASSERT_TRUE(audit) << error;
    ASSERT_EQ(audit->size(), 6) << "the refused comments left no row";
    EXPECT_EQ((*audit)[0].action, AuditAction::IncidentAdded);
    EXPECT_EQ((*audit)[0].after,
        QStringLiteral("incident %1 \"Feeder 3 trip\" from 2026-03-01T12:00:00.000 to 2026-03-01T12:05:00.000, "
                       "modules 127.0.0.2, South")
            .arg(*trip));
    EXPECT_EQ((*audit)[5].action, AuditAction::CommentAdded);
    EXPECT_EQ((*audit)[5].address, QStringLiteral("127.0.0.5"));
    EXPECT_TRUE((*audit)[5].after.endsWith(QStringLiteral("on journal row %1: confirmed").arg(row2)))
        << (*audit)[5].after;
}

TEST_P(JournalIncidentsTest, TextsAndPeriodsBeyondTheirLimitsAreRefusedWithNothingStored)
{
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(location_, &error)) << error;
    struct Case {
        const char* name;
        std::function<void(Incident&)> change;
        const char* words; // empty: accepted
    };
    const QString emoji = QString::fromUcs4(U"\U0001F525");
    const QList<Case> cases{
        {"title at its limit", [](Incident& i) { i.title = QString(MaxIncidentTitle, u't'); }, ""},
        {"title in characters, not UTF-16 units", [&](Incident& i) { i.title = emoji.repeated(MaxIncidentTitle); }, ""},
        {"title too long", [](Incident& i) { i.title = QString(MaxIncidentTitle + 1, u't'); },
            "201 characters, more than the 200"},
        {"title blank", [](Incident& i) { i.title = QStringLiteral("  "); }, "title is empty"},
        {"title of two lines", [](Incident& i) { i.title = QStringLiteral("a\nb"); }, "line break"},
        {"comment at its limit", [](Incident& i) { i.comment = QString(MaxCommentText, u'c'); }, ""},
        {"comment too long", [](Incident& i) { i.comment = QString(MaxCommentText + 1, u'c'); }, "4001 characters"},
        {"comment with an escape", [](Incident& i) { i.comment = QStringLiteral("\x1b]0;x\a"); }, "control character"},
        {"period of two forms", [](Incident& i) { i.toTime = QStringLiteral("2026-03-01T12:05:00.000Z"); },
            "is not two module times"},
        {"period as typed", [](Incident& i) { i.fromTime = QStringLiteral("2026-03-01 12:00"); },
            "is not two module times"},
        {"period reversed", [](Incident& i) { std::swap(i.fromTime, i.toTime); }, "before it begins"},
        {"module with a comma", [](Incident& i) { i.modules << QStringLiteral("a,b"); }, "holds a comma"},
    };
    int accepted = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Incident incident = Trip();
        c.change(incident);
        const auto id = AddIncident(store, incident, Engineer, &error);
        if (*c.words == 0) {
            EXPECT_TRUE(id) << error;
            accepted += id ? 1 : 0;
        } else {
            EXPECT_FALSE(id);
            EXPECT_TRUE(error.contains(QLatin1StringView(c.words))) << error;
        }
    }
    const auto trip = AddIncident(store, Trip(), Engineer, &error);
    ASSERT_TRUE(trip) << error;
    ++accepted;
    EXPECT_TRUE(AddComment(store, {0, *trip, {}, {}, QString(MaxCommentText, u'x'), {}}, Engineer, &error)) << error;
    EXPECT_FALSE(AddComment(store, {0, *trip, {}, {}, QString(MaxCommentText + 1, u'x'), {}}, Engineer, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("the comment has 4001 characters"))) << error;
    EXPECT_FALSE(AddComment(store, {0, *trip, {}, {}, QStringLiteral(" \n "), {}}, Engineer, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("the comment is empty"))) << error;

    EXPECT_EQ(Incidents(store, &error).value_or(QList<Incident>{}).size(), accepted);
    EXPECT_EQ(AuditRows(store, &error).value_or(QList<AuditEntry>{}).size(), accepted + 1);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, JournalIncidentsTest, ::testing::Values(Backend::Sqlite));
INSTANTIATE_TEST_SUITE_P(Postgres, JournalIncidentsTest, ::testing::Values(Backend::Postgres));

} // namespace
} // namespace chronel::test
