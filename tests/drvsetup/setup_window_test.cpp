// DRVSETUP's window under the offscreen platform, used as an engineer would:
// lists chosen, options and buttons clicked, message boxes answered, and the
// saved PLCDRV.INI read back by the driver's configuration code. Modbus Plus
// cards come from the stand-in MBX driver through mpbridge.
#include "driver/adapter_config.h"
#include "drvsetup/setup_window.h"
#include "mpbridge/mpbridge.h"
#include "platform/profile.h"
#include "support/modal_script.h"
#include "support/screenshot.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using chronel::test::ModalScript;
using chronel::test::SaveScreenshot;

using drvsetup::SetupWindow;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SetupWindowTest : public testing::Test {
protected:
    void TearDown() override
    {
        if (window_ && window_->isVisible()) {
            // Leave without saving whatever a failed test left applied.
            ModalScript script;
            script.answer(QMessageBox::No);
            window_->close();
        }
    }

    QString ini() const { return dir_.filePath(QStringLiteral("PLCDRV.INI")); }

    SetupWindow& open(const QByteArray& content)
    {
        if (!content.isNull()) {
            QFile f(ini());
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        window_ = std::make_unique<SetupWindow>(ini(), ini());
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        return *window_;
    }

    template <typename T> T* child(const char* name) const
    {
        T* found = window_->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QComboBox* list(const char* name) const { return child<QComboBox>(name); }
    QString shown(const char* listName) const { return list(listName)->currentText(); }
    bool checked(const char* name) const { return child<QAbstractButton>(name)->isChecked(); }
    void click(const char* name) const { child<QAbstractButton>(name)->click(); }
    void choose(const char* listName, const QString& text) const
    {
        QComboBox* l = list(listName);
        const int index = l->findText(text);
        ASSERT_GE(index, 0) << listName << " has no " << text.toStdString();
        l->setCurrentIndex(index);
    }

    // Closes through the "Close" button; the script, which must exist for
    // the call, answers what comes up.
    bool closeWith(const ModalScript& /*answers*/)
    {
        click("cmdClose");
        QCoreApplication::processEvents();
        return !window_->isVisible();
    }

    QTemporaryDir dir_;
    std::unique_ptr<SetupWindow> window_;
};

TEST_F(SetupWindowTest, FileWithoutAdapterSectionsShowsAdapterZeroWithEditorDefaults)
{
    open("[GENERAL]\nDialogShow=1\n[Ports]\nCOM1=/dev/ttyUSB0\n");
    for (int i = 0; i < drvsetup::kAdapterCount; ++i)
        EXPECT_EQ(window_->table().record(i).enabled, 0) << i;
    EXPECT_EQ(shown("cmbAdapter"), QStringLiteral("0"));
    EXPECT_FALSE(checked("chkEnabled"));
    EXPECT_EQ(shown("cmbDeviceType"), QStringLiteral("Serial"));
    EXPECT_EQ(shown("cmbCommPort"), QStringLiteral("COM2:"));
    EXPECT_EQ(shown("cmbProtocol"), QStringLiteral("Modbus RTU"));
    EXPECT_EQ(shown("cmbLinkSpeed"), QStringLiteral("1200"));
    EXPECT_EQ(shown("cmbSlaveID"), QStringLiteral("None"));
    EXPECT_TRUE(checked("optParityNone"));
    EXPECT_TRUE(checked("optDataBits7"));
    EXPECT_TRUE(checked("optStopBits1"));
    // A disabled adapter: its lists cannot be used and are painted grey.
    for (const char* name : {"cmbDeviceType", "cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID"}) {
        EXPECT_FALSE(list(name)->isEnabled()) << name;
        EXPECT_EQ(list(name)->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0)) << name;
    }
    EXPECT_TRUE(list("cmbAdapter")->isEnabled());
    EXPECT_EQ(list("cmbAdapter")->count(), 8);
    EXPECT_EQ(list("cmbCommPort")->itemText(23), QStringLiteral("COM24:"));
    EXPECT_EQ(list("cmbSlaveID")->count(), 248);
    EXPECT_EQ(list("cmbSlaveID")->itemText(247), QStringLiteral("247"));
    EXPECT_EQ(list("cmbSlaveID")->itemText(1), QStringLiteral("001"));
}

TEST_F(SetupWindowTest, StartsOnTheFirstEnabledAdapterAndShowsEachRecord)
{
    open("[Adapter.Object.3]\nEnabled=1\nType=0\nCOM:=4\nLinkProtocol=1\nLinkSpeed=6\nLinkParity=1\n"
         "LinkDataBits=1\nLinkStopBits=1\nNodeID=12\n"
         "[Adapter.Object.6]\nEnabled=1\nType=1\nMBXDeviceName=Bench_Card\nMBXDeviceNumber=7\n");
    EXPECT_EQ(window_->selectedAdapter(), 2);
    EXPECT_TRUE(checked("chkEnabled"));
    EXPECT_EQ(shown("cmbCommPort"), QStringLiteral("COM5:"));
    EXPECT_EQ(shown("cmbProtocol"), QStringLiteral("Modbus ASCII"));
    EXPECT_EQ(shown("cmbLinkSpeed"), QStringLiteral("57.6k"));
    EXPECT_EQ(shown("cmbSlaveID"), QStringLiteral("012"));
    EXPECT_TRUE(checked("optParityOdd"));
    EXPECT_TRUE(checked("optDataBits8"));
    EXPECT_TRUE(checked("optStopBits2"));

    choose("cmbAdapter", QStringLiteral("5"));
    EXPECT_TRUE(checked("chkEnabled"));
    EXPECT_EQ(shown("cmbDeviceType"), QStringLiteral("MBX Driver"));
    EXPECT_EQ(child<QLabel>("lblMBXName")->text(), QStringLiteral("Bench_Card"));
    EXPECT_EQ(child<QLabel>("lblMBXNum")->text(), QStringLiteral("7"));
    EXPECT_TRUE(child<QPushButton>("cmdSelect")->isEnabled());

    choose("cmbAdapter", QStringLiteral("0"));
    EXPECT_FALSE(checked("chkEnabled"));
    EXPECT_FALSE(list("cmbCommPort")->isEnabled());
}

TEST_F(SetupWindowTest, TcpIpClearsEnabledAndIsSavedDisabled)
{
    open("[GENERAL]\nDialogShow=0\n[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkTimeOut=750\n");
    ASSERT_TRUE(checked("chkEnabled"));
    choose("cmbDeviceType", QStringLiteral("TCP/IP"));
    EXPECT_FALSE(checked("chkEnabled"));
    // Still usable, so the adapter can be turned back into a serial one, but grey.
    EXPECT_TRUE(list("cmbDeviceType")->isEnabled());
    EXPECT_EQ(list("cmbDeviceType")->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    for (const char* name : {"cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID", "cmdSelect", "optParityNone",
             "optDataBits8", "optStopBits2", "lblCommPort", "lblProtocol", "lblLinkSpeed", "lblSlaveID"})
        EXPECT_FALSE(child<QWidget>(name)->isEnabled()) << name;
    // Checking Enabled again cannot make a TCP/IP adapter enabled.
    click("chkEnabled");
    EXPECT_FALSE(checked("chkEnabled"));

    click("cmdApply");
    ModalScript script;
    script.answer(QMessageBox::Yes).answer(QMessageBox::Ok);
    EXPECT_TRUE(closeWith(script));
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(script.messages(),
        (QStringList{
            QStringLiteral("Save Vexa32 Changes"), QStringLiteral("You Will Need To Re-Start Your Application")}));
    EXPECT_EQ(script.titles(), (QStringList{QStringLiteral("Arvenco Vexa32"), QStringLiteral("Arvenco, Vexa32")}));
    EXPECT_EQ(script.icons(), (QList<QMessageBox::Icon>{QMessageBox::Question, QMessageBox::Warning}));

    plcdrv::AdapterConfig config(ini(), [](const QString& text) { ADD_FAILURE() << text.toStdString(); });
    EXPECT_FALSE(config.enabled(1));
    EXPECT_EQ(
        platform::PrivateProfile::getInt(ini(), QStringLiteral("Adapter.Object.1"), QStringLiteral("Type"), -1), 2);
    EXPECT_EQ(platform::PrivateProfile::getString(ini(), QStringLiteral("Adapter.Object.1"), QStringLiteral("Enabled")),
        QStringLiteral("0"));
    const QByteArray saved = ReadFile(ini());
    EXPECT_TRUE(saved.contains("[GENERAL]\nDialogShow=0\n"));
    EXPECT_TRUE(saved.contains("LinkTimeOut=750\n"));
}

TEST_F(SetupWindowTest, ComPortConflictKeepsTypeAndPortButStoresEnabled)
{
    open("[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\n"
         "[Adapter.Object.2]\nEnabled=0\nType=1\nCOM:=3\nLinkSpeed=2\n");
    choose("cmbAdapter", QStringLiteral("1"));
    click("chkEnabled");
    ASSERT_TRUE(checked("chkEnabled"));
    choose("cmbDeviceType", QStringLiteral("Serial"));
    choose("cmbCommPort", QStringLiteral("COM1:"));
    choose("cmbLinkSpeed", QStringLiteral("9600"));

    ModalScript script;
    script.answer(QMessageBox::Ok);
    click("cmdApply");
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(script.messages(), QStringList{QStringLiteral("Comm Port setting conflicts with Adapter 0")});
    EXPECT_EQ(script.titles(), QStringList{QStringLiteral("WARNING")});
    EXPECT_EQ(script.icons(), QList<QMessageBox::Icon>{QMessageBox::Warning});

    const drvsetup::AdapterRecord& r = window_->table().record(1);
    EXPECT_EQ(r.enabled, 1);
    EXPECT_EQ(r.deviceType, drvsetup::MbxDevice);
    EXPECT_EQ(r.comIndex, 3);
    EXPECT_EQ(r.linkSpeed, 2);
    EXPECT_TRUE(window_->table().changesApplied());

    // Another port is accepted and stored with the rest of the selection.
    choose("cmbCommPort", QStringLiteral("COM3:"));
    click("cmdApply");
    EXPECT_EQ(window_->table().record(1).deviceType, drvsetup::SerialDevice);
    EXPECT_EQ(window_->table().record(1).comIndex, 2);
    EXPECT_EQ(window_->table().record(1).linkSpeed, 3);
}

TEST_F(SetupWindowTest, ParityAloneGivesNoSavePromptAndWritesNothing)
{
    const QByteArray original = "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkParity=0\n";
    open(original);
    click("optParityEven");
    EXPECT_EQ(window_->table().record(0).parity, 2) << "options reach the record at once";
    ModalScript script;
    EXPECT_TRUE(closeWith(script));
    EXPECT_TRUE(script.unexpected().isEmpty()) << script.unexpected().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(ReadFile(ini()), original);
}

TEST_F(SetupWindowTest, CancelInSavePromptKeepsWindowAndEditsThenNoLeavesFileAlone)
{
    const QByteArray original = "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\n";
    open(original);
    choose("cmbLinkSpeed", QStringLiteral("19.2k"));
    click("cmdApply");

    {
        ModalScript cancel;
        cancel.answer(QMessageBox::Cancel);
        EXPECT_FALSE(closeWith(cancel));
        EXPECT_TRUE(cancel.wait());
    }
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(shown("cmbLinkSpeed"), QStringLiteral("19.2k"));
    EXPECT_EQ(window_->table().record(0).linkSpeed, 4);
    EXPECT_EQ(ReadFile(ini()), original);

    ModalScript no;
    no.answer(QMessageBox::No);
    EXPECT_TRUE(closeWith(no));
    EXPECT_EQ(no.messages(), QStringList{QStringLiteral("Save Vexa32 Changes")});
    EXPECT_EQ(ReadFile(ini()), original);
}

TEST_F(SetupWindowTest, ApplyStoresEverySelectionIncludingSlaveId)
{
    open("[Ports]\nCOM3=/dev/ttyUSB3\n");
    click("chkEnabled");
    choose("cmbCommPort", QStringLiteral("COM3:"));
    choose("cmbProtocol", QStringLiteral("Modbus ASCII"));
    choose("cmbLinkSpeed", QStringLiteral("38.4k"));
    choose("cmbSlaveID", QStringLiteral("017"));
    click("optParityOdd");
    click("optDataBits8");
    click("optStopBits2");
    EXPECT_TRUE(SaveScreenshot(window_.get(), QStringLiteral("drvsetup_serial.png")));
    click("cmdApply");
    ModalScript script;
    script.answer(QMessageBox::Yes).answer(QMessageBox::Ok);
    ASSERT_TRUE(closeWith(script));

    QStringList messages;
    plcdrv::AdapterConfig config(ini(), [&](const QString& text) { messages << text; });
    ASSERT_TRUE(config.enabled(1));
    plcdrv::AdapterLink link;
    ASSERT_EQ(config.configure(1, link), 1);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(link.adapterType, plcdrv::SerialAdapter);
    EXPECT_EQ(link.comNumber, 3);
    EXPECT_EQ(config.comPortDevice(link.comNumber), QStringLiteral("/dev/ttyUSB3"));
    EXPECT_EQ(link.messageKind, 1);
    EXPECT_EQ(link.baudRateIndex, 5);
    EXPECT_EQ(link.parity, plcdrv::OddParity);
    EXPECT_EQ(link.dataBits, 8);
    EXPECT_EQ(link.stopBits, plcdrv::TwoStopBits);
    EXPECT_EQ(link.nodeId, 17);
}

// Values no list item stands for (a hand-edited file) are shown as no
// selection and written back as they were, not as -1.
TEST_F(SetupWindowTest, ValuesOutsideTheListsSurviveApplyAndSave)
{
    open("[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=30\nLinkSpeed=12\nLinkProtocol=2\nNodeID=300\nLinkParity=5\n");
    EXPECT_EQ(list("cmbCommPort")->currentIndex(), -1);
    EXPECT_EQ(list("cmbLinkSpeed")->currentIndex(), -1);
    EXPECT_FALSE(checked("optParityNone") || checked("optParityOdd") || checked("optParityEven"));
    click("cmdApply");
    ModalScript script;
    script.answer(QMessageBox::Yes).answer(QMessageBox::Ok);
    ASSERT_TRUE(closeWith(script));
    const QString section = QStringLiteral("Adapter.Object.1");
    using platform::PrivateProfile;
    EXPECT_EQ(PrivateProfile::getInt(ini(), section, QStringLiteral("COM:"), 0), 30);
    EXPECT_EQ(PrivateProfile::getInt(ini(), section, QStringLiteral("LinkSpeed"), 0), 12);
    EXPECT_EQ(PrivateProfile::getInt(ini(), section, QStringLiteral("LinkProtocol"), 0), 2);
    EXPECT_EQ(PrivateProfile::getInt(ini(), section, QStringLiteral("NodeID"), 0), 300);
    EXPECT_EQ(PrivateProfile::getInt(ini(), section, QStringLiteral("LinkParity"), 0), 5);
}

// Which controls can be used once "&Enabled" is checked, per device type.
struct RuleCase {
    const char* type;
    QStringList usable;
    QStringList unusable;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.type; }

class EnablingRules : public SetupWindowTest, public testing::WithParamInterface<RuleCase> { };

TEST_P(EnablingRules, FollowTheDeviceType)
{
    const RuleCase& c = GetParam();
    open("[Adapter.Object.1]\nEnabled=1\nType=0\n");
    choose("cmbDeviceType", QString::fromUtf8(c.type));
    for (const QString& name : c.usable)
        EXPECT_TRUE(child<QWidget>(name.toLatin1().constData())->isEnabled()) << name.toStdString();
    for (const QString& name : c.unusable)
        EXPECT_FALSE(child<QWidget>(name.toLatin1().constData())->isEnabled()) << name.toStdString();
    // Usable lists are white, the others grey; a TCP/IP device type list is
    // grey although usable.
    const bool tcpIp = c.type == std::string("TCP/IP");
    for (const QString& name : c.usable + c.unusable) {
        auto* l = qobject_cast<QComboBox*>(child<QWidget>(name.toLatin1().constData()));
        if (l == nullptr)
            continue;
        const bool white = l->isEnabled() && !(tcpIp && name == QStringLiteral("cmbDeviceType"));
        EXPECT_EQ(l->palette().color(QPalette::Base), white ? QColor(Qt::white) : QColor(0xC0, 0xC0, 0xC0))
            << name.toStdString();
    }

    // Unchecking takes the five lists away and leaves the rest as it was.
    if (checked("chkEnabled")) {
        click("chkEnabled");
        for (const char* name : {"cmbDeviceType", "cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID"})
            EXPECT_FALSE(list(name)->isEnabled()) << name;
        EXPECT_EQ(child<QWidget>("fraParity")->isEnabled(), c.usable.contains(QStringLiteral("fraParity")));
        EXPECT_EQ(child<QWidget>("cmdSelect")->isEnabled(), c.usable.contains(QStringLiteral("cmdSelect")));
    }
}

const QStringList kOptions{QStringLiteral("fraParity"), QStringLiteral("optParityNone"), QStringLiteral("optParityOdd"),
    QStringLiteral("optParityEven"), QStringLiteral("fraDataBits"), QStringLiteral("optDataBits7"),
    QStringLiteral("optDataBits8"), QStringLiteral("fraStopBits"), QStringLiteral("optStopBits1"),
    QStringLiteral("optStopBits2")};

INSTANTIATE_TEST_SUITE_P(Types, EnablingRules,
    testing::Values(RuleCase{"Serial",
                        QStringList{"cmbDeviceType", "cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID",
                            "lblCommPort", "lblProtocol", "lblLinkSpeed", "lblSlaveID", "chkEnabled"} +
                            kOptions,
                        {"cmdSelect", "fraMBXDevices"}},
        RuleCase{"MBX Driver", {"cmbDeviceType", "cmdSelect", "fraMBXDevices", "chkEnabled"},
            QStringList{"cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID", "lblProtocol", "lblLinkSpeed",
                "lblSlaveID"} +
                kOptions},
        RuleCase{"TCP/IP", {"cmbDeviceType", "chkEnabled"},
            QStringList{"cmbCommPort", "cmbProtocol", "cmbLinkSpeed", "cmbSlaveID", "cmdSelect", "fraMBXDevices",
                "lblCommPort", "lblProtocol", "lblLinkSpeed", "lblSlaveID"} +
                kOptions}),
    [](const auto& info) {
        std::string name = info.param.type;
        std::erase_if(name, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
        return name;
    });

// The hint line follows the mouse.
struct HintCase {
    const char* control;
    const char* hint;
};

void PrintTo(const HintCase& c, std::ostream* os) { *os << c.control; }

class HintLine : public SetupWindowTest, public testing::WithParamInterface<HintCase> { };

TEST_P(HintLine, ShowsTheHintOfTheControlUnderTheMouse)
{
    open("[Adapter.Object.4]\nEnabled=1\nType=0\n");
    QWidget* target = child<QWidget>(GetParam().control);
    QWidget* top = window_.get();
    // Start from a control with a different hint, so a stale line cannot pass.
    QWidget* close = child<QWidget>("cmdClose");
    QTest::mouseMove(top->windowHandle(), close->mapTo(top, close->rect().center()));
    ASSERT_EQ(child<QLabel>("lblHint")->text(), QStringLiteral("Exit Server Configuration"));

    // A point of the control that no child of it covers (frames: their title).
    QPoint point = target->rect().center();
    if (qobject_cast<QGroupBox*>(target))
        point = QPoint(target->width() - 4, 4);
    QTest::mouseMove(top->windowHandle(), target->mapTo(top, point));
    EXPECT_EQ(child<QLabel>("lblHint")->text(), QString::fromUtf8(GetParam().hint));
}

INSTANTIATE_TEST_SUITE_P(Controls, HintLine,
    testing::Values(HintCase{"fraHardware", "Logical Adapter Physical Characteristics"},
        HintCase{"fraCommunications", "Logical Adapter Communication Characteristics"},
        HintCase{"fraParity", "COM Port Parity Setting"}, HintCase{"fraDataBits", "COM Port Data Bits"},
        HintCase{"fraStopBits", "COM Port Stop Bits"},
        HintCase{"cmdApply", "Apply Characteristics to Logical Adapter 3"},
        HintCase{"chkEnabled", "Enable Adapter For Use"}, HintCase{"optParityNone", "No Parity"},
        HintCase{"optParityOdd", "Odd Parity"}, HintCase{"optParityEven", "Even Parity "},
        HintCase{"optDataBits7", "7 Data Bits"}, HintCase{"optDataBits8", "8 Data Bits"},
        HintCase{"optStopBits1", "1 Stop Bit"}, HintCase{"optStopBits2", "2 Stop Bits"},
        HintCase{"lblAdapter", "Current Adapter Number"},
        HintCase{"lblDeviceType", "Physical Device Type Assigned to Current Adapter"},
        HintCase{"lblCommPort", "COM Port Assigned to Serial Device Type Adapter"},
        HintCase{"lblProtocol", "Protocol Command Set Used By Adapter For PLC Communication"},
        HintCase{"lblLinkSpeed", "Link Speed (Baud Rate) Assigned to Adapter for PLC Communication"},
        HintCase{"lblSlaveID", "PLC Slave (Station) Address Assigned to Adapter"}, HintCase{"fraSettings", ""}),
    [](const auto& info) { return std::string(info.param.control); });

TEST_F(SetupWindowTest, AboutBoxNamesProgramAndVersion)
{
    open(QByteArray());
    QString title;
    QString text;
    ModalScript script;
    script.then([&](QWidget* about) {
        title = about->windowTitle();
        if (auto* label = about->findChild<QLabel*>(QStringLiteral("lblAbout")))
            text = label->text();
        if (auto* ok = about->findChild<QPushButton*>(QStringLiteral("cmdOK")))
            ok->click();
    });
    click("cmdAbout");
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(title, QStringLiteral("About DRVSETUP"));
    EXPECT_TRUE(text.contains(QStringLiteral("DRVSETUP")));
    EXPECT_TRUE(text.contains(QStringLiteral(DRVSETUP_VERSION)));
    EXPECT_TRUE(window_->isVisible());
}

// The whole path of a Modbus Plus adapter: pick the card in mpbridge's
// dialog, apply, save; the driver configures the card and mpbridge opens it.
TEST_F(SetupWindowTest, ModbusPlusCardPickedSavedAndOpenedByTheDriver)
{
    ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in must be on LD_LIBRARY_PATH";
    SimConfigFile sim(SimConfigFile::device(3, 1502, "Bench Card") + SimConfigFile::device(4, 1503, "Hidden", false) +
        SimConfigFile::device(6, 1504, "Second Card"));
    open("[GENERAL]\nDialogShow=0\n");
    choose("cmbAdapter", QStringLiteral("2"));
    click("chkEnabled");
    choose("cmbDeviceType", QStringLiteral("MBX Driver"));
    ASSERT_TRUE(child<QPushButton>("cmdSelect")->isEnabled());

    ModalScript script;
    QStringList entries;
    script.then([&](QWidget* dialog) {
        auto* devices = dialog->findChild<QComboBox*>(QStringLiteral("cmbDevices"));
        for (int i = 0; devices && i < devices->count(); ++i)
            entries << devices->itemText(i);
        if (devices)
            devices->setCurrentIndex(1);
        if (auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")))
            ok->click();
    });
    click("cmdSelect");
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(entries, (QStringList{QStringLiteral("Bench_Card"), QStringLiteral("Second_Card")}));
    EXPECT_EQ(child<QLabel>("lblMBXName")->text(), QStringLiteral("Second_Card"));
    EXPECT_EQ(child<QLabel>("lblMBXNum")->text(), QStringLiteral("6"));
    EXPECT_EQ(window_->table().record(2).cardNumber, 0) << "the card reaches the record only through Apply";
    EXPECT_TRUE(SaveScreenshot(window_.get(), QStringLiteral("drvsetup.png")));

    click("cmdApply");
    ModalScript save;
    save.answer(QMessageBox::Yes).answer(QMessageBox::Ok);
    ASSERT_TRUE(closeWith(save));

    QStringList messages;
    plcdrv::AdapterConfig config(ini(), [&](const QString& text) { messages << text; });
    ASSERT_TRUE(config.enabled(3));
    plcdrv::AdapterLink link;
    ASSERT_EQ(config.configure(3, link), 3);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(link.adapterType, plcdrv::ModbusPlusAdapter);
    EXPECT_EQ(link.cardNumber, 6);
    EXPECT_EQ(link.messageKind, 2);
    EXPECT_EQ(
        platform::PrivateProfile::getString(ini(), QStringLiteral("Adapter.Object.3"), QStringLiteral("MBXDeviceName")),
        QStringLiteral("Second_Card"));
    EXPECT_EQ(MBXInitCard(link.cardNumber), 1);
    EXPECT_EQ(MBXStopCard(link.cardNumber), 1);
}

TEST_F(SetupWindowTest, CancelledCardSelectionKeepsTheCard)
{
    SimConfigFile sim(SimConfigFile::device(3, 1502, "Bench Card"));
    open("[Adapter.Object.1]\nEnabled=1\nType=1\nMBXDeviceName=Old_Card\nMBXDeviceNumber=2\n");
    ModalScript script;
    script.then([](QWidget* dialog) {
        if (auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel")))
            cancel->click();
    });
    click("cmdSelect");
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(child<QLabel>("lblMBXName")->text(), QStringLiteral("Old_Card"));
    EXPECT_EQ(child<QLabel>("lblMBXNum")->text(), QStringLiteral("2"));
}

TEST_F(SetupWindowTest, FailedSaveIsReportedAndKeepsTheWindow)
{
    open(QByteArray());
    // The file cannot be replaced: a directory stands where it should be.
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("PLCDRV.INI")));
    click("chkEnabled");
    click("cmdApply");
    ModalScript script;
    script.answer(QMessageBox::Yes).answer(QMessageBox::Ok);
    EXPECT_FALSE(closeWith(script));
    EXPECT_TRUE(script.wait());
    ASSERT_EQ(script.messages().size(), 2);
    EXPECT_TRUE(script.messages()[1].startsWith(QStringLiteral("The adapter settings could not be saved")));
    EXPECT_EQ(script.icons()[1], QMessageBox::Critical);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->table().record(0).enabled, 1);
}

} // namespace
