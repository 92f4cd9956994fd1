// The site journal window on a SQLite journal the test fills through its own
// store, offscreen: the table's order and filters, rows followed as they are
// stored, the CSV and COMTRADE exports, the clock column and the legend,
// the timing chart's picture, and Tools > Site Journal opening it. Nothing
// here talks to a module.
#include "comtrade_reader.h"
#include "support/postgres_server.h"
#include "support/qt_printers.h"
#include "support/screenshot.h"
#include "ui/chronel_main.h"
#include "ui/journal_actions.h"
#include "ui/journal_open_dialog.h"
#include "ui/journal_table_model.h"
#include "ui/journal_window.h"
#include "ui/timing_chart.h"

#include "journal/journal_incidents.h"
#include "journal/journal_store.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QSysInfo>
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

// A breaker row of a module whose zone is declared: its UTC time, and its
// clock's source, quality and offset when its block was read.
JournalEvent Zoned(const QString& module, const QString& time, bool closed, const char* utc, int clockSource,
    int clockQuality = 0, int clockOffsetMs = 0)
{
    JournalEvent e = Breaker(module, time, closed);
    e.utcTime = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs);
    e.zone = module == u"127.0.0.2" ? QStringLiteral("+01:00") : QStringLiteral("UTC");
    e.clockSource = clockSource;
    e.clockQuality = clockQuality;
    e.clockOffsetMs = clockOffsetMs;
    return e;
}

// The journals Tools > Site Journal remembers go to a folder of the test's.
void KeepSettingsInATemporaryFolder()
{
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
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
    ASSERT_EQ(point->count(), 3);  // all, no point, 5
    EXPECT_EQ(point->itemText(2), QStringLiteral("5  Breaker 52"));

    // The text filter finds what engineers type, a description here.
    auto* grep = window->findChild<QLineEdit*>(QStringLiteral("txtJournalGrep"));
    grep->setText(QStringLiteral("breaker"));
    QTest::keyClick(grep, Qt::Key_Return);
    EXPECT_EQ(window->model().rowCount(), 3);
    grep->clear();
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

TEST_F(JournalWindowTest, ExportWritesEveryColumnOfEveryRowOfTheFilterAsCsv)
{
    // Texts a spreadsheet would run as formulas.
    JournalEvent hostile = Breaker("127.0.0.2", "13:00:04.000", true);
    hostile.pointDescription = QStringLiteral("=HYPERLINK(\"http://x\",\"52\")");
    hostile.stateText = QStringLiteral("-48 V");
    hostile.moduleName = QStringLiteral("@North");
    append({hostile});
    auto window = openWindow();
    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    module->setCurrentIndex(module->findData(QStringLiteral("127.0.0.2")));
    ASSERT_TRUE(window->applyFilter());

    const QString path = dir.filePath(QStringLiteral("export.csv"));
    window->setFileChooser([&path] { return path; });
    window->findChild<QPushButton*>(QStringLiteral("btnJournalExport"))->click();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // The system event's point is empty, as in the table.
    EXPECT_EQ(file.readAll(),
        QByteArray("module,name,module_time,point,description,state,text,quality,received,clock\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:00.500,,,,2024-03-01  13:00:00.500  S  G   Input Point  0  Off,"
                   "3,2024-03-01T13:00:05.000Z,unknown\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:01.000,5,Breaker 52,Open,2024-03-01  13:00:01.000  S  G   Input "
                   "Point  5  Off,3,2024-03-01T13:00:05.000Z,unknown\r\n"
                   "127.0.0.2,North,2024-03-01T13:00:03.000,5,Breaker 52,Closed,2024-03-01  13:00:03.000  S  G   "
                   "Input Point  5  On,3,2024-03-01T13:00:05.000Z,unknown\r\n"
                   "127.0.0.2,'@North,2024-03-01T13:00:04.000,5,\"'=HYPERLINK(\"\"http://x\"\",\"\"52\"\")\",'-48 V,"
                   "2024-03-01  13:00:04.000  S  G   Input Point  5  On,3,2024-03-01T13:00:05.000Z,unknown\r\n"));
    EXPECT_EQ(window->model().columnCount(), 10); // the table's columns, all in the file

    // A folder that does not exist: a message, and no file.
    EXPECT_FALSE(window->exportCsv(dir.filePath(QStringLiteral("missing/export.csv"))));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("missing/export.csv"))) << messages[0].toStdString();
}

// The record of a UTC period: North (+01:00) was closed before it and opens
// in it, South (UTC, on its internal clock) closes in it; the module filter
// narrows it to one module, which names the device.
TEST_F(JournalWindowTest, ExportComtradeWritesTheRecordOfTheUtcPeriodApplied)
{
    append({Zoned("127.0.0.2", "14:30:00.000", true, "2024-03-01T13:30:00.000Z", 1)});
    append({Zoned("127.0.0.2", "15:00:00.000", false, "2024-03-01T14:00:00.000Z", 1),
        Zoned("127.0.0.3", "14:00:00.100", true, "2024-03-01T14:00:00.100Z", 0)});
    auto window = openWindow();
    window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"))->setText(QStringLiteral("2024-03-01 13:45Z"));
    window->findChild<QLineEdit*>(QStringLiteral("txtJournalTo"))->setText(QStringLiteral("2024-03-01 14:15Z"));
    ASSERT_TRUE(window->applyFilter());
    EXPECT_EQ(window->model().rowCount(), 2);

    QString folder = dir.filePath(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(folder));
    window->setFolderChooser([&folder] { return folder; });
    window->findChild<QPushButton*>(QStringLiteral("btnJournalExportComtrade"))->click();
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
    const QStringList cfgs = QDir(folder).entryList({QStringLiteral("*.cfg")});
    ASSERT_EQ(cfgs.size(), 1);
    const QString host = QSysInfo::machineHostName();
    EXPECT_TRUE(cfgs[0].startsWith(QStringLiteral("240301,134500000,0,"))) << cfgs[0].toStdString();
    QString error;
    auto read = test::ReadComtrade(QDir(folder).filePath(cfgs[0]), &error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_EQ(read->station, host);
    EXPECT_EQ(read->device, QStringLiteral("site journal"));
    ASSERT_EQ(read->channels.size(), 2u);
    EXPECT_EQ(read->channels[0].id, QStringLiteral("North Input Point 5 Breaker 52"));
    EXPECT_EQ(read->channels[1].id, QStringLiteral("South Input Point 5 Breaker 52"));
    ASSERT_EQ(read->samples.size(), 4u);
    const std::vector<std::vector<int>> states{{1, 0}, {0, 0}, {0, 1}, {0, 1}};
    const std::vector<double> times{0, 900e6, 900.1e6, 1800e6};
    for (std::size_t i = 0; i < read->samples.size(); ++i) {
        EXPECT_EQ(read->samples[i].states, states[i]) << i;
        EXPECT_DOUBLE_EQ(read->microseconds(read->samples[i]), times[i]) << i;
    }
    EXPECT_EQ(read->timeQuality, 0xF); // South's clock was not synchronised
    EXPECT_TRUE(window->statusBar()->currentMessage().contains(QStringLiteral("2 changes")))
        << window->statusBar()->currentMessage().toStdString();

    auto* module = window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"));
    module->setCurrentIndex(module->findData(QStringLiteral("127.0.0.2")));
    ASSERT_TRUE(window->applyFilter());
    folder = dir.filePath(QStringLiteral("north"));
    ASSERT_TRUE(QDir().mkpath(folder));
    window->findChild<QPushButton*>(QStringLiteral("btnJournalExportComtrade"))->click();
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
    const QStringList north = QDir(folder).entryList({QStringLiteral("*.cfg")});
    ASSERT_EQ(north.size(), 1);
    read = test::ReadComtrade(QDir(folder).filePath(north[0]), &error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_EQ(read->device, QStringLiteral("127.0.0.2"));
    ASSERT_EQ(read->channels.size(), 1u);
    ASSERT_EQ(read->samples.size(), 3u);
    EXPECT_EQ(read->samples[1].states, std::vector<int>{0});
    EXPECT_EQ(read->timeQuality, 0x0);
}

// A period of module times, or open at one end, has no UTC bounds: the
// export says so before it asks for a folder, and writes nothing. A folder
// that is not there, and a period without a change, are named.
TEST_F(JournalWindowTest, ExportComtradeRefusesAPeriodWithoutUtcBounds)
{
    append({Zoned("127.0.0.3", "13:30:00.000", true, "2024-03-01T13:30:00.000Z", 1)});
    auto window = openWindow();
    int asked = 0;
    window->setFolderChooser([&] {
        ++asked;
        return dir.path();
    });
    auto* from = window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"));
    auto* to = window->findChild<QLineEdit*>(QStringLiteral("txtJournalTo"));
    const auto exportWith = [&](const char* fromText, const char* toText) {
        from->setText(QString::fromLatin1(fromText));
        to->setText(QString::fromLatin1(toText));
        EXPECT_TRUE(window->applyFilter());
        window->findChild<QPushButton*>(QStringLiteral("btnJournalExportComtrade"))->click();
    };
    exportWith("", "");
    exportWith("2024-03-01 13:00", "2024-03-01 14:00");
    exportWith("2024-03-01 13:00Z", "");
    exportWith("2024-03-01 13:00Z", "2024-03-01 14:00");
    EXPECT_EQ(asked, 0);
    ASSERT_EQ(messages.size(), 4);
    for (const QString& message : std::as_const(messages)) {
        EXPECT_TRUE(message.startsWith(QStringLiteral("Export COMTRADE: a COMTRADE record holds UTC times")))
            << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("with Z or an offset"))) << message.toStdString();
    }
    EXPECT_TRUE(messages[1].contains(QStringLiteral("(From 2024-03-01 13:00, To 2024-03-01 14:00)")))
        << messages[1].toStdString();
    EXPECT_TRUE(messages[2].contains(QStringLiteral("To open"))) << messages[2].toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.cfg"), QStringLiteral("*.dat")}).isEmpty());

    messages.clear();
    exportWith("2024-03-01 13:00Z", "2024-03-01 14:00Z");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.cfg")}).size(), 1);
    EXPECT_FALSE(window->exportComtrade(dir.filePath(QStringLiteral("missing"))));
    exportWith("2024-03-01 15:00Z", "2024-03-01 16:00Z");
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Export COMTRADE: ")));
    EXPECT_TRUE(messages[0].contains(dir.filePath(QStringLiteral("missing: no such folder"))))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[1].contains(QStringLiteral("no status channel"))) << messages[1].toStdString();
}

// The clock beside the module time, a doubtful one with the warning icon,
// and the legend one click away.
TEST_F(JournalWindowTest, ClockBesideTheModuleTimeAndALegendAtHand)
{
    append({Zoned("127.0.0.3", "13:00:04.000", true, "2024-03-01T13:00:04.000Z", 0)});
    auto window = openWindow();
    const QHeaderView* header = window->table()->horizontalHeader();
    EXPECT_EQ(header->visualIndex(JournalTableModel::Clock), header->visualIndex(JournalTableModel::ModuleTime) + 1);
    const JournalTableModel& model = window->model();
    ASSERT_EQ(model.rowCount(), 5);
    for (int row = 0; row < model.rowCount(); ++row) {
        const bool doubt = model.eventAt(row).clockSource == 0;
        EXPECT_EQ(model.index(row, JournalTableModel::Clock).data(Qt::DecorationRole).value<QIcon>().isNull(), !doubt)
            << row;
    }

    auto* legend = window->findChild<QLabel*>(QStringLiteral("lblJournalLegend"));
    auto* button = window->findChild<QPushButton*>(QStringLiteral("btnJournalLegend"));
    ASSERT_TRUE(legend && button);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_FALSE(legend->isVisible());
    button->click();
    EXPECT_TRUE(legend->isVisible());
    EXPECT_TRUE(legend->text().contains(QStringLiteral("chattering")));
    EXPECT_TRUE(legend->text().contains(QStringLiteral("clock not synchronised")));
    button->click();
    EXPECT_FALSE(legend->isVisible());
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
    EXPECT_EQ(chart->traces()[0].module, QStringLiteral("North  127.0.0.2"));
    EXPECT_EQ(chart->traces()[0].label, QStringLiteral("5 Breaker 52"));
    // Nothing was collected from North before 13:00:00.500.
    ASSERT_EQ(chart->segments(0).size(), 4);
    EXPECT_EQ(chart->segments(0)[0].state, PointState::NoData);
    EXPECT_EQ(chart->segments(0)[0].to, *JournalTimeMs(QStringLiteral("2024-03-01T13:00:00.500")));
    EXPECT_EQ(chart->segments(0)[2].state, PointState::Off);

    const QImage image = chart->grab().toImage();
    const TimeAxis& axis = chart->axis();
    const auto xOf = [&](const char* time) {
        return chart->plotLeft() + int(axis.toX(*JournalTimeMs(QStringLiteral("2024-03-01T") + time)));
    };
    // No line before North's first row; On from there to 13:00:01 (the
    // first event is a change to Off), Off until 13:00:03, On after.
    EXPECT_FALSE(Inked(image, xOf("13:00:00.450"), chart->highY(0)));
    EXPECT_FALSE(Inked(image, xOf("13:00:00.450"), chart->lowY(0)));
    for (const auto& [x, on] : {std::pair{xOf("13:00:00.800"), true}, std::pair{xOf("13:00:02.000"), false},
             std::pair{xOf("13:00:03.060"), true}}) {
        EXPECT_EQ(Inked(image, x, chart->highY(0)), on) << x;
        EXPECT_EQ(Inked(image, x, chart->lowY(0)), !on) << x;
    }
    // The cursor reads the module's words for the state.
    for (const auto& [time, reading] : {std::pair{"13:00:00.450", "no data"}, std::pair{"13:00:02.000", "Open"},
             std::pair{"13:00:03.060", "Closed"}}) {
        const QPointF at(xOf(time), chart->highY(0));
        QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        EXPECT_EQ(chart->cursorReading(0), QString::fromLatin1(reading)) << time;
    }

    // With nothing selected, the filter's point of every module.
    window->table()->clearSelection();
    EXPECT_TRUE(chart->traces().isEmpty());
    auto* point = window->findChild<QComboBox*>(QStringLiteral("cmbJournalPoint"));
    point->setCurrentIndex(point->findData(5));
    ASSERT_TRUE(window->applyFilter());
    ASSERT_EQ(chart->traces().size(), 2);
    EXPECT_EQ(chart->traces()[1].module, QStringLiteral("South  127.0.0.3"));

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

TEST_F(JournalWindowTest, TheStatusLineSaysWhatTheFilterFieldsDo)
{
    auto window = openWindow();
    window->followTimer()->stop();
    auto* from = window->findChild<QLineEdit*>(QStringLiteral("txtJournalFrom"));
    auto* to = window->findChild<QLineEdit*>(QStringLiteral("txtJournalTo"));
    auto* grep = window->findChild<QLineEdit*>(QStringLiteral("txtJournalGrep"));
    QStatusBar* status = window->statusBar();
    EXPECT_EQ(status->currentMessage(), QStringLiteral("4 rows; following the journal"));

    QTest::keyClicks(grep, QStringLiteral("breaker"));
    EXPECT_EQ(status->currentMessage(),
        QStringLiteral("4 rows; following the journal. Text typed but not applied: Apply or Enter shows them"));
    from->setText(QStringLiteral("2024-03-01 14:00"));
    to->setText(QStringLiteral("2024-03-01 13:00"));
    QTest::keyClick(to, Qt::Key_Return);
    EXPECT_EQ(window->model().rowCount(), 0);
    EXPECT_EQ(status->currentMessage(),
        QStringLiteral("0 rows: From 2024-03-01 14:00 is not before To 2024-03-01 13:00, so no row can match; "
                       "following the journal"));
    // In UTC, with offsets: 13:30Z is after 14:00+01:00.
    from->setText(QStringLiteral("2024-03-01 13:30Z"));
    to->setText(QStringLiteral("2024-03-01 14:00+01:00"));
    QTest::keyClick(to, Qt::Key_Return);
    EXPECT_TRUE(status->currentMessage().contains(QStringLiteral("is not before")))
        << status->currentMessage().toStdString();
    EXPECT_TRUE(messages.isEmpty());
}

// The filter folds onto two rows: on a screen of 1024 × 600 nothing is
// drawn over anything else and no field is squeezed.
TEST_F(JournalWindowTest, FitsAScreenOf1024By600)
{
    auto window = openWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->resize(1024, 600);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(1024, 600));
    auto* row = window->findChild<QWidget*>(QStringLiteral("wgtJournalFilter"));
    ASSERT_NE(row, nullptr);
    const QList<QWidget*> parts = row->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_GE(parts.size(), 12);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QWidget* a = parts[i];
        EXPECT_GE(a->width(), a->minimumSizeHint().width()) << a->objectName().toStdString();
        EXPECT_LE(a->geometry().right(), row->width()) << a->objectName().toStdString();
        for (qsizetype j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(a->geometry().intersects(parts[j]->geometry()))
                << qPrintable(a->objectName()) << " " << qPrintable(parts[j]->objectName());
    }
}

TEST_F(JournalWindowTest, SiteJournalMenuOpensOneWindowPerJournal)
{
    KeepSettingsInATemporaryFolder();
    ChronelMain main; // no control factory: nothing is sent
    JournalActions actions(main);
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(notes);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    // A PostgreSQL server that is not there: its socket's folder is empty.
    const QString server = QStringLiteral("postgresql:///site?host=") + dir.path();
    QStringList chosen{notes, server, dir.filePath(QStringLiteral("nosuch.sqlite")), location.path, location.path};
    actions.setLocationChooser([&chosen] { return chosen.takeFirst(); });
    actions.setMessageSink([this](const UserMessage& m) { messages << m.text; });
    QAction* entry = main.menuAction(QStringLiteral("mnuToolsSiteJournal"));
    ASSERT_NE(entry, nullptr);

    // Messages in words, naming the journal.
    entry->trigger();
    entry->trigger();
    entry->trigger();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_EQ(messages[0],
        QStringLiteral("journal %1: cannot read: the file is not a database, so it holds no journal").arg(notes));
    EXPECT_TRUE(messages[1].startsWith(
        QStringLiteral("journal %1: cannot connect: connection to server on socket").arg(server)))
        << messages[1].toStdString();
    for (const char* noise : {"\t", "\n", "QPSQL", "Unable to"})
        EXPECT_FALSE(messages[1].contains(QLatin1String(noise))) << noise << ": " << messages[1].toStdString();
    EXPECT_EQ(messages[2], QStringLiteral("journal %1: no such file").arg(dir.filePath("nosuch.sqlite")));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("nosuch.sqlite"))));

    entry->trigger();
    entry->trigger();
    const auto windows = main.findChildren<JournalWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(windows[0]->model().rowCount(), 4);
    EXPECT_EQ(messages.size(), 3);

    // The next run's Open Journal dialog offers the journal opened last.
    EXPECT_EQ(JournalActions::recentJournals().value(0), location.path);
    JournalOpenDialog dialog(JournalActions::recentJournals());
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("cmbJournalLocation"))->currentText(), location.path);
}

// A collector in a process of its own (journal_writer_process), so that
// SQLite's locks between it and the window are those between processes.
class WriterProcess {
public:
    explicit WriterProcess(const QString& journal)
    {
        process_.setProgram(QStringLiteral(JOURNAL_WRITER_PATH));
        process_.setArguments({journal});
        process_.start();
    }
    ~WriterProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Stores `count` events of `module` and waits until they are committed.
    bool append(const char* module, int first, int count)
    {
        process_.write(QStringLiteral("append %1 %2 %3\n").arg(QLatin1String(module)).arg(first).arg(count).toLatin1());
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(10000)) {
                ADD_FAILURE() << "no answer: " << process_.readAllStandardError().toStdString();
                return false;
            }
        }
        return process_.readLine() == QStringLiteral("stored %1\n").arg(count).toLatin1();
    }

    // Ends its input: it closes the journal and exits, as a collector that stops.
    bool finish()
    {
        process_.closeWriteChannel();
        return process_.waitForFinished(10000) && process_.exitStatus() == QProcess::NormalExit &&
            process_.exitCode() == 0;
    }

private:
    QProcess process_;
};

// A file dialog of the window's process that opens and closes the journal's
// file drops the process's SQLite locks (POSIX locks belong to the process
// and go with any descriptor of the file closed), so the collector that
// stops next takes itself for the last reader and removes the write-ahead
// log the window reads, and the next collector writes a new one.
TEST(JournalWindowFollowing, ANewWriteAheadLogAfterTheLocksAreLostIsFollowed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    WriterProcess first(path);
    ASSERT_TRUE(first.append("127.0.0.2", 0, 3));

    KeepSettingsInATemporaryFolder();
    ChronelMain main; // no control factory: nothing is sent
    JournalActions actions(main);
    QStringList messages;
    actions.setMessageSink([&messages](const UserMessage& m) { messages << m.text; });
    JournalWindow* window = actions.openJournal(path);
    ASSERT_NE(window, nullptr) << messages.join(u'\n').toStdString();
    window->followTimer()->stop(); // the test looks at the journal itself
    ASSERT_EQ(window->model().rowCount(), 3);

    {
        QFile dialogsLook(path);
        ASSERT_TRUE(dialogsLook.open(QIODevice::ReadOnly));
    }
    ASSERT_TRUE(first.append("127.0.0.2", 3, 2));
    ASSERT_TRUE(first.finish());
    ASSERT_FALSE(QFile::exists(path + QStringLiteral("-wal"))) << "the window's locks were not lost";
    window->follow();
    EXPECT_EQ(window->model().rowCount(), 5);

    WriterProcess second(path);
    ASSERT_TRUE(second.append("127.0.0.3", 0, 4));
    window->follow();
    EXPECT_EQ(window->model().rowCount(), 9);
    EXPECT_GE(
        window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"))->findData(QStringLiteral("127.0.0.3")), 0);
    EXPECT_EQ(window->statusBar()->currentMessage(), QStringLiteral("9 rows; following the journal"));
    ASSERT_TRUE(second.append("127.0.0.3", 4, 1));
    window->findChild<QPushButton*>(QStringLiteral("btnJournalApply"))->click();
    EXPECT_EQ(window->model().rowCount(), 10);
    ASSERT_TRUE(second.finish());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();

    // A journal that is gone: said, with the rows shown for what they are,
    // and each look tries again.
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    window->follow();
    EXPECT_FALSE(window->following());
    const QString status = window->statusBar()->currentMessage();
    EXPECT_TRUE(status.startsWith(QStringLiteral("Not following: journal %1: the file was removed or replaced, and "
                                                 "opening it again failed: journal %1: no such file; trying again "
                                                 "every second. The table shows the 10 rows read at ")
                                      .arg(path)))
        << status.toStdString();
    WriterProcess third(path);
    ASSERT_TRUE(third.append("127.0.0.4", 0, 2));
    window->follow();
    EXPECT_TRUE(window->following());
    EXPECT_EQ(window->model().rowCount(), 2);
    EXPECT_EQ(window->statusBar()->currentMessage(), QStringLiteral("2 rows; following the journal"));
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cmbJournalModule"))->count(), 2); // all, and .4
    ASSERT_TRUE(third.finish());
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

    KeepSettingsInATemporaryFolder();
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
        // The feeders' clocks follow GPS; Feeder 2's lost it before the trip.
        const bool lost = module == u"192.168.16.142";
        block.last().clockSource = lost ? 0x08 : 1;
        block.last().clockQuality = lost ? 1 : 0;
        if (module != u"192.168.16.143")
            block.last().clockOffsetMs = lost ? 1400 : 300;
    }
    ASSERT_TRUE(writer.append(block, &error)) << error.toStdString();
    // What the engineers recorded about it in the web view.
    const AuditContext web{QStringLiteral("jdoe"), QStringLiteral("127.0.0.1")};
    Incident trip;
    trip.title = QStringLiteral("T1 differential trip, feeders 1 and 2 open");
    trip.fromTime = QStringLiteral("2026-12-07T14:03:20.900");
    trip.toTime = QStringLiteral("2026-12-07T14:03:24.000");
    trip.comment = QStringLiteral("87T operated on an internal fault; both feeders opened on undervoltage.");
    trip.author = QStringLiteral("jdoe");
    const auto tripId = AddIncident(writer, trip, web, &error);
    ASSERT_TRUE(tripId) << error.toStdString();
    Comment note;
    note.incidentId = *tripId;
    note.author = QStringLiteral("asmith");
    note.text = QStringLiteral("Transformer oil sample taken; Buchholz relay did not operate.");
    ASSERT_TRUE(AddComment(writer, note, web, &error)) << error.toStdString();
    const auto rows = JournalRows(writer, {}, &error);
    ASSERT_TRUE(rows) << error.toStdString();
    note.incidentId.reset();
    note.eventId = rows->at(2).id; // the 87T trip
    note.author = QStringLiteral("jdoe");
    note.text = QStringLiteral("First event of the trip.");
    ASSERT_TRUE(AddComment(writer, note, web, &error)) << error.toStdString();

    auto store = std::make_unique<JournalStore>();
    ASSERT_TRUE(store->open(location, &error)) << error.toStdString();
    JournalWindow window(std::move(store));
    window.resize(1280, 900);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.chooseIncident(*tripId));
    ASSERT_EQ(window.model().rowCount(), 16);
    window.findChild<QSplitter*>(QStringLiteral("splJournal"))->setSizes({430, 330});
    for (const int row : {2, 3, 5, 6, 7, 8})
        window.table()->selectionModel()->select(
            window.model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    TimingChart* chart = window.chart();
    ASSERT_EQ(chart->traces().size(), 6);
    const auto pointAt = [chart](const char* time) {
        const double x = chart->plotLeft() + chart->axis().toX(*JournalTimeMs(QString::fromLatin1(time)));
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 60), chart->mapToGlobal(QPointF(x, 60)), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
    };
    pointAt("2026-12-07T14:03:21.300");
    ASSERT_TRUE(chart->cursorTime());
    EXPECT_TRUE(test::SaveScreenshot(&window, QStringLiteral("journal-window.png")));
    chart->parentWidget()->resize(1100, chart->parentWidget()->sizeHint().height());
    pointAt("2026-12-07T14:03:21.300");
    EXPECT_TRUE(test::SaveScreenshot(chart->parentWidget(), QStringLiteral("journal-timing-chart.png")));
}

} // namespace
} // namespace chronel
