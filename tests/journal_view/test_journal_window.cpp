// The site journal window on a SQLite journal the test fills through its own
// store, offscreen: the table's order and filters, rows followed as they are
// stored, the CSV export, the timing chart's picture, and Tools > Site
// Journal opening it. Nothing here talks to a module.
#include "support/postgres_server.h"
#include "support/qt_printers.h"
#include "support/screenshot.h"
#include "ui/chronel_main.h"
#include "ui/journal_actions.h"
#include "ui/journal_table_model.h"
#include "ui/journal_window.h"
#include "ui/timing_chart.h"

#include "journal/journal_store.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace chronel {
namespace {

JournalEvent Event(const QString& module, const QString& name, const QString& time, int point,
    const QString& description, bool on, const QString& stateText)
{
    JournalEvent e;
    e.module = module;
    e.moduleName = name;
    e.moduleTime = time;
    e.dateSource = QStringLiteral("record");
    e.point = point;
    e.pointDescription = description;
    e.stateText = stateText;
    e.text = QStringLiteral("%1  %2  S  G   Input Point %3  %4")
                 .arg(time.left(10), time.mid(11))
                 .arg(point, 2)
                 .arg(on ? QStringLiteral("On") : QStringLiteral("Off"));
    e.quality = 3;
    e.received = QDateTime(QDate(2024, 3, 1), QTime(13, 0, 5), Qt::UTC);
    e.raw = (module + time).toLatin1() + char(point);
    return e;
}

JournalEvent Breaker(const QString& module, const QString& time, bool closed)
{
    return Event(module, module == u"127.0.0.2" ? QStringLiteral("North") : QStringLiteral("South"),
        QStringLiteral("2024-03-01T") + time, 5, QStringLiteral("Breaker 52"), closed,
        closed ? QStringLiteral("Closed") : QStringLiteral("Open"));
}

QStringList ModuleTimes(const JournalTableModel& model)
{
    QStringList times;
    for (const JournalEvent& e : model.events())
        times << e.module + u' ' + e.moduleTime.mid(11);
    return times;
}

class JournalWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        location.path = dir.filePath(QStringLiteral("journal.sqlite"));
        QString error;
        ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();
        // Stored out of time order, as blocks of several modules arrive.
        append({Breaker("127.0.0.3", "13:00:02.000", true), Breaker("127.0.0.2", "13:00:01.000", false),
            Breaker("127.0.0.2", "13:00:03.000", true)});
        append({Event("127.0.0.2", "North", "2024-03-01T13:00:00.500", 0, {}, false, {})});
    }

    void append(const QList<JournalEvent>& events)
    {
        QString error;
        ASSERT_TRUE(writer.append(events, &error)) << error.toStdString();
    }

    std::unique_ptr<JournalWindow> openWindow()
    {
        auto store = std::make_unique<JournalStore>();
        QString error;
        EXPECT_TRUE(store->open(location, &error)) << error.toStdString();
        return std::make_unique<JournalWindow>(std::move(store), [this](const UserMessage& m) { messages << m.text; });
    }

    QTemporaryDir dir;
    JournalLocation location;
    JournalStore writer;
    QStringList messages;
};

TEST_F(JournalWindowTest, TableInModuleTimeOrderAndFiltersNarrowIt)
{
    auto window = openWindow();
    EXPECT_EQ(ModuleTimes(window->model()),
        (QStringList{
            "127.0.0.2 13:00:00.500", "127.0.0.2 13:00:01.000", "127.0.0.3 13:00:02.000", "127.0.0.2 13:00:03.000"}));
    EXPECT_EQ(window->table()->model()->rowCount(), 4);

    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    auto* point = window->findChild<QComboBox*>(QStringLiteral("cmbJournalPoint"));
    auto* from = window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"));
    ASSERT_TRUE(module && point && from);
    EXPECT_EQ(module->count(), 3); // all, and the two modules
    EXPECT_EQ(point->count(), 3);  // all, no point, 5
    module->setCurrentIndex(module->findData(QStringLiteral("127.0.0.2")));
    point->setCurrentIndex(point->findData(5));
    from->setText(QStringLiteral("2024-03-01 13:00:02"));
    ASSERT_TRUE(window->applyFilter());
    EXPECT_EQ(ModuleTimes(window->model()), (QStringList{"127.0.0.2 13:00:03.000"}));

    from->setText(QStringLiteral("13:00"));
    EXPECT_FALSE(window->applyFilter());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(location.path)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("\"13:00\""))) << messages[0].toStdString();
    EXPECT_EQ(window->model().rowCount(), 1); // the page stays as it was
}

TEST_F(JournalWindowTest, RowsStoredLaterAppearOnTheFollowTimer)
{
    auto window = openWindow();
    auto* grep = window->findChild<QLineEdit*>(QStringLiteral("txtJournalGrep"));
    grep->setText(QStringLiteral("point  5  on"));
    ASSERT_TRUE(window->applyFilter());
    ASSERT_EQ(window->model().rowCount(), 2);
    ASSERT_TRUE(window->followTimer()->isActive());

    // One row the filter selects, of a new module and earlier in module time
    // than the last shown, and one it does not.
    append({Breaker("127.0.0.5", "13:00:02.500", true), Breaker("127.0.0.3", "13:00:04.000", false)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->model().rowCount() == 3; }, 3 * JournalWindow::FollowMs));
    QTest::qWait(JournalWindow::FollowMs + 200); // another look adds nothing twice
    EXPECT_EQ(ModuleTimes(window->model()),
        (QStringList{"127.0.0.3 13:00:02.000", "127.0.0.5 13:00:02.500", "127.0.0.2 13:00:03.000"}));
    // The new module is one of the filter's choices now.
    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    EXPECT_GE(module->findData(QStringLiteral("127.0.0.5")), 0);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(JournalWindowTest, ExportWritesEveryRowOfTheFilterAsCsv)
{
    auto window = openWindow();
    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    module->setCurrentIndex(module->findData(QStringLiteral("127.0.0.2")));
    ASSERT_TRUE(window->applyFilter());

    const QString path = dir.filePath(QStringLiteral("export.csv"));
    window->setFileChooser([&path] { return path; });
    window->findChild<QPushButton*>(QStringLiteral("btnJournalExport"))->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
        QByteArray("module,name,module_time,point,state,text,quality,received,date_source,module_id,marks\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:00.500,0,,2024-03-01  13:00:00.500  S  G   Input Point  0  Off,"
                   "3,2024-03-01T13:00:05.000Z,record,,\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:01.000,5,Open,2024-03-01  13:00:01.000  S  G   Input Point  5  "
                   "Off,3,2024-03-01T13:00:05.000Z,record,,\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:03.000,5,Closed,2024-03-01  13:00:03.000  S  G   Input Point  5"
                   "  On,3,2024-03-01T13:00:05.000Z,record,,\r\n"));

    // A folder that does not exist: a message, and no file.
    EXPECT_FALSE(window->exportCsv(dir.filePath(QStringLiteral("missing/export.csv"))));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("missing/export.csv"))) << messages[0].toStdString();
}

// Whether a trace's dark line (not the light grid) is painted at x within a
// pixel of y.
bool Inked(const QImage& image, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy) {
        if (image.pixelColor(x, y + dy).lightness() < 160)
            return true;
    }
    return false;
}

TEST_F(JournalWindowTest, ChartDrawsTheSelectedPointsStateChanges)
{
    auto window = openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    TimingChart* chart = window->chart();
    EXPECT_TRUE(chart->traces().isEmpty());
    // The row of North's point 5 at 13:00:01 (Off) charts North's point 5.
    window->table()->selectionModel()->select(
        window->model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(chart->traces().size(), 1);
    EXPECT_EQ(chart->traces()[0].label, QStringLiteral("North  5 Breaker 52"));
    ASSERT_EQ(chart->segments(0).size(), 3);
    EXPECT_EQ(chart->segments(0)[1].state, PointState::Off);

    const QImage image = chart->grab().toImage();
    const TimeAxis& axis = chart->axis();
    const auto xOf = [&](const char* time) {
        return chart->plotLeft() + int(axis.toX(*ModuleTimeMs(QStringLiteral("2024-03-01T") + time)));
    };
    // On before 13:00:01 (the first event is a change to Off), Off until
    // 13:00:03, On after.
    for (const auto& [x, on] : {std::pair{xOf("13:00:00.800"), true}, std::pair{xOf("13:00:02.000"), false},
             std::pair{xOf("13:00:03.060"), true}}) {
        EXPECT_EQ(Inked(image, x, chart->highY(0)), on) << x;
        EXPECT_EQ(Inked(image, x, chart->lowY(0)), !on) << x;
    }

    // With nothing selected, the filter's point of every module.
    window->table()->clearSelection();
    EXPECT_TRUE(chart->traces().isEmpty());
    auto* point = window->findChild<QComboBox*>(QStringLiteral("cmbJournalPoint"));
    point->setCurrentIndex(point->findData(5));
    ASSERT_TRUE(window->applyFilter());
    ASSERT_EQ(chart->traces().size(), 2);
    EXPECT_EQ(chart->traces()[1].label, QStringLiteral("South  5 Breaker 52"));

    // The wheel zooms about the pointer.
    const double before = axis.msPerPixel();
    QWheelEvent wheel(QPointF(chart->plotLeft() + 100, 60), chart->mapToGlobal(QPointF(chart->plotLeft() + 100, 60)),
        {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
    EXPECT_DOUBLE_EQ(axis.msPerPixel(), before / TimingChart::WheelZoom);
}

TEST_F(JournalWindowTest, LatestIdIsTheLastRowsId)
{
    QList<JournalEvent> block;
    for (int i = 0; i < 37; ++i)
        block << Breaker("127.0.0.4", QStringLiteral("13:01:%1.000").arg(i, 2, 10, QLatin1Char('0')), i % 2);
    append(block);
    QString error;
    const auto rows = JournalRows(writer, {}, &error);
    ASSERT_TRUE(rows) << error.toStdString();
    qint64 last = 0;
    for (const JournalEvent& e : *rows)
        last = std::max(last, e.id);
    EXPECT_EQ(LatestJournalId(writer, &error), last);

    JournalStore empty;
    JournalLocation elsewhere;
    elsewhere.path = dir.filePath(QStringLiteral("empty.sqlite"));
    ASSERT_TRUE(empty.open(elsewhere, &error)) << error.toStdString();
    EXPECT_EQ(LatestJournalId(empty, &error), 0);
}

TEST_F(JournalWindowTest, AJournalOfMoreThanAPageOpensAtTheDayOfItsLastRow)
{
    QList<JournalEvent> block;
    for (int i = 0; i < JournalWindow::PageRows; ++i) {
        const QString time = QTime(14, 0).addMSecs(i * 100).toString(QStringLiteral("HH:mm:ss.zzz"));
        block << Breaker("127.0.0.4", time, i % 2);
    }
    JournalEvent nextDay = Breaker("127.0.0.4", "08:00:00.000", true);
    nextDay.moduleTime.replace(QStringLiteral("2024-03-01"), QStringLiteral("2024-03-02"));
    block << nextDay;
    append(block);

    auto window = openWindow();
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"))->text(), QStringLiteral("2024-03-02"));
    EXPECT_EQ(window->filter().from, QStringLiteral("2024-03-02T00:00:00.000"));
    ASSERT_EQ(window->model().rowCount(), 1);
    EXPECT_EQ(window->model().eventAt(0).moduleTime, nextDay.moduleTime);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(JournalWindowTest, SiteJournalMenuOpensOneWindowPerJournal)
{
    ChronelMain main; // no control factory: nothing is sent
    JournalActions actions(main);
    QStringList chosen{dir.filePath(QStringLiteral("nosuch.sqlite")), location.path, location.path};
    actions.setLocationChooser([&chosen] { return chosen.takeFirst(); });
    actions.setMessageSink([this](const UserMessage& m) { messages << m.text; });
    QAction* entry = main.menuAction(QStringLiteral("mnuToolsSiteJournal"));
    ASSERT_NE(entry, nullptr);

    entry->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("journal %1: no such file").arg(dir.filePath("nosuch.sqlite")));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("nosuch.sqlite"))));

    entry->trigger();
    entry->trigger();
    const auto windows = main.findChildren<JournalWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(windows[0]->model().rowCount(), 4);
    EXPECT_EQ(messages.size(), 1);
}

// A PostgreSQL journal typed as a URL into Tools > Site Journal, on a private
// server on a Unix socket: its rows in order, and one stored later followed.
TEST(JournalWindowPostgres, OpensAUrlAndFollowsTheJournal)
{
    test::PostgresServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    ASSERT_TRUE(server.createDatabase(QStringLiteral("site"), &error)) << error.toStdString();
    const QString url = server.url(QStringLiteral("site"));
    const auto location = ParseJournalLocation(url, &error);
    ASSERT_TRUE(location) << error.toStdString();
    JournalStore writer;
    ASSERT_TRUE(writer.open(*location, &error)) << error.toStdString();
    ASSERT_TRUE(writer.append(
        {Breaker("127.0.0.3", "13:00:02.000", true), Breaker("127.0.0.2", "13:00:01.000", false)}, &error))
        << error.toStdString();

    ChronelMain main; // no control factory: nothing is sent
    JournalActions actions(main);
    QStringList messages;
    actions.setMessageSink([&messages](const UserMessage& m) { messages << m.text; });
    JournalWindow* window = actions.openJournal(url);
    ASSERT_NE(window, nullptr) << messages.join(u'\n').toStdString();
    EXPECT_EQ(ModuleTimes(window->model()), (QStringList{"127.0.0.2 13:00:01.000", "127.0.0.3 13:00:02.000"}));

    ASSERT_TRUE(writer.append({Breaker("127.0.0.2", "13:00:01.500", true)}, &error)) << error.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->model().rowCount() == 3; }, 3 * JournalWindow::FollowMs));
    EXPECT_EQ(window->model().eventAt(1).moduleTime, QStringLiteral("2024-03-01T13:00:01.500"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

// The pictures of the README: a feeder trip on a site of three modules, the
// window with the chart of six points and the chart alone, the cursor on the
// transformer's trip.
TEST(JournalWindowPictures, TripOnASiteOfThreeModules)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    JournalLocation location;
    location.path = dir.filePath(QStringLiteral("journal.sqlite"));
    JournalStore writer;
    QString error;
    ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();

    struct Step {
        const char* module;
        const char* time;
        int point;
        bool on;
    };
    const QHash<QString, QString> names{
        {"192.168.16.141", "Feeder 1"}, {"192.168.16.142", "Feeder 2"}, {"192.168.16.143", "Transformer T1"}};
    const QHash<int, std::tuple<QString, QString, QString>> points{{1, {"87T differential trip", "Trip", "Normal"}},
        {2, {"27 undervoltage", "Pickup", "Normal"}}, {3, {"52-T1 HV breaker", "Closed", "Open"}},
        {5, {"52 breaker", "Closed", "Open"}}, {7, {"86 lockout", "Locked out", "Reset"}},
        {9, {"Battery charger fail", "Alarm", "Normal"}}};
    const Step steps[] = {{"192.168.16.143", "14:03:20.912", 9, true}, {"192.168.16.143", "14:03:20.975", 9, false},
        {"192.168.16.143", "14:03:21.104", 1, true}, {"192.168.16.141", "14:03:21.110", 2, true},
        {"192.168.16.142", "14:03:21.113", 2, true}, {"192.168.16.143", "14:03:21.162", 3, false},
        {"192.168.16.141", "14:03:21.171", 5, false}, {"192.168.16.142", "14:03:21.175", 5, false},
        {"192.168.16.141", "14:03:21.180", 7, true}, {"192.168.16.143", "14:03:21.420", 1, false},
        {"192.168.16.141", "14:03:21.851", 2, false}, {"192.168.16.142", "14:03:21.853", 2, false},
        {"192.168.16.142", "14:03:22.480", 5, true}, {"192.168.16.143", "14:03:22.730", 3, true},
        {"192.168.16.141", "14:03:23.020", 7, false}, {"192.168.16.141", "14:03:23.415", 5, true}};
    QList<JournalEvent> block;
    for (const Step& step : steps) {
        const auto& [description, onText, offText] = points.value(step.point);
        const QString module = QString::fromLatin1(step.module);
        block << Event(module, names.value(module), QStringLiteral("2026-12-07T") + QString::fromLatin1(step.time),
            step.point, description, step.on, step.on ? onText : offText);
        // Received 1.3 s later, in UTC; the modules keep UTC+1.
        const QDateTime at = QDateTime::fromString(block.last().moduleTime, Qt::ISODateWithMs);
        block.last().received = QDateTime(at.date(), at.time(), Qt::UTC).addMSecs(1300 - 3600 * 1000);
    }
    ASSERT_TRUE(writer.append(block, &error)) << error.toStdString();

    auto store = std::make_unique<JournalStore>();
    ASSERT_TRUE(store->open(location, &error)) << error.toStdString();
    JournalWindow window(std::move(store));
    window.resize(1280, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.findChild<QSplitter*>(QStringLiteral("splJournal"))->setSizes({430, 330});
    for (const int row : {2, 3, 5, 6, 7, 8})
        window.table()->selectionModel()->select(
            window.model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    TimingChart* chart = window.chart();
    ASSERT_EQ(chart->traces().size(), 6);
    const auto pointAt = [chart](const char* time) {
        const double x = chart->plotLeft() + chart->axis().toX(*ModuleTimeMs(QString::fromLatin1(time)));
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 60), chart->mapToGlobal(QPointF(x, 60)), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
    };
    pointAt("2026-12-07T14:03:21.300");
    ASSERT_TRUE(chart->cursorTime());
    EXPECT_TRUE(test::saveScreenshot(&window, QStringLiteral("journal-window.png")));
    chart->parentWidget()->resize(1100, chart->parentWidget()->sizeHint().height());
    pointAt("2026-12-07T14:03:21.300");
    EXPECT_TRUE(test::saveScreenshot(chart->parentWidget(), QStringLiteral("journal-timing-chart.png")));
}

} // namespace
} // namespace chronel
