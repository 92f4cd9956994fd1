// The main window's live parts and the statistics and test-mode windows
// against chronel-sim, under the offscreen platform, driven through the
// window's own menu entries and buttons.
#include "live_fixture.h"
#include "support/qt_printers.h"
#include "support/sim_process.h"
#include "ui/chronel_main.h"
#include "ui/live_views.h"
#include "ui/ntp_statistics_window.h"
#include "ui/run_time_statistics_window.h"
#include "ui/test_mode_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace chronel;
using namespace chronel::test;

namespace {

QLabel* Label(QWidget* w, const char* name) { return w->findChild<QLabel*>(QString::fromLatin1(name)); }

QColor Colour(QLabel* label) { return label->palette().color(QPalette::Window); }

template <typename W> W* Indexed(QWidget* parent, const char* name, int index)
{
    for (W* w : parent->findChildren<W*>(QString::fromLatin1(name))) {
        if (w->property("index").toInt() == index)
            return w;
    }
    return nullptr;
}

class LiveWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(sim.startTcp({"--time-source", "gps"}), 0);
        UseTcpAdapter(dir, sim.port());
        window = std::make_unique<ChronelMain>(PlctagControlFactory());
        SetModuleAddress(window->model(), "127", "0", "0", "1");
        views = new LiveViews(*window, PlctagControlFactory(), FixedNow, QLocale::c());
        views->showCritical = [this](const QString& title, const QString& text) { messages << title + u'|' + text; };
        window->startUp();
        window->model().channels().modEventScan().AutoPoll(15);
    }
    void TearDown() override
    {
        if (window)
            window->model().channels().modEventScan().AutoPoll(0);
        window.reset();
        sim.stop();
    }

    void trigger(const char* action) { window->menuAction(QString::fromLatin1(action))->trigger(); }

    QTemporaryDir dir;
    SimProcess sim;
    std::unique_ptr<ChronelMain> window;
    LiveViews* views = nullptr;
    QStringList messages;
};

TEST_F(LiveWindow, SerDataTimeSetupAndGpsTabsShowTheModule)
{
    QLabel* newest = Indexed<QLabel>(window.get(), "lblEventData", 15);
    ASSERT_NE(newest, nullptr);
    // The module's only event: its lock on the GPS time at start-up.
    ASSERT_TRUE(WaitFor([&] { return !newest->text().isEmpty(); }));
    const QRegularExpression lock(
        QStringLiteral(R"(^\d{4}-\d\d-\d\d  \d\d:\d\d:\d\d\.\d{3}  S  G   GPS Time Sync Lock$)"));
    EXPECT_TRUE(lock.match(newest->text()).hasMatch()) << newest->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return !Label(window.get(), "lblTsTsSerTime")->text().isEmpty(); }));
    EXPECT_EQ(Colour(Label(window.get(), "lblTsTsGpsIndication")), QColor(0, 255, 0));
    EXPECT_NE(Colour(Label(window.get(), "lblTsTsInternalIndication")), QColor(0, 255, 0));
    int goodOrOther = 0;
    for (const char* q :
        {"lblTsTqGoodIndication", "lblTsTqFairIndication", "lblTsTqPoorIndication", "lblTsTqBadIndication"})
        goodOrOther += Colour(Label(window.get(), q)) == QColor(0, 255, 0);
    EXPECT_EQ(goodOrOther, 1);
    EXPECT_FALSE(Label(window.get(), "lblGdGpsStatusData")->text().isEmpty());
    EXPECT_TRUE(Label(window.get(), "lblGdLatitudeData")->text().endsWith(u" N") ||
        Label(window.get(), "lblGdLatitudeData")->text().endsWith(u" S"));
    EXPECT_FALSE(Label(window.get(), "lblSerDataEventCount")->text().isEmpty());
    EXPECT_EQ(Label(window.get(), "lblTsTsPcTime")->text(), QStringLiteral("7:08:09"));
    EXPECT_EQ(Label(window.get(), "lblTsTsPcData")->text(), QStringLiteral("2031-05-06"));
    EXPECT_FALSE(window->findChild<QPushButton*>(QStringLiteral("cmdTsTsSetPcTime"))->toolTip().isEmpty());
}

TEST_F(LiveWindow, MonitorEntryCaptionsTheSerDataTab)
{
    EXPECT_EQ(window->tabs()->tabText(4), QStringLiteral("Retrieve SER Data"));
    trigger("mnuToolsMonitorEvents");
    EXPECT_TRUE(window->model().monitorEventData());
    EXPECT_EQ(window->tabs()->tabText(4), QStringLiteral("Monitor SER Data"));
    trigger("mnuToolsMonitorEvents");
    EXPECT_EQ(window->tabs()->tabText(4), QStringLiteral("Retrieve SER Data"));
}

TEST_F(LiveWindow, LogEventsEntryOpensAppendsAndCloses)
{
    const QString path = dir.filePath(QStringLiteral("ser.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier\r\n");
    }
    views->chooseLogFile = [&] { return path; };
    QAction* entry = window->menuAction(QStringLiteral("mnuToolsLogEvents"));
    trigger("mnuToolsLogEvents");
    EXPECT_TRUE(entry->isChecked());
    // Switching test mode makes the module record an event.
    trigger("mnuToolsTestMode");
    views->testModeWindow()->findChild<QPushButton*>(QStringLiteral("cmdTestModeModeTest"))->click();
    const auto logged = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("  Test Mode On\r\n");
    };
    ASSERT_TRUE(WaitFor(logged));
    trigger("mnuToolsLogEvents");
    EXPECT_FALSE(entry->isChecked());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("earlier\r\n"));

    // A cancelled dialog says nothing; a file that cannot be opened says so.
    views->chooseLogFile = [] { return QString(); };
    trigger("mnuToolsLogEvents");
    EXPECT_FALSE(entry->isChecked());
    EXPECT_TRUE(messages.isEmpty());
    views->chooseLogFile = [&] { return dir.filePath(QStringLiteral("no/such/dir/x.txt")); };
    trigger("mnuToolsLogEvents");
    EXPECT_FALSE(entry->isChecked());
    EXPECT_EQ(messages, QStringList{QStringLiteral("Log Events|Log Events File Open Error")});
}

TEST_F(LiveWindow, AFullDiskWhileLoggingUnchecksTheEntryAndSaysSoOnce)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full on this machine to stand for a full disk";
    views->chooseLogFile = [] { return QStringLiteral("/dev/full"); };
    QAction* entry = window->menuAction(QStringLiteral("mnuToolsLogEvents"));
    trigger("mnuToolsLogEvents");
    ASSERT_TRUE(entry->isChecked());
    trigger("mnuToolsTestMode");
    auto* test = views->testModeWindow()->findChild<QPushButton*>(QStringLiteral("cmdTestModeModeTest"));
    ASSERT_TRUE(WaitFor([&] { return test->isEnabled(); }));
    test->click();
    ASSERT_TRUE(WaitFor([&] { return !entry->isChecked(); }));
    // Later lines (the module's further events) must not say it again.
    QTest::qWait(200);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Log Events|Log Events File Write Error")});
}

TEST_F(LiveWindow, TestModeWindowSwitchesTheModuleAndFollowsIt)
{
    window->move(400, 300);
    trigger("mnuToolsTestMode");
    TestModeWindow* tm = views->testModeWindow();
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->windowTitle(), QStringLiteral("Test Mode"));
    EXPECT_LE((tm->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(), 8);
    EXPECT_TRUE(views->live().statisticsWanted());
    auto* normal = tm->findChild<QPushButton*>(QStringLiteral("cmdTestModeModeNormal"));
    auto* test = tm->findChild<QPushButton*>(QStringLiteral("cmdTestModeModeTest"));
    ASSERT_TRUE(WaitFor([&] { return test->isEnabled() && !normal->isEnabled(); }));
    test->click();
    ASSERT_TRUE(WaitFor([&] { return normal->isEnabled() && !test->isEnabled(); }));

    Indexed<QCheckBox>(tm, "chkTestData", 0)->setChecked(true);
    Indexed<QCheckBox>(tm, "chkTestData", 31)->setChecked(true);
    tm->findChild<QPushButton*>(QStringLiteral("cmdestModeSend"))->click();
    ASSERT_TRUE(WaitFor([&] {
        const auto& p = window->model().pointStatus();
        return p[0] == IndicatorColour::Green && p[31] == IndicatorColour::Green &&
            p[15] == IndicatorColour::ButtonFace;
    }));
    normal->click();
    ASSERT_TRUE(WaitFor([&] { return test->isEnabled() && !normal->isEnabled(); }));

    // A second click on the entry brings back the same window.
    trigger("mnuToolsTestMode");
    EXPECT_EQ(views->testModeWindow(), tm);
    tm->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    ASSERT_TRUE(WaitFor([&] { return views->testModeWindow() == nullptr; }));
    EXPECT_FALSE(views->live().statisticsWanted());
}

TEST_F(LiveWindow, StatisticsWindowsAreFilledAndTheirFlagsFollowThem)
{
    window->move(400, 300);
    trigger("mnuRunTime");
    ASSERT_NE(views->runTimeWindow(), nullptr);
    EXPECT_TRUE(views->live().statisticsWanted());
    QWidget* rts = views->runTimeWindow();
    EXPECT_EQ(rts->windowTitle(), QStringLiteral("Run Time Statistics"));
    // Opened over the main window, not at the screen's corner.
    EXPECT_LE((rts->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(), 8);
    ASSERT_TRUE(WaitFor([&] { return Indexed<QLabel>(rts, "lblRtsTrTaskRatioData", 7)->text().endsWith(u'%'); }));
    EXPECT_EQ(Indexed<QLabel>(rts, "lblRtsTrTaskRatioTxt", 6)->text(), QStringLiteral("Modbus TC/IP"));
    EXPECT_FALSE(Label(rts, "lblRtsOpenSocketsCount")->text().isEmpty());
    EXPECT_FALSE(Label(rts, "lblRtsDroppedPacketsData")->text().isEmpty());

    trigger("mnuTcpipNtp");
    NtpStatisticsWindow* ntp = views->ntpWindow();
    ASSERT_NE(ntp, nullptr);
    EXPECT_EQ(ntp->windowTitle(), QStringLiteral("NTP Statistics"));
    EXPECT_LE((ntp->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(), 8);
    // Opened after a statistics read, it shows that read at once.
    EXPECT_TRUE(ntp->count(0)->text().startsWith(u' ')) << ntp->count(0)->text().toStdString();

    rts->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    ASSERT_TRUE(WaitFor([&] { return views->runTimeWindow() == nullptr; }));
    // The NTP window alone still wants the block.
    EXPECT_TRUE(views->live().statisticsWanted());
    ntp->close();
    ASSERT_TRUE(WaitFor([&] { return views->ntpWindow() == nullptr; }));
    EXPECT_FALSE(views->live().statisticsWanted());
}

TEST_F(LiveWindow, SetSerTimeButtonSetsTheModuleClock)
{
    window->model().channels().modTimeSetup().AutoPoll(15); // as after a download
    window->findChild<QPushButton*>(QStringLiteral("cmdTsTsSetSerTime"))->click();
    ASSERT_TRUE(WaitFor([&] { return Label(window.get(), "lblTsTsSerDate")->text() == QStringLiteral("2031-05-06"); }));
    window->model().channels().modTimeSetup().AutoPoll(0);
}

} // namespace
