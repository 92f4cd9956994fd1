// The Site Journal window's incidents and comments, offscreen, on a SQLite
// journal that the web view's functions annotate: the comment counts on the
// rows, the incident list, an incident chosen as the filter, what is
// recorded while the window is open, and a journal written before incidents
// were kept.
#include "support/qt_printers.h"
#include "ui/incident_list_model.h"
#include "ui/journal_table_model.h"
#include "ui/journal_window.h"

#include "journal/journal_incidents.h"
#include "journal/journal_query.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"

#include <QComboBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

namespace chronel {
namespace {

JournalEvent Breaker(const char* module, const char* time, bool closed)
{
    JournalEvent e;
    e.module = QString::fromLatin1(module);
    e.moduleName = e.module == u"127.0.0.2" ? QStringLiteral("North") : QStringLiteral("South");
    e.moduleTime = QStringLiteral("2024-03-01T") + QString::fromLatin1(time);
    e.dateSource = QStringLiteral("record");
    e.point = 5;
    e.pointDescription = QStringLiteral("Breaker 52");
    e.stateText = closed ? QStringLiteral("Closed") : QStringLiteral("Open");
    e.text = QStringLiteral("2024-03-01  %1  S  G   Input Point  5  %2")
                 .arg(e.moduleTime.mid(11), closed ? QStringLiteral("On") : QStringLiteral("Off"));
    e.received = QDateTime(QDate(2024, 3, 1), QTime(13, 0, 5), Qt::UTC);
    e.raw = (e.module + e.moduleTime).toLatin1();
    return e;
}

QStringList ModuleTimes(const JournalTableModel& model)
{
    QStringList times;
    for (const JournalEvent& e : model.events())
        times << e.module + u' ' + e.moduleTime.mid(11);
    return times;
}

class JournalWindowIncidents : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        location.path = dir.filePath(QStringLiteral("journal.sqlite"));
    }

    // The journal as the collector and the web view leave it: three modules'
    // rows, a trip of two of them recorded as an incident with comments, a
    // later one of all, and comments on two rows.
    void annotate()
    {
        QString error;
        ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();
        ASSERT_TRUE(
            writer.append({Breaker("127.0.0.2", "13:00:01.000", false), Breaker("127.0.0.3", "13:00:02.000", false),
                              Breaker("127.0.0.4", "13:00:02.500", false), Breaker("127.0.0.2", "13:10:00.000", true),
                              Breaker("127.0.0.3", "13:40:00.000", true)},
                &error))
            << error.toStdString();
        const auto rows = JournalRows(writer, {}, &error);
        ASSERT_TRUE(rows && rows->size() == 5) << error.toStdString();
        for (const JournalEvent& e : *rows)
            ids << e.id;

        Incident trip;
        trip.title = QStringLiteral("Feeder trip");
        trip.fromTime = QStringLiteral("2024-03-01T13:00:00.000");
        trip.toTime = QStringLiteral("2024-03-01T13:05:00.000");
        trip.modules = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
        trip.comment = QStringLiteral("Both feeders opened on the bus fault");
        trip.author = QStringLiteral("alice");
        const auto tripId = AddIncident(writer, trip, web, &error);
        ASSERT_TRUE(tripId) << error.toStdString();
        this->tripId = *tripId;
        Incident restore;
        restore.title = QStringLiteral("North restored");
        restore.fromTime = QStringLiteral("2024-03-01T13:05:00.000");
        restore.toTime = QStringLiteral("2024-03-01T14:00:00.000");
        restore.modules = {QStringLiteral("North")};
        restore.author = QStringLiteral("bob");
        const auto restoreId = AddIncident(writer, restore, web, &error);
        ASSERT_TRUE(restoreId) << error.toStdString();
        this->restoreId = *restoreId;
        comment({}, tripId, "bob", "87T picked up first");
        comment(ids[0], {}, "alice", "first to open");
        comment(ids[0], {}, "bob", "<b>confirmed</b> on site");
        comment(ids[4], {}, "carol", "closed by hand");
    }

    void comment(std::optional<qint64> event, std::optional<qint64> incident, const char* author, const char* text)
    {
        Comment c;
        c.eventId = event;
        c.incidentId = incident;
        c.author = QString::fromLatin1(author);
        c.text = QString::fromLatin1(text);
        QString error;
        ASSERT_TRUE(AddComment(writer, c, web, &error)) << error.toStdString();
    }

    // Opened as Tools > Site Journal opens it: read-only. The test looks at
    // the journal itself; no timer races it.
    std::unique_ptr<JournalWindow> openWindow()
    {
        auto store = std::make_unique<JournalStore>();
        QString error;
        EXPECT_TRUE(store->openReadOnly(location, &error)) << error.toStdString();
        auto window =
            std::make_unique<JournalWindow>(std::move(store), [this](const UserMessage& m) { messages << m.text; });
        window->followTimer()->stop();
        return window;
    }

    // The event text shown on the table's row of `id`, and its tooltip.
    std::pair<QString, QString> textOf(JournalWindow& window, qint64 id)
    {
        const JournalTableModel& model = window.model();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.eventAt(row).id == id) {
                const QModelIndex cell = model.index(row, JournalTableModel::Text);
                return {cell.data().toString(), cell.data(Qt::ToolTipRole).toString()};
            }
        }
        ADD_FAILURE() << "no row " << id;
        return {};
    }

    void click(QTableView* view, int row)
    {
        const QRect cell = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    }

    QTemporaryDir dir;
    JournalLocation location;
    JournalStore writer;
    QList<qint64> ids;
    qint64 tripId = 0;
    qint64 restoreId = 0;
    QStringList messages;
    const AuditContext web{QStringLiteral("alice"), QStringLiteral("127.0.0.1")};
};

TEST_F(JournalWindowIncidents, CommentCountsOnTheirRowsAndTheIncidentList)
{
    annotate();
    auto window = openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_EQ(window->model().rowCount(), 5);
    const auto [first, firstTip] = textOf(*window, ids[0]);
    EXPECT_TRUE(first.endsWith(QStringLiteral("Input Point  5  Off  [2 comments]"))) << first.toStdString();
    EXPECT_TRUE(firstTip.contains(QStringLiteral("<b>alice</b>"))) << firstTip.toStdString();
    EXPECT_TRUE(firstTip.contains(QStringLiteral("first to open")));
    EXPECT_TRUE(firstTip.contains(QStringLiteral("&lt;b&gt;confirmed&lt;/b&gt; on site"))) << firstTip.toStdString();
    EXPECT_TRUE(firstTip.contains(QStringLiteral(" UTC:"))) << firstTip.toStdString();
    EXPECT_TRUE(textOf(*window, ids[4]).first.endsWith(QStringLiteral("[1 comment]")));
    for (const int i : {1, 2, 3})
        EXPECT_FALSE(textOf(*window, ids[i]).first.contains(u'[')) << i;
    int icons = 0;
    for (int row = 0; row < window->model().rowCount(); ++row)
        icons += !window->model().index(row, JournalTableModel::Text).data(Qt::DecorationRole).value<QIcon>().isNull();
    EXPECT_EQ(icons, 2);

    auto* dock = window->findChild<QDockWidget*>(QStringLiteral("dckIncidents"));
    ASSERT_NE(dock, nullptr);
    EXPECT_TRUE(dock->isVisible());
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Incidents (2)"));
    const IncidentListModel& list = window->incidents();
    ASSERT_EQ(list.rowCount(), 2);
    const auto cell = [&list](int row, int column) { return list.index(row, column).data().toString(); };
    EXPECT_EQ(cell(0, IncidentListModel::Title), QStringLiteral("North restored"));
    EXPECT_EQ(cell(0, IncidentListModel::Period), QStringLiteral("2024-03-01 13:05:00.000 to 14:00:00.000"));
    EXPECT_EQ(cell(0, IncidentListModel::Comments), QStringLiteral("0"));
    EXPECT_EQ(cell(1, IncidentListModel::Title), QStringLiteral("Feeder trip"));
    EXPECT_EQ(cell(1, IncidentListModel::Modules), QStringLiteral("127.0.0.2, 127.0.0.3"));
    EXPECT_EQ(cell(1, IncidentListModel::Author), QStringLiteral("alice"));
    EXPECT_TRUE(cell(1, IncidentListModel::Created).endsWith(QStringLiteral(" UTC")));
    EXPECT_EQ(cell(1, IncidentListModel::Comments), QStringLiteral("1"));
    EXPECT_EQ(window->shownIncident(), 0);
    EXPECT_EQ(window->model().rowCount(), 5) << "the list alone filters nothing";
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

// Clicking an incident applies its period and modules, point and text
// cleared, and shows its comment and comments; one module named by its name
// selects by name.
TEST_F(JournalWindowIncidents, ChoosingAnIncidentFiltersToItsPeriodAndModules)
{
    annotate();
    auto window = openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* grep = window->findChild<QLineEdit*>(QStringLiteral("txtJournalGrep"));
    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    auto* point = window->findChild<QComboBox*>(QStringLiteral("cmbJournalPoint"));
    ASSERT_TRUE(grep && module && point);
    grep->setText(QStringLiteral("nothing like it"));
    point->setCurrentIndex(point->findData(5));
    ASSERT_TRUE(window->applyFilter());
    ASSERT_EQ(window->model().rowCount(), 0);

    click(window->incidentList(), window->incidents().rowOf(tripId));
    EXPECT_EQ(window->filter().from, QStringLiteral("2024-03-01T13:00:00.000"));
    EXPECT_EQ(window->filter().to, QStringLiteral("2024-03-01T13:05:00.000"));
    EXPECT_EQ(window->filter().modules, (QStringList{"127.0.0.2", "127.0.0.3"}));
    EXPECT_TRUE(window->filter().grep.isEmpty());
    EXPECT_FALSE(window->filter().point);
    EXPECT_EQ(ModuleTimes(window->model()), (QStringList{"127.0.0.2 13:00:01.000", "127.0.0.3 13:00:02.000"}));
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"))->text(),
        QStringLiteral("2024-03-01 13:00:00.000"));
    EXPECT_EQ(module->currentText(), QStringLiteral("127.0.0.2, 127.0.0.3 (incident)"));
    EXPECT_EQ(window->shownIncident(), tripId);
    const QString details = window->incidentDetails()->toPlainText();
    for (const char* part :
        {"Feeder trip", "Both feeders opened on the bus fault", "Comments (1)", "bob", "87T picked up first"})
        EXPECT_TRUE(details.contains(QString::fromLatin1(part))) << part << "\n" << details.toStdString();
    // The row's comment marks stay with the rows shown.
    EXPECT_TRUE(textOf(*window, ids[0]).first.endsWith(QStringLiteral("[2 comments]")));

    // Applied by the module list as well: Apply keeps the incident's modules.
    ASSERT_TRUE(window->applyFilter());
    EXPECT_EQ(window->model().rowCount(), 2);

    // Changed by hand, then clicked again: applied again.
    window->findChild<QLineEdit*>(QStringLiteral("txtJournalTo"))->clear();
    ASSERT_TRUE(window->applyFilter());
    EXPECT_EQ(window->model().rowCount(), 4);
    click(window->incidentList(), window->incidents().rowOf(tripId));
    EXPECT_EQ(window->model().rowCount(), 2);

    // By keyboard to the next, which names North by its name.
    QTest::keyClick(window->incidentList(), Qt::Key_Up);
    EXPECT_EQ(window->shownIncident(), restoreId);
    EXPECT_EQ(window->filter().modules, QStringList{"North"});
    EXPECT_EQ(window->filter().to, QStringLiteral("2024-03-01T14:00:00.000"));
    EXPECT_EQ(ModuleTimes(window->model()), QStringList{"127.0.0.2 13:10:00.000"});
    EXPECT_TRUE(window->incidentDetails()->toPlainText().contains(QStringLiteral("No comments")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

// What the web view records while the window is open appears at its next
// look, and the incident chosen stays chosen.
TEST_F(JournalWindowIncidents, WhatIsRecordedLaterAppearsAtTheNextLook)
{
    annotate();
    auto window = openWindow();
    ASSERT_TRUE(window->chooseIncident(tripId));
    ASSERT_EQ(window->model().rowCount(), 2);
    ASSERT_FALSE(textOf(*window, ids[1]).first.contains(QStringLiteral("comment")));

    comment(ids[1], {}, "dave", "South opened 1 s after North");
    comment({}, tripId, "carol", "relay settings checked");
    Incident later;
    later.title = QStringLiteral("Battery alarm");
    later.fromTime = QStringLiteral("2024-03-01T13:00:03.000");
    later.toTime = QStringLiteral("2024-03-01T13:01:00.000");
    later.author = QStringLiteral("carol");
    QString error;
    ASSERT_TRUE(AddIncident(writer, later, web, &error)) << error.toStdString();
    ASSERT_TRUE(writer.append({Breaker("127.0.0.3", "13:00:03.000", true)}, &error)) << error.toStdString();
    const auto latest = JournalRowsAfter(writer, ids.last(), {}, 1, &error);
    ASSERT_TRUE(latest && latest->size() == 1) << error.toStdString();
    comment(latest->first().id, {}, "dave", "reclosed");

    window->follow();
    EXPECT_TRUE(window->following());
    ASSERT_EQ(window->model().rowCount(), 3);
    EXPECT_TRUE(textOf(*window, ids[1]).first.endsWith(QStringLiteral("[1 comment]")));
    EXPECT_TRUE(textOf(*window, ids[1]).second.contains(QStringLiteral("South opened 1 s after North")));
    ASSERT_EQ(window->incidents().rowCount(), 3);
    EXPECT_EQ(
        window->incidents().index(0, IncidentListModel::Title).data().toString(), QStringLiteral("Battery alarm"));
    const int trip = window->incidents().rowOf(tripId);
    EXPECT_EQ(window->incidents().index(trip, IncidentListModel::Comments).data().toString(), QStringLiteral("2"));
    EXPECT_EQ(window->incidentList()->currentIndex().row(), trip);
    EXPECT_EQ(window->shownIncident(), tripId);
    EXPECT_TRUE(window->incidentDetails()->toPlainText().contains(QStringLiteral("relay settings checked")));
    EXPECT_EQ(window->findChild<QDockWidget*>(QStringLiteral("dckIncidents"))->windowTitle(),
        QStringLiteral("Incidents (3)"));
    // A row that arrived with a comment already.
    EXPECT_TRUE(textOf(*window, latest->first().id).first.endsWith(QStringLiteral("[1 comment]")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

// A journal of schema 5, opened read-only as the menu opens it: its rows,
// no incidents and no message, and it stays at 5 until a writer migrates it.
TEST_F(JournalWindowIncidents, AJournalWrittenBeforeIncidentsOpensWithoutThem)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema5"));
        db.setDatabaseName(location.path);
        ASSERT_TRUE(db.open());
        // In WAL mode, as a collector of that version left it: a writer
        // that migrates it later keeps the files the window reads.
        QSqlQuery insert(db);
        ASSERT_TRUE(insert.exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        insert.finish();
        QString error;
        ASSERT_TRUE(MigrateJournal(db, JournalDialect::Sqlite, QStringLiteral("old"), &error, nullptr, 5))
            << error.toStdString();
        ASSERT_TRUE(insert.exec(QStringLiteral(
            "INSERT INTO journal_events (module, module_name, module_time, point, point_description, state_text, text,"
            " quality, received, raw) VALUES ('127.0.0.2', 'North', '2024-03-01T13:00:01.000', 5, 'Breaker 52',"
            " 'Open', 'Input Point  5  Off', 3, '2024-03-01T13:00:05.000Z', 'ab')")))
            << insert.lastError().text().toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema5"));

    auto window = openWindow();
    EXPECT_EQ(window->model().rowCount(), 1);
    EXPECT_EQ(
        window->model().index(0, JournalTableModel::Text).data().toString(), QStringLiteral("Input Point  5  Off"));
    EXPECT_EQ(window->incidents().rowCount(), 0);
    EXPECT_TRUE(window->incidentDetails()->toPlainText().contains(QStringLiteral("before incidents were kept")));
    window->follow();
    EXPECT_TRUE(window->following());
    EXPECT_EQ(window->statusBar()->currentMessage(), QStringLiteral("1 rows; following the journal"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(location.path);
        ASSERT_TRUE(db.open());
        QString error;
        EXPECT_EQ(JournalVersion(db, JournalDialect::Sqlite, &error), 5) << "migrated by the window";
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));

    // The web view's first start migrates it while the window is open: the
    // incidents recorded then appear at the next look.
    QString error;
    ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();
    Incident trip;
    trip.title = QStringLiteral("First incident");
    trip.fromTime = QStringLiteral("2024-03-01T13:00:00.000");
    trip.toTime = QStringLiteral("2024-03-01T14:00:00.000");
    trip.author = QStringLiteral("alice");
    ASSERT_TRUE(AddIncident(writer, trip, web, &error)) << error.toStdString();
    window->follow();
    EXPECT_EQ(window->model().rowCount(), 1) << "the page was not read anew";
    ASSERT_EQ(window->incidents().rowCount(), 1);
    EXPECT_EQ(window->incidents().index(0, IncidentListModel::Title).data().toString(), trip.title);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

} // namespace
} // namespace chronel
