// Transfer > Upload and Download, File > Open and Save in the window under
// the offscreen platform, against chronel-sim on loopback: what an engineer
// does — upload, edit a field, download, save, open — and the message boxes.
#include "transfer_rig.h"

#include "ui/chronel_main.h"
#include "ui/transfer_actions.h"

#include "core/model/register_map.h"
#include "support/modal_script.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace chronel;
using namespace chronel::test;

namespace {

// Every setting unlike the start-up ones, with a three-digit number in each
// address octet and texts at and beyond the fields' typing limits.
void Distinctive(ModuleSettings& s, PointTable& points)
{
    s.ConfigLock = Check::Checked;
    s.ConfigPlcId = QStringLiteral(" 4242");
    s.ConfigModuleName = QStringLiteral("North Yard 7");
    s.ConfigEventDelay = QStringLiteral(" 370");
    s.ConfigSyncMaster = Check::Checked;
    s.ConfigHourTimeUpdate = Check::Checked;
    s.ConfigEventBufferType = 1;
    s.ConfigTcpipMode = TcpipMode::Dhcp;
    s.ConfigTcpipIp = {QStringLiteral(" 127"), QStringLiteral(" 100"), QStringLiteral(" 200"), QStringLiteral(" 101")};
    s.ConfigTcpipSubnet = {QStringLiteral(" 255"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 0")};
    s.ConfigTcpipGateway = {
        QStringLiteral(" 127"), QStringLiteral(" 100"), QStringLiteral(" 200"), QStringLiteral(" 254")};
    s.chooseTcpipSpeed(TcpipSpeed::Mbps10);
    s.ConfigTcpipEthernetComm = EthernetComm::Full;
    s.ConfigModbus232Baud = 6;
    s.ConfigModbus232Parity = 2;
    s.ConfigModbus232Delay = QStringLiteral(" 7");
    s.ConfigModbus232Protocol = 1;
    s.ConfigModbus485Baud = 9;
    s.ConfigModbus485Parity = 0;
    s.ConfigModbus485Delay = QStringLiteral(" 125");
    s.ConfigModbus485Protocol = 0;
    s.TsIeee1344 = Check::Checked;
    s.TsToGpsOffset = QStringLiteral("-6");
    s.TsToIrigOffset = QStringLiteral(" 2");
    s.TsDstLocation = 3;
    s.TsDstStartMonth = QStringLiteral(" 3");
    s.TsDstStartDay = QStringLiteral(" 14");
    s.TsDstStartHour = QStringLiteral(" 2");
    s.TsDstStopMonth = QStringLiteral(" 11");
    s.TsDstStopDay = QStringLiteral(" 7");
    s.TsDstStopHour = QStringLiteral(" 2");
    for (int p = 0; p < PointCount; ++p) {
        PointSettings& pt = points[std::size_t(p)];
        pt.SsPcFilter = quint16(p == 3 ? 40000 : 100 + p);
        pt.SsPcDebounce = quint16(p == 4 ? 65535 : 7 + p);
        pt.SsPcChatter = qint16(p % 2 ? -p : 300 + p);
        SetPointDisabled(pt, p % 3 == 1);
        pt.SsPcDescription = QStringLiteral("Feeder %1 breaker, bay %2").arg(p + 1).arg(p / 8);
        pt.SsPcOff = QStringLiteral("Open %1").arg(p);
        pt.SsPcOn = QStringLiteral("Closed");
    }
    points[31].SsPcDescription = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"); // all 32 characters
    points[0].SsPcOff = QStringLiteral("0123456789abcdef");                          // all 16
    points[30].SsPcDescription = QStringLiteral("A file may hold more than the module's 32");
}

// Each field of the Configuration, SER Setup and Time Setup tabs touched as a
// user would, so that whatever its widget shows goes back into the settings:
// a text loses its last character and gets it typed again, a check box goes
// round to its state, the chosen option is clicked again, a list steps away
// and back. The point rows are touched on every page of the scroll bar.
void TouchEveryField(ChronelMain& window)
{
    const auto touch = [&window](QWidget* page) {
        for (QLineEdit* e : page->findChildren<QLineEdit*>()) {
            if (e->isReadOnly() || !e->isVisibleTo(&window) || e->text().isEmpty())
                continue;
            const QString last = e->text().right(1);
            e->end(false);
            QTest::keyClick(e, Qt::Key_Backspace);
            QTest::keyClicks(e, last);
        }
        for (QCheckBox* b : page->findChildren<QCheckBox*>()) {
            if (b->isVisibleTo(&window))
                for (int i = 0; i < (b->isTristate() ? 3 : 2); ++i)
                    b->click();
        }
        for (QRadioButton* b : page->findChildren<QRadioButton*>()) {
            if (b->isChecked() && b->isEnabled())
                b->click();
        }
        for (QComboBox* c : page->findChildren<QComboBox*>()) {
            if (c->currentIndex() < 0)
                continue;
            const bool last = c->currentIndex() == c->count() - 1;
            QTest::keyClick(c, last ? Qt::Key_Up : Qt::Key_Down);
            QTest::keyClick(c, last ? Qt::Key_Down : Qt::Key_Up);
        }
    };
    QTabWidget* tabs = window.tabs();
    for (int t = 0; t < 3; ++t) {
        tabs->setCurrentIndex(t);
        QWidget* page = tabs->widget(t);
        auto* scroll = page->findChild<QScrollBar*>(QStringLiteral("scrSsPcScroll"));
        if (!scroll) {
            touch(page);
            continue;
        }
        for (int top = 0;; top = std::min(top + scroll->pageStep(), scroll->maximum())) {
            scroll->setValue(top);
            touch(page);
            if (top == scroll->maximum())
                break;
        }
        scroll->setValue(0);
    }
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TransferWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.start({}, false)); // the simulator and the adapter file
        rig.transfer.reset();
        window = std::make_unique<ChronelMain>(PlctagControlFactory());
        window->model().settings().ConfigTcpipIp = {
            QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
        window->startUp();
        actions = std::make_unique<TransferActions>(*window);
        actions->transfer().setPollInterval(10);
        actions->setMessageSink([this](const UserMessage& m) { messages.push_back(m); });
        actions->setFileChooser([this](bool save) { return save ? savePath : openPath; });
    }
    void TearDown() override
    {
        for (int i = 0; i < ChannelCount; ++i)
            window->model().channels()[ChannelId(i)].AutoPoll(0);
        actions.reset();
        window.reset();
    }

    void menu(const char* name) { window->menuAction(QString::fromLatin1(name))->trigger(); }

    // The next message box is answered with `button` when `menuName` is
    // chosen; its text and default button are kept in the script.
    void menuAnswering(const char* menuName, QMessageBox::StandardButton button)
    {
        script.answer(button);
        menu(menuName);
        EXPECT_TRUE(script.wait()) << menuName;
    }
    template <class W> W* find(const char* name) { return window->findChild<W*>(QString::fromLatin1(name)); }

    // Every modal window of the test goes through the script: one it did not
    // expect fails the test.
    ModalScript script;
    TransferRig rig;
    std::unique_ptr<ChronelMain> window;
    std::unique_ptr<TransferActions> actions;
    std::vector<UserMessage> messages;
    QString savePath, openPath;
};

TEST_F(TransferWindow, UploadEditDownloadSaveOpenAsAnEngineerWould)
{
    auto* bar = find<QProgressBar>("prbTransferProgress");
    auto* label = find<QLabel>("lblTransfer");
    auto* name = find<QLineEdit>("txtConfigModuleName");
    ASSERT_TRUE(bar && label && name);
    EXPECT_TRUE(bar->isHidden());

    menu("mnuTransferUpload");
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("Uploading"));
    EXPECT_EQ(bar->maximum(), 1389);
    ASSERT_TRUE(rig.waitEnd(actions->transfer().upload()));
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(label->isHidden());
    EXPECT_EQ(name->text(), QStringLiteral("Chronel SER")); // the simulator's factory name
    EXPECT_EQ(window->statusBar()->currentMessage(),
        QStringLiteral("Upload from the module at 127.0.0.1 (Chronel SER) finished"));

    name->clear();
    QTest::keyClicks(name, QStringLiteral("Pump house"));
    menuAnswering("mnuTransferDownload", QMessageBox::Yes);
    EXPECT_EQ(label->text(), QStringLiteral("Downloading"));
    ASSERT_TRUE(rig.waitEnd(actions->transfer().download()));
    EXPECT_EQ(actions->transfer().download().outcome(), TransferOutcome::Finished);
    EXPECT_EQ(window->statusBar()->currentMessage(),
        QStringLiteral("Download to the module at 127.0.0.1 (Pump house) finished"));
    ModuleRegisters regs(rig.port);
    EXPECT_EQ(WordsText(regs.read(39, 8), 0, 8), "Pump house");

    savePath = rig.dir.filePath(QStringLiteral("pump.csv"));
    menu("mnuFileSave");
    QFile saved(savePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readLine().startsWith("\"Module Name\",\"Pump house\"\r\n"));

    name->setText(QStringLiteral("Changed"));
    openPath = savePath;
    menu("mnuFileOpen");
    EXPECT_EQ(name->text(), QStringLiteral("Pump house"));
    EXPECT_TRUE(messages.empty());

    // A cancelled dialog does nothing.
    openPath.clear();
    name->setText(QStringLiteral("Kept"));
    menu("mnuFileOpen");
    EXPECT_EQ(name->text(), QStringLiteral("Kept"));
}

TEST_F(TransferWindow, AFailedUploadShowsACriticalBox)
{
    // The message box of the window itself; the test closes it.
    actions->setMessageSink({});
    window->model().settings().ConfigTcpipIp[3] = QStringLiteral("999"); // cannot be resolved: nothing is sent
    script.answer(QMessageBox::Ok);
    menu("mnuTransferUpload");
    ASSERT_TRUE(script.wait(10000)); // the box comes when the sequence gives up
    EXPECT_EQ(script.messages(), QStringList{QStringLiteral("The upload sequence failed")});
    EXPECT_EQ(script.titles(), QStringList{QStringLiteral("Chronel")});
    EXPECT_EQ(script.icons(), QList<QMessageBox::Icon>{QMessageBox::Critical});
    EXPECT_TRUE(find<QProgressBar>("prbTransferProgress")->isHidden());
}

TEST_F(TransferWindow, AThreeLineFileMessageShowsItsLines)
{
    actions->setMessageSink({});
    const QString path = rig.dir.filePath(QStringLiteral("bad.csv"));
    ASSERT_TRUE(actions->saveSettings(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    f.close();
    bytes.replace("\"Point  4\",", "\"Point 4\",");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();

    script.answer(QMessageBox::Ok);
    EXPECT_TRUE(actions->openSettings(path));
    ASSERT_TRUE(script.wait());
    EXPECT_EQ(script.titles(), QStringList{QStringLiteral("File Open")});
    const QString text = script.messages().value(0);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Point  4 Invalid\nExpected: Point  4, Enable"))) << text.toStdString();
    EXPECT_EQ(text.count(QLatin1Char('\n')), 2);
}

TEST_F(TransferWindow, SaveAsksBeforeReplacingTheFileItWrites)
{
    actions->setFileChooser({});
    const QString existing = rig.dir.filePath(QStringLiteral("pump.csv"));
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("kept\r\n");
    }
    // The user types "pump" under the preselected CSV filter and presses
    // Save; the dialog asks whether to replace pump.csv.
    QString suffix;
    const auto typePump = [&](QFileDialog& dialog) {
        suffix = dialog.defaultSuffix();
        dialog.setDirectory(rig.dir.path());
        // Typed into the name field: selectFile() leaves the field alone
        // once it has the focus.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("pump"));
        static_cast<QDialog&>(dialog).accept(); // as the Save button does
    };
    // After a No the dialog is still open, and is cancelled.
    script
        .on<QFileDialog>([&](QFileDialog& dialog) {
            typePump(dialog);
            EXPECT_TRUE(dialog.isVisible());
            dialog.reject();
        })
        .answer(QMessageBox::No);
    menu("mnuFileSave");
    ASSERT_TRUE(script.wait());
    EXPECT_EQ(suffix, QStringLiteral("csv"));
    ASSERT_EQ(script.messages().size(), 1);
    EXPECT_TRUE(script.messages()[0].startsWith(QStringLiteral("pump.csv already exists")))
        << script.messages()[0].toStdString();
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("kept\r\n"));
    file.close();

    script.on<QFileDialog>(typePump).answer(QMessageBox::Yes);
    menu("mnuFileSave");
    ASSERT_TRUE(script.wait());
    EXPECT_EQ(script.messages().size(), 2);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readLine().startsWith("\"Module Name\","));
    EXPECT_FALSE(QFile::exists(rig.dir.filePath(QStringLiteral("pump"))));
    EXPECT_TRUE(messages.empty());
}

// Nothing a field is given may be lost on its way through the widget: a
// settings file comes back as the same records, an upload goes back to the
// module as the same register words.
TEST_F(TransferWindow, EveryFieldComesBackThroughItsWidget)
{
    window->resize(900, 640);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // Requests go to the simulator whatever the IP row shows.
    window->model().setConnectionHost(QStringLiteral("127.0.0.1"));

    ModuleSettings settings = window->model().settings();
    PointTable points = window->model().points();
    Distinctive(settings, points);

    // Settings file → window → settings file.
    const QString original = rig.dir.filePath(QStringLiteral("original.csv"));
    const QString again = rig.dir.filePath(QStringLiteral("again.csv"));
    {
        QFile f(original);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(SettingsFileText(settings, points));
    }
    // The file's own address too, as the round trip needs.
    actions->setQuestionAsker([](const UserMessage&) { return true; });
    ASSERT_TRUE(actions->openSettings(original));
    actions->setQuestionAsker({});
    TouchEveryField(*window);
    ASSERT_TRUE(actions->saveSettings(again));
    EXPECT_EQ(FileBytes(again), FileBytes(original));

    // Module → upload → window → download → module.
    ModuleRegisters regs(rig.port);
    ASSERT_TRUE(regs.connected());
    std::array<qint16, ConfigBlockWriteWords> config{};
    SettingsToConfigBlock(settings, config);
    ASSERT_TRUE(regs.write(1, std::vector<quint16>(config.begin(), config.end())));
    ASSERT_TRUE(regs.write(ModuleIdRegister, {4242}));
    for (int b = 0; b < PointBlockCount; ++b) {
        PointBlock block{};
        ASSERT_TRUE(TableToPointBlock(PointBlockRegister(b), points, block));
        ASSERT_TRUE(regs.write(PointBlockRegister(b), std::vector<quint16>(block.begin(), block.end())));
    }
    const std::vector<quint16> configBefore = regs.read(1, ConfigBlockWriteWords);
    const std::vector<quint16> pointsBefore = regs.read(PointBlockRegister(0), PointBlockCount * PointBlockWords);
    window->model().restoreDefaultSettings(); // the upload must fill every field

    menu("mnuTransferUpload");
    ASSERT_TRUE(rig.waitEnd(actions->transfer().upload()));
    ASSERT_EQ(actions->transfer().upload().outcome(), TransferOutcome::Finished);
    TouchEveryField(*window);
    menuAnswering("mnuTransferDownload", QMessageBox::Yes);
    ASSERT_TRUE(rig.waitEnd(actions->transfer().download()));
    ASSERT_EQ(actions->transfer().download().outcome(), TransferOutcome::Finished);

    const std::vector<quint16> configAfter = regs.read(1, ConfigBlockWriteWords);
    ASSERT_EQ(configAfter.size(), configBefore.size());
    for (int w = 0; w < ConfigBlockWriteWords; ++w) {
        if (DownloadSetsWord(w)) {
            EXPECT_EQ(configAfter[std::size_t(w)], configBefore[std::size_t(w)]) << "register " << w + 1;
        }
    }
    EXPECT_EQ(regs.read(ModuleIdRegister, 1), std::vector<quint16>{4242});
    EXPECT_EQ(regs.read(PointBlockRegister(0), PointBlockCount * PointBlockWords), pointsBefore);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TransferWindow, UnsavedEditsAreMarkedAndExitAndOpenAskBeforeDroppingThem)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* name = find<QLineEdit>("txtConfigModuleName");
    EXPECT_FALSE(window->isWindowModified());
    QTest::keyClicks(name, QStringLiteral(" 2"));
    EXPECT_TRUE(window->isWindowModified());

    script.answer(QMessageBox::Cancel);
    EXPECT_FALSE(window->close());
    ASSERT_TRUE(script.wait());
    EXPECT_TRUE(script.messages()[0].contains(QStringLiteral("not been saved")));
    EXPECT_EQ(script.defaults()[0], QMessageBox::Save);

    // Save from the question: the file is written, the title names it.
    savePath = rig.dir.filePath(QStringLiteral("pump.csv"));
    menuAnswering("mnuFileExit", QMessageBox::Save);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(QFile::exists(savePath));
    EXPECT_EQ(window->statusBar()->currentMessage(), QStringLiteral("Saved ") + savePath);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pump.csv[*] - Chronel Version 1.60"));
    EXPECT_FALSE(window->isWindowModified());

    // Open: Cancel keeps the edit, Discard drops it for the file.
    window->show();
    QTest::keyClicks(name, QStringLiteral("x"));
    openPath = savePath;
    menuAnswering("mnuFileOpen", QMessageBox::Cancel);
    EXPECT_TRUE(name->text().endsWith(QStringLiteral(" 2x")));
    EXPECT_TRUE(script.messages().last().contains(QStringLiteral("pump.csv")));
    menuAnswering("mnuFileOpen", QMessageBox::Discard);
    EXPECT_TRUE(name->text().endsWith(QStringLiteral(" 2")));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(script.messages().size(), 4);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TransferWindow, DownloadAsksNamingTheModuleAndWhatIsSentDefaultNo)
{
    ModuleRegisters regs(rig.port);
    ASSERT_TRUE(regs.connected());
    const std::vector<quint16> before = regs.read(1, 60);
    menuAnswering("mnuTransferDownload", QMessageBox::No);
    ASSERT_EQ(script.messages().size(), 1);
    EXPECT_EQ(script.defaults()[0], QMessageBox::No);
    EXPECT_TRUE(
        script.messages()[0].startsWith(QStringLiteral("Download the window's settings to the module at 127.0.0.1?")))
        << script.messages()[0].toStdString();
    EXPECT_EQ(actions->transfer().download().outcome(), TransferOutcome::Idle);
    QTest::qWait(100);
    EXPECT_EQ(regs.read(1, 60), before);

    // An upload leaves the module's settings, unmodified and of no file.
    ASSERT_TRUE(actions->saveSettings(rig.dir.filePath(QStringLiteral("site.csv"))));
    menu("mnuTransferUpload");
    ASSERT_TRUE(rig.waitEnd(actions->transfer().upload()));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Chronel Version 1.60[*]"));
    EXPECT_FALSE(window->isWindowModified());

    ASSERT_TRUE(actions->openSettings(rig.dir.filePath(QStringLiteral("site.csv"))));
    menuAnswering("mnuTransferDownload", QMessageBox::Yes);
    EXPECT_TRUE(script.messages().last().startsWith(
        QStringLiteral("Download site.csv to the module at 127.0.0.1 (Chronel SER)?")))
        << script.messages().last().toStdString();
    ASSERT_TRUE(rig.waitEnd(actions->transfer().download()));
    EXPECT_EQ(actions->transfer().download().outcome(), TransferOutcome::Finished);
}

TEST(TransferDialogs, FiltersOfTheSettingsFileDialogs)
{
    EXPECT_EQ(SettingsDialogFilters(SettingsFileFilter()),
        (QStringList{QStringLiteral("All Files (*.*)"), QStringLiteral("Comma Delimited Files (*.csv)")}));
    EXPECT_EQ(SettingsDialogFilters(SettingsFileFilter()).value(SettingsFileFilterIndex),
        QStringLiteral("Comma Delimited Files (*.csv)"));
}

} // namespace
