// The "MBX Devices" dialog through mpbridge's MBXSelectDevice, with the
// stand-in MBX driver describing the devices (build/lib/mbxsim on
// LD_LIBRARY_PATH, its device list in a temporary MBXSIM_CONFIG file).
#include "mpbridge/mpbridge.h"
#include "support/modal_script.h"
#include "support/screenshot.h"
#include "support/sim_config_file.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include <cstring>
#include <string>

namespace {

using chronel::test::ModalScript;
using chronel::test::SaveScreenshot;

std::string Device(int number, bool physical, const std::string& name, const std::string& protocol = "Modbus Plus",
    const std::string& card = "SA85 stand-in", const std::string& description = "Bench")
{
    return "[Device " + std::to_string(number) + "]\nPhysical=" + (physical ? "1" : "0") + "\nProtocol=" + protocol +
        "\nCard=" + card + "\nName=" + name + "\nDescription=" + description + "\n";
}

// What the dialog showed while it was open.
struct Seen {
    QStringList entries;
    bool okEnabled = false;
    QStringList details; // Physical/Logical, number, protocol, card, description
};

QStringList Details(QWidget* dialog)
{
    QStringList values;
    for (const char* name :
        {"lblPhysical", "lblDeviceNumber", "lblProtocol", "lblCardDescription", "lblDeviceDescription"}) {
        auto* label = dialog->findChild<QLabel*>(QLatin1String(name));
        values << (label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name)));
    }
    return values;
}

void Look(QWidget* dialog, Seen& seen)
{
    auto* list = dialog->findChild<QComboBox*>(QStringLiteral("cmbDevices"));
    auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"));
    ASSERT_NE(list, nullptr);
    ASSERT_NE(ok, nullptr);
    for (int i = 0; i < list->count(); ++i)
        seen.entries << list->itemText(i);
    seen.okEnabled = ok->isEnabled();
    seen.details = Details(dialog);
}

void Press(QWidget* dialog, const char* button)
{
    auto* b = dialog->findChild<QPushButton*>(QLatin1String(button));
    ASSERT_NE(b, nullptr) << button;
    b->click();
}

class DeviceDialog : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MBXDriverAvailable(), 0) << "the stand-in must be on LD_LIBRARY_PATH"; }

    // Runs MBXSelectDevice with the outputs preset to recognisable values.
    void select(int* devicePointer = nullptr)
    {
        std::memset(name_, '#', sizeof name_);
        MBXSelectDevice(devicePointer ? devicePointer : &device_, name_);
        EXPECT_TRUE(script_.wait());
        EXPECT_TRUE(script_.unexpected().isEmpty()) << script_.unexpected().join(QLatin1Char('|')).toStdString();
    }
    std::string name() const { return std::string(name_, sizeof name_); }

    ModalScript script_;
    int device_ = 99;
    char name_[80];
};

TEST_F(DeviceDialog, ListsPhysicalDevicesAndReturnsTheChosenOne)
{
    SimConfigFile sim(Device(4, true, "Bench Card", "Modbus Plus", "SA85 stand-in", "Line 1") +
        Device(5, false, "Logical Card") + Device(9, true, "Spare", "MB+ Net 2", "PCI-85", "Line 2"));
    Seen first;
    Seen second;
    script_.then([&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("MBX Devices"));
        Look(dialog, first);
        auto* list = dialog->findChild<QComboBox*>(QStringLiteral("cmbDevices"));
        list->setCurrentIndex(1);
        second.details = Details(dialog);
        EXPECT_TRUE(SaveScreenshot(dialog, QStringLiteral("mbx_devices.png")));
        Press(dialog, "cmdOK");
    });
    select();

    EXPECT_EQ(first.entries, (QStringList{QStringLiteral("Bench_Card"), QStringLiteral("Spare")}));
    EXPECT_TRUE(first.okEnabled);
    EXPECT_EQ(first.details,
        (QStringList{QStringLiteral("Physical"), QStringLiteral("4"), QStringLiteral("Modbus Plus"),
            QStringLiteral("SA85 stand-in"), QStringLiteral("Line 1")}));
    EXPECT_EQ(second.details,
        (QStringList{QStringLiteral("Physical"), QStringLiteral("9"), QStringLiteral("MB+ Net 2"),
            QStringLiteral("PCI-85"), QStringLiteral("Line 2")}));
    EXPECT_EQ(device_, 9);
    // No terminating zero: the caller's bytes after the name stay.
    EXPECT_EQ(name(), "Spare" + std::string(sizeof name_ - 5, '#'));
}

TEST_F(DeviceDialog, SpacesOfTheNameComeBackAsUnderscores)
{
    SimConfigFile sim(Device(2, true, "A B C"));
    Seen seen;
    script_.then([&](QWidget* dialog) {
        Look(dialog, seen);
        Press(dialog, "cmdOK");
    });
    select();
    EXPECT_EQ(seen.entries, QStringList{QStringLiteral("A_B_C")});
    EXPECT_EQ(device_, 2);
    EXPECT_EQ(name().substr(0, 6), "A_B_C#");
}

TEST_F(DeviceDialog, LongestNameFillsSixtyFourBytesAtMost)
{
    // The stand-in cuts descriptions to its 64-byte buffers, terminator included.
    SimConfigFile sim(Device(1, true, std::string(80, 'N')));
    script_.then([](QWidget* dialog) { Press(dialog, "cmdOK"); });
    select();
    EXPECT_EQ(device_, 1);
    EXPECT_EQ(name(), std::string(63, 'N') + std::string(sizeof name_ - 63, '#'));
}

TEST_F(DeviceDialog, CancelLeavesBothOutputs)
{
    SimConfigFile sim(Device(4, true, "Bench Card"));
    script_.then([](QWidget* dialog) { Press(dialog, "cmdCancel"); });
    select();
    EXPECT_EQ(device_, 99);
    EXPECT_EQ(name(), std::string(sizeof name_, '#'));
}

TEST_F(DeviceDialog, NullDeviceLeavesTheNameToo)
{
    SimConfigFile sim(Device(4, true, "Bench Card"));
    script_.then([](QWidget* dialog) { Press(dialog, "cmdOK"); });
    std::memset(name_, '#', sizeof name_);
    MBXSelectDevice(nullptr, name_);
    EXPECT_TRUE(script_.wait());
    EXPECT_EQ(name(), std::string(sizeof name_, '#'));
}

TEST_F(DeviceDialog, OnlyLogicalDevicesGiveAnEmptyListAndNoOk)
{
    SimConfigFile sim(Device(5, false, "Logical Card") + Device(6, false, "Another"));
    Seen seen;
    script_.then([&](QWidget* dialog) {
        Look(dialog, seen);
        Press(dialog, "cmdOK"); // refused: nothing to choose
        EXPECT_TRUE(dialog->isVisible());
        Press(dialog, "cmdCancel");
    });
    select();
    EXPECT_TRUE(seen.entries.isEmpty());
    EXPECT_FALSE(seen.okEnabled);
    EXPECT_EQ(seen.details,
        (QStringList{QStringLiteral("Physical"), QStringLiteral("0"), QStringLiteral("Protocol"),
            QStringLiteral("Card Descr"), QStringLiteral("Device Descr")}));
    EXPECT_EQ(device_, 99);
}

// Enumerations that cannot be opened: a device list without devices, and no
// device list at all.
class DeviceDialogWithoutDevices : public DeviceDialog, public testing::WithParamInterface<bool> { };

TEST_P(DeviceDialogWithoutDevices, SaysNoDevicesConfiguredAndKeepsOkDisabled)
{
    std::optional<SimConfigFile> sim;
    if (GetParam())
        sim.emplace("# no devices\n");
    else
        qunsetenv("MBXSIM_CONFIG");
    Seen seen;
    script_.answer(QMessageBox::Ok).then([&](QWidget* dialog) {
        Look(dialog, seen);
        Press(dialog, "cmdCancel");
    });
    select();
    EXPECT_EQ(script_.messages(), QStringList{QStringLiteral("No MBX Devices Configured")});
    EXPECT_TRUE(seen.entries.isEmpty());
    EXPECT_FALSE(seen.okEnabled);
    EXPECT_EQ(device_, 99);
    EXPECT_EQ(name(), std::string(sizeof name_, '#'));
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceDialogWithoutDevices, testing::Values(true, false),
    [](const auto& info) { return info.param ? "EmptyDeviceList" : "NoDeviceListAtAll"; });

} // namespace
