// Transfer > Upload and Download, File > Open and Save in the window under
// the offscreen platform, against chronel-sim on loopback: what an engineer
// does — upload, edit a field, download, save, open — and the message boxes.
#include "transfer_rig.h"

#include "ui/chronel_main.h"
#include "ui/transfer_actions.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <gtest/gtest.h>

using namespace chronel;
using namespace chronel::test;

namespace {

class TransferWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.start({}, false));  // the simulator and the adapter file
        rig.transfer.reset();
        window = std::make_unique<ChronelMain>(PlctagControlFactory());
        window->model().settings().ConfigTcpipIp = {QStringLiteral("127"), QStringLiteral("0"),
                                                    QStringLiteral("0"), QStringLiteral("1")};
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
    template <class W> W* find(const char* name) { return window->findChild<W*>(QString::fromLatin1(name)); }

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
    EXPECT_EQ(name->text(), QStringLiteral("Chronel SER"));  // the simulator's factory name

    name->clear();
    QTest::keyClicks(name, QStringLiteral("Pump house"));
    menu("mnuTransferDownload");
    EXPECT_EQ(label->text(), QStringLiteral("Downloading"));
    ASSERT_TRUE(rig.waitEnd(actions->transfer().download()));
    EXPECT_EQ(actions->transfer().download().outcome(), TransferOutcome::Finished);
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
    window->model().settings().ConfigTcpipIp[3] = QStringLiteral("999");  // cannot be resolved: nothing is sent
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            box->accept();
        }
    });
    closer.start(10);
    menu("mnuTransferUpload");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty(); }, 10000));
    EXPECT_EQ(text, QStringLiteral("The upload sequence failed"));
    EXPECT_EQ(title, QStringLiteral("Chronel"));
    EXPECT_EQ(icon, QMessageBox::Critical);
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

    QStringList texts;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->windowTitle() + QLatin1Char('|') + box->text();
            box->accept();
        }
    });
    closer.start(10);
    EXPECT_TRUE(actions->openSettings(path));
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("File Open|Point  4 Invalid\nExpected: Point  4, Enable")));
    EXPECT_EQ(texts[0].count(QLatin1Char('\n')), 2);
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
    // The user types "pump" under the preselected CSV filter and answers the
    // question; after a No the dialog is still open and is cancelled.
    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList questions;
    QString suffix;
    bool typed = false;
    QTimer boxes, dialogs;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            questions << box->text();
            box->button(answer)->click();
        }
    });
    QObject::connect(&dialogs, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (std::exchange(typed, true)) {
            dialog->reject();
            return;
        }
        suffix = dialog->defaultSuffix();
        dialog->setDirectory(rig.dir.path());
        dialog->selectFile(QStringLiteral("pump"));
        static_cast<QDialog*>(dialog)->accept();  // as the Save button does
    });
    boxes.start(10);
    dialogs.start(10);

    menu("mnuFileSave");
    EXPECT_EQ(suffix, QStringLiteral("csv"));
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith(QStringLiteral("pump.csv already exists"))) << questions[0].toStdString();
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("kept\r\n"));
    file.close();

    answer = QMessageBox::Yes;
    typed = false;
    menu("mnuFileSave");
    EXPECT_EQ(questions.size(), 2);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readLine().startsWith("\"Module Name\","));
    EXPECT_FALSE(QFile::exists(rig.dir.filePath(QStringLiteral("pump"))));
    EXPECT_TRUE(messages.empty());
}

TEST(TransferDialogs, FiltersOfTheSettingsFileDialogs)
{
    EXPECT_EQ(SettingsDialogFilters(SettingsFileFilter()),
              (QStringList{QStringLiteral("All Files (*.*)"), QStringLiteral("Comma Delimited Files (*.csv)")}));
    EXPECT_EQ(SettingsDialogFilters(SettingsFileFilter()).value(SettingsFileFilterIndex),
              QStringLiteral("Comma Delimited Files (*.csv)"));
}

} // namespace

int main(int argc, char** argv)
{
    // Test discovery runs the program too, without the test's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
