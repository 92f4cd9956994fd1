// The incidents and comments the Site Journal window shows, without widgets:
// read from a journal the web view's functions wrote (and from one written
// before they were kept), the incident's filter, the incident list, and the
// comment marks and tooltips of the journal table's rows.
#include "support/qt_printers.h"
#include "ui/incident_list_model.h"
#include "ui/journal_notes.h"
#include "ui/journal_table_model.h"

#include "journal/journal_query.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace chronel {
namespace {

JournalEvent Row(const char* module, const char* time, int point)
{
    JournalEvent e;
    e.module = QString::fromLatin1(module);
    e.moduleName = e.module == u"127.0.0.2" ? QStringLiteral("North") : QStringLiteral("South");
    e.moduleTime = QStringLiteral("2024-03-01T") + QString::fromLatin1(time);
    e.point = point;
    e.text = QStringLiteral("Input Point %1  On").arg(point, 2);
    e.received = QDateTime(QDate(2024, 3, 1), QTime(14, 0), Qt::UTC);
    e.raw = (e.module + e.moduleTime).toLatin1();
    return e;
}

Incident Trip(const char* title, const char* from, const char* to, QStringList modules)
{
    Incident incident;
    incident.title = QString::fromLatin1(title);
    incident.fromTime = QString::fromLatin1(from);
    incident.toTime = QString::fromLatin1(to);
    incident.modules = std::move(modules);
    incident.comment = QStringLiteral("Breaker 52 tripped on the feeder fault");
    incident.author = QStringLiteral("alice");
    return incident;
}

Comment Remark(std::optional<qint64> incident, std::optional<qint64> event, const char* author, const QString& text)
{
    Comment comment;
    comment.incidentId = incident;
    comment.eventId = event;
    comment.author = QString::fromLatin1(author);
    comment.text = text;
    return comment;
}

class JournalNotesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        location.path = dir.filePath(QStringLiteral("journal.sqlite"));
    }

    QTemporaryDir dir;
    JournalLocation location;
    const AuditContext web{QStringLiteral("alice"), QStringLiteral("127.0.0.1")};
};

// Incidents newest first with their comment counts, and the comments of the
// rows asked about, those past the first few hundred ids asked included;
// then, look after look, what is added.
TEST_F(JournalNotesTest, ReadsIncidentsAndTheCommentsOfTheRowsAskedAbout)
{
    JournalStore writer;
    QString error;
    ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();
    ASSERT_TRUE(writer.append(
        {Row("127.0.0.2", "13:00:01.000", 5), Row("127.0.0.3", "13:00:02.000", 5), Row("127.0.0.2", "13:30:00.000", 7)},
        &error))
        << error.toStdString();
    const auto rows = JournalRows(writer, {}, &error);
    ASSERT_TRUE(rows && rows->size() == 3) << error.toStdString();
    const qint64 first = (*rows)[0].id;
    const qint64 third = (*rows)[2].id;

    const auto older = AddIncident(writer,
        Trip("Feeder trip", "2024-03-01T13:00:00.000", "2024-03-01T13:01:00.000",
            {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}),
        web, &error);
    ASSERT_TRUE(older) << error.toStdString();
    const auto newer =
        AddIncident(writer, Trip("Lockout", "2024-03-01T13:29:00.000", "2024-03-01T14:00:00.000", {}), web, &error);
    ASSERT_TRUE(newer) << error.toStdString();
    for (const Comment& c : {Remark(*older, {}, "bob", QStringLiteral("relay 87T picked up first")),
             Remark(*older, {}, "carol", QStringLiteral("confirmed on site")),
             Remark({}, first, "bob", QStringLiteral("first trip")), Remark({}, first, "carol", QStringLiteral("yes")),
             Remark({}, third, "alice", QStringLiteral("late"))})
        ASSERT_TRUE(AddComment(writer, c, web, &error)) << error.toStdString();

    JournalStore reader;
    ASSERT_TRUE(reader.openReadOnly(location, &error)) << error.toStdString();
    // The rows asked about are many: the third row's id comes after a
    // thousand others.
    QList<qint64> ids{first};
    for (qint64 id = third + 1; id < third + 1000; ++id)
        ids << id;
    ids << third;
    JournalNotesReader notesReader;
    auto notes = notesReader.read(reader, ids, &error);
    ASSERT_TRUE(notes) << error.toStdString();
    EXPECT_TRUE(notes->kept);
    ASSERT_EQ(notes->incidents.size(), 2);
    EXPECT_EQ(notes->incidents[0].title, QStringLiteral("Lockout"));
    EXPECT_EQ(notes->incidents[0].comments, 0);
    EXPECT_EQ(notes->incidents[1].id, *older);
    EXPECT_EQ(notes->incidents[1].comments, 2);
    ASSERT_EQ(notes->eventComments.size(), 2);
    ASSERT_EQ(notes->eventComments.value(first).size(), 2);
    EXPECT_EQ(notes->eventComments.value(first)[0].text, QStringLiteral("first trip"));
    EXPECT_EQ(notes->eventComments.value(first)[1].author, QStringLiteral("carol"));
    EXPECT_EQ(notes->eventComments.value(third).size(), 1);
    EXPECT_FALSE(notes->eventComments.contains((*rows)[1].id));

    // The incident's filter selects its period and modules.
    JournalFilter filter = IncidentFilter(notes->incidents[1]);
    const auto selected = JournalRows(reader, filter, &error);
    ASSERT_TRUE(selected) << error.toStdString();
    EXPECT_EQ(selected->size(), 2);
    filter = IncidentFilter(notes->incidents[0]);
    EXPECT_EQ(filter.from, QStringLiteral("2024-03-01T13:29:00.000"));
    EXPECT_EQ(filter.to, QStringLiteral("2024-03-01T14:00:00.000"));
    EXPECT_TRUE(filter.modules.isEmpty());
    EXPECT_EQ(JournalRows(reader, filter, &error).value_or(QList<JournalEvent>{}).size(), 1);

    // Later looks read what was added: on a row held, on one without
    // comments before, and on a row let go and held again.
    const qint64 second = (*rows)[1].id;
    ASSERT_TRUE(AddComment(writer, Remark({}, second, "dave", QStringLiteral("after")), web, &error));
    ASSERT_TRUE(AddComment(writer, Remark({}, first, "dave", QStringLiteral("third")), web, &error));
    notes = notesReader.read(reader, {first, second}, &error);
    ASSERT_TRUE(notes) << error.toStdString();
    EXPECT_EQ(notes->eventComments.value(first).size(), 3);
    EXPECT_EQ(notes->eventComments.value(first).last().text, QStringLiteral("third"));
    EXPECT_EQ(notes->eventComments.value(second).size(), 1);
    EXPECT_FALSE(notes->eventComments.contains(third));
    ASSERT_TRUE(AddComment(writer, Remark({}, third, "dave", QStringLiteral("again")), web, &error));
    notes = notesReader.read(reader, {first, second, third}, &error);
    ASSERT_TRUE(notes) << error.toStdString();
    EXPECT_EQ(notes->eventComments.value(third).size(), 2);
    EXPECT_EQ(notes->eventComments.value(first).size(), 3) << "a comment is kept once";
}

// A journal of schema 5 holds no incidents: nothing, and no error, and the
// read-only store leaves it at 5.
TEST_F(JournalNotesTest, AJournalWrittenBeforeIncidentsHasNone)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema5"));
        db.setDatabaseName(location.path);
        ASSERT_TRUE(db.open());
        QString error;
        ASSERT_TRUE(MigrateJournal(db, JournalDialect::Sqlite, QStringLiteral("old"), &error, nullptr, 5))
            << error.toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema5"));
    JournalStore reader;
    QString error;
    ASSERT_TRUE(reader.openReadOnly(location, &error)) << error.toStdString();
    ASSERT_EQ(reader.schemaVersion(), 5);
    const auto notes = JournalNotesReader().read(reader, {1, 2, 3}, &error);
    ASSERT_TRUE(notes) << error.toStdString();
    EXPECT_FALSE(notes->kept);
    EXPECT_TRUE(notes->incidents.isEmpty());
    EXPECT_TRUE(notes->eventComments.isEmpty());
}

// What people typed is shown as text in the rich text of tooltips and the
// details, never run as markup.
TEST(JournalNotesText, PeriodsTimesAndEscapedComments)
{
    Incident incident = Trip("<b>Trip</b>", "2024-03-01T13:00:00.000", "", {});
    incident.created = QStringLiteral("2026-12-07T14:05:12.345Z");
    EXPECT_EQ(IncidentPeriodText(incident), QStringLiteral("from 2024-03-01 13:00:00.000"));
    incident.toTime = QStringLiteral("2024-03-01T14:00:00.000");
    EXPECT_EQ(IncidentPeriodText(incident), QStringLiteral("2024-03-01 13:00:00.000 to 14:00:00.000"));
    incident.toTime = QStringLiteral("2024-03-02T00:00:00.000");
    EXPECT_EQ(IncidentPeriodText(incident), QStringLiteral("2024-03-01 13:00:00.000 to 2024-03-02 00:00:00.000"));
    incident.fromTime = QStringLiteral("2024-03-01T12:00:00.500Z");
    incident.toTime = QStringLiteral("2024-03-01T13:00:00.000Z");
    EXPECT_EQ(IncidentPeriodText(incident), QStringLiteral("2024-03-01 12:00:00.500 UTC to 13:00:00.000 UTC"));
    EXPECT_EQ(NoteTimeText(incident.created), QStringLiteral("2026-12-07 14:05:12 UTC"));
    EXPECT_EQ(IncidentModulesText(incident), QStringLiteral("all modules"));

    Comment c = Remark({}, 4, "<i>mallory</i>", QStringLiteral("<img src=\"x\"> %2 & more\nsecond line"));
    c.created = incident.created;
    const QString html = CommentsHtml({c});
    EXPECT_EQ(html,
        QStringLiteral(
            "<p><b>&lt;i&gt;mallory&lt;/i&gt;</b>, 2026-12-07 14:05:12 UTC:<br>&lt;img src=&quot;x&quot;&gt; "
            "%2 &amp; more<br>second line</p>"));
    EXPECT_TRUE(CommentsHtml({c}, 5).contains(QStringLiteral("&lt;img …</p>")));
    const QString details = IncidentHtml(incident, {c});
    EXPECT_TRUE(details.contains(QStringLiteral("&lt;b&gt;Trip&lt;/b&gt;"))) << details.toStdString();
    EXPECT_FALSE(details.contains(QStringLiteral("<img"))) << details.toStdString();
}

TEST(IncidentListModel, ListsIncidentsAndLeavesAnUnchangedListAlone)
{
    IncidentListModel model;
    Incident trip = Trip("Feeder trip", "2024-03-01T13:00:00.000", "2024-03-01T13:01:00.000",
        {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")});
    trip.id = 7;
    trip.created = QStringLiteral("2026-12-07T14:05:12.000Z");
    trip.comments = 2;
    EXPECT_TRUE(model.setIncidents({trip}));
    ASSERT_EQ(model.rowCount(), 1);
    const auto shown = [&](int column) { return model.index(0, column).data().toString(); };
    EXPECT_EQ(shown(IncidentListModel::Title), QStringLiteral("Feeder trip"));
    EXPECT_EQ(shown(IncidentListModel::Period), QStringLiteral("2024-03-01 13:00:00.000 to 13:01:00.000"));
    EXPECT_EQ(shown(IncidentListModel::Modules), QStringLiteral("127.0.0.2, 127.0.0.3"));
    EXPECT_EQ(shown(IncidentListModel::Author), QStringLiteral("alice"));
    EXPECT_EQ(shown(IncidentListModel::Created), QStringLiteral("2026-12-07 14:05:12 UTC"));
    EXPECT_EQ(shown(IncidentListModel::Comments), QStringLiteral("2"));

    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    EXPECT_FALSE(model.setIncidents({trip}));
    EXPECT_EQ(resets, 0);
    trip.comments = 3;
    EXPECT_TRUE(model.setIncidents({trip}));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model.rowOf(7), 0);
    EXPECT_EQ(model.rowOf(8), -1);
}

// A commented row says how many comments it has after its line, its
// tooltip lists them, and a row whose comments change is redrawn (its icon:
// the window's test).
TEST(JournalTableModel, MarksCommentedRowsAndListsTheirComments)
{
    JournalTableModel model;
    QList<JournalEvent> rows{Row("127.0.0.2", "13:00:01.000", 5), Row("127.0.0.3", "13:00:02.000", 5)};
    rows[0].id = 10;
    rows[1].id = 11;
    model.setRows(rows);
    Comment c = Remark({}, 11, "bob", QStringLiteral("tripped <first>"));
    c.created = QStringLiteral("2026-12-07T14:05:12.000Z");
    QList<int> redrawn;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
        [&redrawn](const QModelIndex& from, const QModelIndex&) { redrawn << from.row(); });
    model.setComments({{11, {c, c}}});
    EXPECT_EQ(redrawn, QList<int>{1});

    const QModelIndex plain = model.index(0, JournalTableModel::Text);
    const QModelIndex commented = model.index(1, JournalTableModel::Text);
    EXPECT_EQ(plain.data().toString(), rows[0].text);
    EXPECT_EQ(commented.data().toString(), rows[1].text + QStringLiteral("  [2 comments]"));
    const QString tip = commented.data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QStringLiteral("<b>bob</b>, 2026-12-07 14:05:12 UTC:<br>tripped &lt;first&gt;")))
        << tip.toStdString();
    EXPECT_EQ(plain.data(Qt::ToolTipRole).toString(), rows[0].text);
    // The other columns carry no mark.
    EXPECT_EQ(model.index(1, JournalTableModel::Module).data().toString(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(model.commentsAt(1).size(), 2);

    redrawn.clear();
    model.setComments({{11, {c}}, {10, {c}}});
    EXPECT_EQ(redrawn, (QList<int>{0, 1}));
    EXPECT_EQ(commented.data().toString(), rows[1].text + QStringLiteral("  [1 comment]"));
    redrawn.clear();
    model.setComments({{11, {c}}, {10, {c}}});
    EXPECT_TRUE(redrawn.isEmpty());
}

} // namespace
} // namespace chronel
