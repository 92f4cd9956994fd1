// The main window under the offscreen platform, driven like a user would:
// clicks, typing and the scroll bar, against the core model behind it. The
// window is created without a control factory, so nothing is ever sent,
// but for the error lines of the Retrieve tab, whose requests go to a closed
// port on 127.0.0.1. And the program: `chronel --help` without a display,
// a command line it refuses, and the bash completion it writes.
#include "support/modal_script.h"
#include "support/qt_printers.h"
#include "ui/chronel_main.h"
#include "ui/live_views.h"
#include "ui/transfer_actions.h"

#include "core/link/plctag_factory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace chronel;

namespace {

template <typename T> T* ArrayItem(QWidget& window, const char* name, int index)
{
    for (T* w : window.findChildren<T*>(QString::fromLatin1(name))) {
        if (w->property("index").toInt() == index)
            return w;
    }
    return nullptr;
}

template <typename T> T* Child(QWidget& window, const char* name)
{
    return window.findChild<T*>(QString::fromLatin1(name));
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.startUp();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void typeInto(QLineEdit* edit, const QString& text)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // Clicks where a user would: on the indicator of a check box or option
    // button (a layout may make the widget wider than its hit area), in the
    // middle of anything else.
    void click(QAbstractButton* button)
    {
        QPoint where = button->rect().center();
        QStyleOptionButton option;
        option.initFrom(button);
        if (qobject_cast<QCheckBox*>(button))
            where = button->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, button).center();
        else if (qobject_cast<QRadioButton*>(button))
            where = button->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button).center();
        QTest::mouseClick(button, Qt::LeftButton, {}, where);
    }

    ChronelMain window;
};

TEST_F(MainWindowTest, StartUpState)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Chronel Version 1.60[*]")); // the mark shows when modified
    EXPECT_FALSE(window.isWindowModified());
    QTabWidget* tabs = Child<QTabWidget>(window, "SSTab1");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 6);
    const char* captions[] = {"Configuration", "SER Setup", "Time Setup", "Flash", "Retrieve SER Data", "GPS Data"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(tabs->tabText(i), QString::fromLatin1(captions[i]));

    EXPECT_TRUE(Child<QAbstractButton>(window, "btnConfigEventBufferType2")->isChecked());
    EXPECT_TRUE(Child<QAbstractButton>(window, "btnConfigTcpipManual")->isChecked());
    for (const char* port : {"232", "485"}) {
        EXPECT_EQ(
            Child<QComboBox>(window, qPrintable(QStringLiteral("cmbConfigModbus%1Baud").arg(port)))->currentText(),
            QStringLiteral("9600"));
        EXPECT_EQ(
            Child<QComboBox>(window, qPrintable(QStringLiteral("cmbConfigModbus%1Parity").arg(port)))->currentText(),
            QStringLiteral("Even"));
        EXPECT_EQ(Child<QLineEdit>(window, qPrintable(QStringLiteral("txtConfigModbus%1Delay").arg(port)))->text(),
            QStringLiteral("0"));
        EXPECT_EQ(
            Child<QComboBox>(window, qPrintable(QStringLiteral("cmbConfigModbus%1Protocol").arg(port)))->currentIndex(),
            -1);
    }
    QComboBox* dst = Child<QComboBox>(window, "cmbTsDstLocation");
    EXPECT_EQ(dst->count(), 6);
    EXPECT_EQ(dst->currentIndex(), -1);
    EXPECT_EQ(dst->itemText(3), QStringLiteral("European Union"));
    EXPECT_EQ(Child<QComboBox>(window, "cmbConfigModbus232Baud")->count(), 7);
    EXPECT_EQ(Child<QComboBox>(window, "cmbConfigModbus485Baud")->count(), 10);
    EXPECT_FALSE(window.menuAction(QStringLiteral("mnuToolsMonitorEvents"))->isChecked());
    EXPECT_TRUE(Child<QProgressBar>(window, "prbTransferProgress")->isHidden());
    EXPECT_TRUE(Child<QLabel>(window, "lblTransfer")->isHidden());
    const char* ip[] = {"192", "168", "16", "140"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Child<QLineEdit>(window, qPrintable(QStringLiteral("txtConfigTcpipIp%1").arg(i + 1)))->text(),
            QString::fromLatin1(ip[i]));
    EXPECT_TRUE(Child<QLineEdit>(window, "txtConfigTcpipMac")->isReadOnly());
    EXPECT_TRUE(Child<QLineEdit>(window, "txtConfigVersion")->isReadOnly());
    EXPECT_TRUE(Child<QLineEdit>(window, "txtConfigModbusAddress")->isReadOnly());
}

TEST_F(MainWindowTest, EveryCaptionIsShown)
{
    QStringList shown;
    for (QLabel* l : window.findChildren<QLabel*>())
        shown << l->text();
    for (QAbstractButton* b : window.findChildren<QAbstractButton*>())
        shown << b->text();
    for (QGroupBox* g : window.findChildren<QGroupBox*>())
        shown << g->title();
    for (QAction* a : window.findChildren<QAction*>())
        shown << a->text();
    for (QMenu* m : window.menuBar()->findChildren<QMenu*>())
        shown << m->title();
    const char* captions[] = {"Lock Configuration", "Module ID", "Modbus Address", "Firmware Version", "Module Name",
        "Event Delay", "mS", "Time Sync Master", "Enable Hourly Time Update", "Event Buffer", "Type 0", "Type 1",
        "Type 2", "Type 3", "TCP/IP", "IP", "Subnet", "Gateway", "MAC", "Manual IP Address", "Boot P", "DHCP",
        "Ethernet Speed", "100 Mbps", "10 Mbps", "Auto-Negotiate", "Ethernet Comm", "Half Duplex", "Full Duplex",
        "Modbus Serial", "RS232", "RS485", "Baud", "Parity", "Delay", "Protocol", "Point Configuration", "Point",
        "Enable", "Filter", "Debounce", "Chatter", "Description", "Off", "On", "Enable IEEE 1344", "Time Offset", "GPS",
        "IRIG-B", "Hrs", "Daylight Saving Time", "Month", "Day", "Hour", "Start", "End", "Time Quality", "Good", "Fair",
        "Poor", "Bad", "Time Source", "SER", "Internal", "Time Set", "Set PC Time", "Set SER Time", "SER Time",
        "Computer Time", "Load File", "Program Flash", "Verify Flash", "1", "32", "Events in Buffer", "GPS Status",
        "Number of Satelites", "Latitude", "ddmm.mmm", "Longitude", "dddmm.mmm", "Altitude", "meters", "Speed", "knots",
        "Course", "degrees", "&File", "Open", "&Save", "&Exit", "&Transfer", "&Upload from Chronel",
        "&Download to Chronel", "T&ools", "&Log Events", "&Monitor Event Data", "&Test Mode",
        "&Restore Default Settings", "&Statistics", "&NTP Statistics", "&HTTP Statistics", "&Run Time Statistics",
        "&About"};
    for (const char* caption : captions)
        EXPECT_TRUE(shown.contains(QString::fromUtf8(caption))) << caption;
}

TEST_F(MainWindowTest, DuplexOptionsFollowTheSpeedHoweverChosen)
{
    QAbstractButton* half = Child<QAbstractButton>(window, "optConfigTcpipEtherentCommHalf");
    QAbstractButton* full = Child<QAbstractButton>(window, "optConfigTcpipEthernetCommFull");
    ASSERT_TRUE(half && full);

    click(Child<QAbstractButton>(window, "btnConfigTcpipSpeedAuto"));
    EXPECT_FALSE(half->isEnabled());
    EXPECT_FALSE(full->isEnabled());
    click(Child<QAbstractButton>(window, "btnConfigTcpipSpeed10"));
    EXPECT_TRUE(half->isEnabled());
    EXPECT_TRUE(full->isEnabled());
    EXPECT_EQ(window.model().settings().ConfigTcpipSpeed, TcpipSpeed::Mbps10);

    ConfigBlock block{};
    block[46] = 0; // an upload choosing Auto-Negotiate
    window.model().applyConfigBlock(block);
    EXPECT_TRUE(Child<QAbstractButton>(window, "btnConfigTcpipSpeedAuto")->isChecked());
    EXPECT_FALSE(half->isEnabled());
    block[46] = 2;
    window.model().applyConfigBlock(block);
    EXPECT_TRUE(Child<QAbstractButton>(window, "btnConfigTcpipSpeed100")->isChecked());
    EXPECT_TRUE(full->isEnabled());

    window.menuAction(QStringLiteral("mnuToolsRestoreDefault"))->trigger();
    EXPECT_FALSE(half->isEnabled());
    EXPECT_FALSE(full->isEnabled());
}

TEST_F(MainWindowTest, UploadLeavingNoOptionChosenClearsTheGroup)
{
    ConfigBlock block{};
    block[3] = 7;
    window.model().applyConfigBlock(block);
    for (int t = 0; t < 4; ++t)
        EXPECT_FALSE(Child<QAbstractButton>(window, qPrintable(QStringLiteral("btnConfigEventBufferType%1").arg(t)))
                         ->isChecked());
}

TEST_F(MainWindowTest, ScrollingToTwentyFourShowsPoints25To32)
{
    Child<QScrollBar>(window, "scrSsPcScroll")->setValue(24);
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(ArrayItem<QLabel>(window, "lblSsPcPointNum", r)->text(), QStringLiteral(" %1").arg(25 + r));
    EXPECT_EQ(ArrayItem<QLineEdit>(window, "txtSsPcDescription", 7)->text(), QStringLiteral("Point  32"));
}

TEST_F(MainWindowTest, TypedFilterAbove65535ComesBackAs65535WithAMark)
{
    QScrollBar* scroll = Child<QScrollBar>(window, "scrSsPcScroll");
    QLineEdit* filter = ArrayItem<QLineEdit>(window, "txtSsPcFilter", 2);
    typeInto(filter, QStringLiteral("70000"));
    typeInto(ArrayItem<QLineEdit>(window, "txtSsPcFilter", 3), QStringLiteral("40000"));
    scroll->setValue(8);
    EXPECT_EQ(filter->text(), QStringLiteral(" 20")); // point 11 now
    EXPECT_TRUE(filter->toolTip().isEmpty());
    scroll->setValue(0);
    EXPECT_EQ(filter->text(), QStringLiteral(" 65535"));
    EXPECT_TRUE(filter->toolTip().contains(QStringLiteral("70000")));
    EXPECT_EQ(ArrayItem<QLineEdit>(window, "txtSsPcFilter", 3)->text(), QStringLiteral(" 40000"));
    EXPECT_EQ(window.model().points()[2].SsPcFilter, 65535);
    EXPECT_EQ(window.model().points()[3].SsPcFilter, 40000);

    QTest::keyClick(filter, Qt::Key_Backspace); // editing the field clears the mark
    EXPECT_TRUE(filter->toolTip().isEmpty());
}

TEST_F(MainWindowTest, UncheckingRowZeroAtTopEightDisablesPointNine)
{
    QScrollBar* scroll = Child<QScrollBar>(window, "scrSsPcScroll");
    scroll->setValue(8);
    QCheckBox* enable = ArrayItem<QCheckBox>(window, "chkSsPcEnable", 0);
    ASSERT_TRUE(enable->isChecked());
    click(enable);
    EXPECT_FALSE(enable->isChecked());
    scroll->setValue(16);
    EXPECT_TRUE(window.model().points()[8].SsPcDisabled);
    EXPECT_FALSE(window.model().points()[7].SsPcDisabled);
    EXPECT_TRUE(enable->isChecked()); // row 0 now shows point 17
}

TEST_F(MainWindowTest, PointStatusIndicatorsPaintGreenOrButtonFace)
{
    window.model().paintPointStatus(0x0001, 0x8000);
    const QColor green(0, 255, 0);
    for (int i = 0; i < 32; ++i) {
        QLabel* dot = ArrayItem<QLabel>(window, "lblSerDataPointStatus", i);
        const QColor colour = dot->palette().color(QPalette::Window);
        if (i == 0 || i == 31)
            EXPECT_EQ(colour, green) << i;
        else
            EXPECT_EQ(colour, dot->palette().color(QPalette::Button)) << i;
    }
    window.model().paintPointStatus(0, 0);
    EXPECT_NE(ArrayItem<QLabel>(window, "lblSerDataPointStatus", 0)->palette().color(QPalette::Window), green);
}

TEST_F(MainWindowTest, EditsReachTheModel)
{
    typeInto(Child<QLineEdit>(window, "txtConfigModuleName"), QStringLiteral("Bay 4"));
    EXPECT_EQ(window.model().settings().ConfigModuleName, QStringLiteral("Bay 4"));
    typeInto(Child<QLineEdit>(window, "txtConfigTcpipIp4"), QStringLiteral("1"));
    typeInto(Child<QLineEdit>(window, "txtConfigTcpipIp1"), QStringLiteral("127"));
    typeInto(Child<QLineEdit>(window, "txtConfigTcpipIp2"), QStringLiteral("0"));
    typeInto(Child<QLineEdit>(window, "txtConfigTcpipIp3"), QStringLiteral("0"));
    EXPECT_EQ(window.model().GetIp(), QStringLiteral("127.0.0.1"));
    click(Child<QCheckBox>(window, "chkConfigLock"));
    EXPECT_EQ(window.model().settings().ConfigLock, Check::Checked);
    click(Child<QAbstractButton>(window, "btnConfigTcpipDhcp"));
    EXPECT_EQ(window.model().settings().ConfigTcpipMode, TcpipMode::Dhcp);
    click(Child<QAbstractButton>(window, "optConfigTcpipEtherentCommHalf"));
    EXPECT_EQ(window.model().settings().ConfigTcpipEthernetComm, EthernetComm::Half);

    QComboBox* protocol = Child<QComboBox>(window, "cmbConfigModbus485Protocol");
    protocol->setFocus();
    QTest::keyClick(protocol, Qt::Key_Down);
    EXPECT_EQ(window.model().settings().ConfigModbus485Protocol, protocol->currentIndex());
    EXPECT_GE(protocol->currentIndex(), 0);

    typeInto(ArrayItem<QLineEdit>(window, "txtSsPcOn", 5), QStringLiteral("Tripped"));
    EXPECT_EQ(window.model().page().row(5).SsPcOn, QStringLiteral("Tripped"));
}

TEST_F(MainWindowTest, ClampedFieldIsRewrittenAndMarked)
{
    QLineEdit* gps = Child<QLineEdit>(window, "txtTsToGpsOffset");
    typeInto(gps, QStringLiteral("99999"));
    std::array<qint16, ConfigBlockWriteWords> words{};
    window.model().fillConfigBlock(words);
    EXPECT_EQ(gps->text(), QStringLiteral(" 32767"));
    EXPECT_TRUE(gps->toolTip().contains(QStringLiteral("99999")));
    QTest::keyClicks(gps, QStringLiteral("0"));
    EXPECT_TRUE(gps->toolTip().isEmpty());
}

TEST_F(MainWindowTest, TransferDisplayShowsAndHides)
{
    QProgressBar* bar = Child<QProgressBar>(window, "prbTransferProgress");
    QLabel* label = Child<QLabel>(window, "lblTransfer");
    window.model().beginTransfer(QStringLiteral("Downloading"));
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 1389);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(label->text(), QStringLiteral("Downloading"));
    window.model().setTransferProgress(429);
    EXPECT_EQ(bar->value(), 429);
    window.model().endTransfer();
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(label->isHidden());
}

TEST_F(MainWindowTest, MenuEntries)
{
    window.statusBar()->clearMessage();
    window.menuAction(QStringLiteral("mnuTcpipHttp"))->trigger();
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());

    window.menuAction(QStringLiteral("mnuTransferUpload"))->trigger();
    EXPECT_TRUE(window.statusBar()->currentMessage().contains(QStringLiteral("Upload from Chronel")));
    EXPECT_TRUE(window.statusBar()->currentMessage().contains(QStringLiteral("not available")));

    int calls = 0;
    window.setMenuHandler(QStringLiteral("mnuTransferUpload"), [&calls] { ++calls; });
    window.menuAction(QStringLiteral("mnuTransferUpload"))->trigger();
    EXPECT_EQ(calls, 1);

    window.menuAction(QStringLiteral("mnuToolsMonitorEvents"))->trigger();
    EXPECT_TRUE(window.model().monitorEventData());
    window.menuAction(QStringLiteral("mnuToolsMonitorEvents"))->trigger();
    EXPECT_FALSE(window.model().monitorEventData());

    for (const char* sep : {"mnuFileSep1", "mnuToolsSep1", "mnuToolsSep2", "mnuToolsSep3"})
        EXPECT_TRUE(window.menuAction(QString::fromLatin1(sep))->isSeparator()) << sep;
}

TEST_F(MainWindowTest, AboutBoxShowsTheRevision)
{
    chronel::test::ModalScript script;
    script.answer(QMessageBox::Ok);
    window.menuAction(QStringLiteral("mnuAbout"))->trigger();
    EXPECT_NE(window.findChild<QMessageBox*>(QStringLiteral("aboutBox")), nullptr);
    ASSERT_TRUE(script.wait());
    EXPECT_EQ(script.messages(), QStringList{QStringLiteral("Revision 1.60")});
    EXPECT_EQ(script.titles(), QStringList{QStringLiteral("Chronel")});
}

TEST_F(MainWindowTest, RestoreDefaultsFromTheMenuRefreshesTheScreen)
{
    typeInto(ArrayItem<QLineEdit>(window, "txtSsPcFilter", 0), QStringLiteral("77"));
    typeInto(Child<QLineEdit>(window, "txtConfigEventDelay"), QStringLiteral("20"));
    window.menuAction(QStringLiteral("mnuToolsRestoreDefault"))->trigger();
    EXPECT_EQ(ArrayItem<QLineEdit>(window, "txtSsPcFilter", 0)->text(), QStringLiteral(" 20"));
    EXPECT_EQ(Child<QLineEdit>(window, "txtConfigEventDelay")->text(), QStringLiteral("500"));
    EXPECT_EQ(Child<QLineEdit>(window, "txtTsToGpsOffset")->text(), QStringLiteral("-5"));
    EXPECT_EQ(Child<QComboBox>(window, "cmbTsDstLocation")->currentText(), QStringLiteral("Disabled"));
}

// A large window shows every point row with the scroll bar out of the way,
// fields keep the widths of what they hold, and nothing changes the window's
// size behind the user's back.
TEST_F(MainWindowTest, TheWindowUsesTheRoomItIsGiven)
{
    const QSize before = window.size();
    window.model().beginTransfer(QStringLiteral("Uploading"));
    QTest::qWait(50);
    EXPECT_EQ(window.size(), before);
    window.model().endTransfer();

    window.tabs()->setCurrentIndex(1);
    window.resize(1600, 1050);
    QTest::qWait(50);
    int shown = 0;
    for (int r = 0; r < 32; ++r) {
        QLineEdit* description = ArrayItem<QLineEdit>(window, "txtSsPcDescription", r);
        ASSERT_NE(description, nullptr) << r;
        if (description->isVisible()) {
            ++shown;
            EXPECT_EQ(description->text(), QStringLiteral("Point  %1").arg(r + 1));
            EXPECT_GT(description->y(), r == 0 ? 0 : ArrayItem<QLineEdit>(window, "txtSsPcDescription", r - 1)->y());
        }
    }
    EXPECT_EQ(shown, 32);
    EXPECT_FALSE(Child<QScrollBar>(window, "scrSsPcScroll")->isVisible());

    window.resize(800, 560);
    QTest::qWait(50);
    EXPECT_TRUE(Child<QScrollBar>(window, "scrSsPcScroll")->isVisible());
    EXPECT_TRUE(ArrayItem<QLineEdit>(window, "txtSsPcDescription", 7)->isVisible());
    EXPECT_FALSE(ArrayItem<QLineEdit>(window, "txtSsPcDescription", 31)->isVisible());

    window.resize(1600, 1000);
    window.tabs()->setCurrentIndex(2);
    QTest::qWait(50);
    for (QLineEdit* e : window.findChildren<QLineEdit*>()) {
        if (e->isVisible()) {
            EXPECT_LT(e->width(), 400) << e->objectName().toStdString();
        }
    }
}

TEST_F(MainWindowTest, TheAboutBoxHasRoomForItsTitle)
{
    int width = 0;
    int needed = 0;
    chronel::test::ModalScript script;
    script.on<QMessageBox>([&](QMessageBox& box) {
        width = box.width();
        // Room for the title and a title bar's buttons, so it is not cut.
        needed = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 150;
        box.accept();
    });
    window.menuAction(QStringLiteral("mnuAbout"))->trigger();
    ASSERT_TRUE(script.wait());
    EXPECT_GE(width, needed);
}

// Maximised, the Configuration tab's frames take the room, not a corner.
TEST_F(MainWindowTest, TheConfigurationTabUsesTheRoomOfALargeWindow)
{
    window.tabs()->setCurrentIndex(0);
    window.resize(1920, 1080);
    QTest::qWait(50);
    QWidget* page = window.tabs()->widget(0);
    QRect covered;
    for (const char* name : {"fraConfigTcpip", "fraConfigModbus"}) {
        auto* frame = Child<QWidget>(window, name);
        covered |= QRect(frame->mapTo(page, QPoint(0, 0)), frame->size());
    }
    EXPECT_GE(covered.width(), page->width() * 9 / 10);
    EXPECT_GE(covered.height(), page->height() * 8 / 10);
    // The room within goes to the gaps between rows, not to the fields.
    EXPECT_GT(
        Child<QLineEdit>(window, "txtConfigTcpipSubnet1")->y() - Child<QLineEdit>(window, "txtConfigTcpipIp1")->y(),
        2 * Child<QLineEdit>(window, "txtConfigTcpipIp1")->height());
    EXPECT_LT(Child<QLineEdit>(window, "txtConfigModuleName")->width(), 400);
}

void SetAddress(ChronelModel& model, const char* a, const char* b, const char* c, const char* d)
{
    model.settings().ConfigTcpipIp = {
        QString::fromLatin1(a), QString::fromLatin1(b), QString::fromLatin1(c), QString::fromLatin1(d)};
    model.notifySettingsEdited();
}

// File > Open keeps the address the window talks to and offers the file's
// in a question; the download question says what is sent and to whom (the
// module's name it gives after an upload: tests/transfer).
TEST_F(MainWindowTest, OpeningAFileKeepsTheAddressAndOffersTheFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("x2.csv"));
    TransferActions actions(window);
    std::vector<UserMessage> messages;
    QStringList questions;
    bool yes = false;
    actions.setMessageSink([&messages](const UserMessage& m) { messages.push_back(m); });
    actions.setQuestionAsker([&](const UserMessage& q) {
        questions << q.text;
        return yes;
    });
    actions.setFileChooser([&path](bool) { return path; });

    // A file saved from the module at 10.0.0.5.
    SetAddress(window.model(), "10", "0", "0", "5");
    ASSERT_TRUE(actions.saveSettings(path));
    // The window talks to 127.0.0.1 (as chronel --ip 127.0.0.1 starts).
    SetAddress(window.model(), "127", "0", "0", "1");
    window.menuAction(QStringLiteral("mnuFileOpen"))->trigger();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0],
        QStringLiteral("x2.csv holds the settings of the module at 10.0.0.5; the window talks to the module at "
                       "127.0.0.1.\n\nTalk to 10.0.0.5 instead? No keeps 127.0.0.1, also as the module's address in "
                       "a download."));
    EXPECT_EQ(window.model().GetIp(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Child<QLineEdit>(window, "txtConfigTcpipIp1")->text(), QStringLiteral("127"));
    EXPECT_TRUE(window.isWindowModified());
    EXPECT_EQ(window.statusBar()->currentMessage(),
        QStringLiteral("Kept the module address 127.0.0.1 (x2.csv holds 10.0.0.5)"));

    window.menuAction(QStringLiteral("mnuTransferDownload"))->trigger();
    ASSERT_EQ(questions.size(), 2);
    EXPECT_TRUE(questions[1].startsWith(QStringLiteral(
        "Download the window's settings (changed since x2.csv was opened or saved) to the module at 127.0.0.1?")))
        << questions[1].toStdString();

    yes = true;
    ASSERT_TRUE(actions.openSettings(path));
    EXPECT_EQ(window.model().GetIp(), QStringLiteral("10.0.0.5"));
    EXPECT_FALSE(window.isWindowModified());
    window.menuAction(QStringLiteral("mnuTransferDownload"))->trigger();
    ASSERT_EQ(questions.size(), 4);
    EXPECT_TRUE(questions[3].startsWith(QStringLiteral("Download x2.csv to the module at 10.0.0.5?")))
        << questions[3].toStdString();
    EXPECT_TRUE(messages.empty());
}

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (s >= 0)
        ::close(s);
    return port;
}

// A communication error line on the Retrieve tab names the address that
// failed and is marked as the PC's time beside the module's event times.
TEST(MainWindowLive, ErrorLinesNameTheAddressAndThePcClock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Adapter.Object.1]\r\nType=2\r\nEnabled=0\r\n");
    file.close();
    const int port = ClosedPort();
    ASSERT_GT(port, 0);
    qputenv("PLCDRV_INI", QFile::encodeName(ini));
    qputenv("PLCTAG_TCP_PORT", QByteArray::number(port));

    ChronelMain window(PlctagControlFactory());
    SetAddress(window.model(), "127", "0", "0", "1");
    AttachLiveData(window, PlctagControlFactory());
    window.startUp();
    QLabel* newest = ArrayItem<QLabel>(window, "lblEventData", 15);
    ASSERT_NE(newest, nullptr);
    const bool shown = QTest::qWaitFor([&] { return !newest->text().isEmpty(); }, 10000);
    for (int i = 0; i < ChannelCount; ++i)
        window.model().channels()[ChannelId(i)].AutoPoll(0);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(newest->text().contains(QStringLiteral("  [PC clock]  127.0.0.1  Communications error")))
        << newest->text().toStdString();
}

// Over SSH there is no display: the help needs none.
TEST(ChronelProgram, HelpNeedsNoDisplay)
{
    QProcess chronel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")); // the desktop's platform, and no display
    chronel.setProcessEnvironment(env);
    chronel.start(QStringLiteral(CHRONEL_PATH), {QStringLiteral("--help")});
    ASSERT_TRUE(chronel.waitForFinished(10000));
    EXPECT_EQ(chronel.exitStatus(), QProcess::NormalExit) << chronel.readAllStandardError().toStdString();
    EXPECT_EQ(chronel.exitCode(), 0);
    EXPECT_TRUE(chronel.readAllStandardOutput().contains("--settings <FILE>"));
}

// A command line the window cannot use ends the program before any window
// opens (and before a request goes out), with exit status 2 and the reason.
TEST(ChronelProgram, RefusesAnUnusableCommandLine)
{
    const std::pair<QStringList, QByteArray> lines[] = {
        {{QStringLiteral("--timeout"), QStringLiteral("5")}, "chronel: --timeout needs milliseconds from 100 to 32627"},
        {{QStringLiteral("--screenshot"), QStringLiteral("shots")}, "chronel: unknown option --screenshot"},
        {{QStringLiteral("--ip")}, "chronel: --ip needs an address"},
    };
    for (const auto& [args, message] : lines) {
        QProcess chronel;
        chronel.start(QStringLiteral(CHRONEL_PATH), args);
        ASSERT_TRUE(chronel.waitForFinished(10000));
        EXPECT_EQ(chronel.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(chronel.readAllStandardError().contains(message)) << message.toStdString();
    }
}

// What bash offers after `words` (the last under the cursor) with the
// completion chronel writes, sourced as the package installs it.
QStringList Completed(const QString& script, const QStringList& words)
{
    QString array;
    for (const QString& w : words)
        array += QStringLiteral(" '") + w + QLatin1Char('\'');
    QProcess bash;
    bash.start(QStringLiteral("/bin/bash"),
        {QStringLiteral("-c"),
            QStringLiteral("source \"$1\" && COMP_WORDS=(%1) && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _chronel && "
                           "printf '%s\\n' \"${COMPREPLY[@]}\"")
                .arg(array),
            QStringLiteral("bash"), script});
    if (!bash.waitForFinished(10000) || bash.exitCode() != 0)
        return {QStringLiteral("bash failed: ") + QString::fromLocal8Bit(bash.readAllStandardError())};
    QStringList offered = QString::fromLocal8Bit(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

TEST(ChronelProgram, ItsBashCompletionKnowsItsOptionsAndTheirValues)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("shots")));
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("site.csv"))).open(QIODevice::WriteOnly));
    QProcess chronel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY")); // written without a window system, as in the package's build
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    chronel.setProcessEnvironment(env);
    chronel.start(QStringLiteral(CHRONEL_PATH), {QStringLiteral("--bash-completion")});
    ASSERT_TRUE(chronel.waitForFinished(10000));
    ASSERT_EQ(chronel.exitCode(), 0) << chronel.readAllStandardError().toStdString();
    const QString script = dir.filePath(QStringLiteral("chronel.bash"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(chronel.readAllStandardOutput());
    file.close();

    const QString folder = dir.path() + QLatin1Char('/');
    EXPECT_EQ(Completed(script, {QStringLiteral("chronel"), QStringLiteral("--s")}),
        QStringList({QStringLiteral("--screenshots"), QStringLiteral("--settings")}));
    EXPECT_EQ(Completed(script, {QStringLiteral("chronel"), QStringLiteral("--screenshots"), folder}),
        QStringList({folder + QStringLiteral("shots")}));
    EXPECT_EQ(Completed(script, {QStringLiteral("chronel"), QStringLiteral("--settings"), folder + QLatin1Char('s')}),
        QStringList({folder + QStringLiteral("shots"), folder + QStringLiteral("site.csv")}));
}

} // namespace
