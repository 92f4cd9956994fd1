// Without any libmbxapi.so on the library path: mpbridge loads but the MBX
// driver is not available. DRVSETUP says so before any dialog, and the
// device dialog itself cannot list anything.
#include "drvsetup/setup_window.h"
#include "mpbridge/mpbridge.h"
#include "support/modal_script.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

using chronel::test::ModalScript;

TEST(NoMbxDriver, SelectSaysDriversNotAvailableAndKeepsTheCard)
{
    ASSERT_NE(MBXDriverAvailable(), 0) << "a libmbxapi.so was found; LD_LIBRARY_PATH must not name one";
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Adapter.Object.1]\nEnabled=1\nType=1\nMBXDeviceName=Old_Card\nMBXDeviceNumber=2\n");
    }
    drvsetup::SetupWindow window(ini, ini);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* select = window.findChild<QPushButton*>(QStringLiteral("cmdSelect"));
    ASSERT_NE(select, nullptr);
    ASSERT_TRUE(select->isEnabled());

    ModalScript script;
    script.answer(QMessageBox::Ok);
    select->click();
    EXPECT_TRUE(script.wait());
    EXPECT_TRUE(script.unexpected().isEmpty()) << script.unexpected().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(script.messages(), QStringList{QStringLiteral("MBX Drivers Not Available")});
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblMBXName"))->text(), QStringLiteral("Old_Card"));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblMBXNum"))->text(), QStringLiteral("2"));
}

TEST(NoMbxDriver, DeviceDialogListsNothingAndReturnsNothing)
{
    ASSERT_NE(MBXDriverAvailable(), 0);
    bool okEnabled = true;
    int entries = -1;
    ModalScript script;
    script.answer(QMessageBox::Ok).then([&](QWidget* dialog) {
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"));
        auto* list = dialog->findChild<QComboBox*>(QStringLiteral("cmbDevices"));
        if (ok != nullptr && list != nullptr) {
            okEnabled = ok->isEnabled();
            entries = list->count();
            ok->click();
        }
        if (auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel")))
            cancel->click();
    });
    int device = 42;
    char name[64];
    std::memset(name, '#', sizeof name);
    MBXSelectDevice(&device, name);
    EXPECT_TRUE(script.wait());
    EXPECT_EQ(script.messages(), QStringList{QStringLiteral("No MBX Devices Configured")});
    EXPECT_FALSE(okEnabled);
    EXPECT_EQ(entries, 0);
    EXPECT_EQ(device, 42);
    EXPECT_EQ(std::string(name, sizeof name), std::string(64, '#'));
}

} // namespace
