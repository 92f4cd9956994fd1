// The property page "Control Settings", driven with QTest under the
// offscreen platform: lists, help lines, range checks on apply, cancel, and a
// screenshot of the page for the build tree.
#include "test_support.h"

#include "regaccess/dispatch.h"
#include "regaccess/plctag.h"
#include "regaccess/property_bag.h"
#include "regaccess/property_page.h"
#include "support/modal_script.h"
#include "support/screenshot.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace regaccess {
namespace {

class PropertyPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<PropertyPage>(control);
        page->show();
        QApplication::setActiveWindow(page.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
    }
    void TearDown() override
    {
        if (QMessageBox* box = page->rangeMessage())
            box->close();
        page.reset();
    }

    template <typename T> T* field(const char* name) { return page->findChild<T*>(QLatin1String(name)); }
    void type(const char* name, const QString& text)
    {
        QLineEdit* edit = field<QLineEdit>(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    Plctag control;
    std::unique_ptr<PropertyPage> page;
};

TEST_F(PropertyPageTest, OpensWithTheControlsValuesAndTheEightAdapters)
{
    EXPECT_EQ(page->windowTitle(), QStringLiteral("Control Settings"));
    EXPECT_EQ(field<QLineEdit>("Host")->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(field<QLineEdit>("Port")->text(), QStringLiteral("8001"));
    EXPECT_EQ(field<QLineEdit>("TimeToLive")->text(), QStringLiteral("500"));
    EXPECT_EQ(field<QLineEdit>("RoutePath")->text(), QStringLiteral("1.0.0.0.0"));
    EXPECT_EQ(field<QLineEdit>("Address")->text(), QStringLiteral("1"));
    EXPECT_EQ(field<QLineEdit>("Size")->text(), QStringLiteral("1"));
    EXPECT_EQ(field<QLineEdit>("SlaveReg")->text(), QStringLiteral("40001"));
    QComboBox* adapter = field<QComboBox>("Adapter");
    ASSERT_EQ(adapter->count(), 8);
    EXPECT_EQ(adapter->itemText(0), QStringLiteral("0 - Adapter 0"));
    EXPECT_EQ(adapter->itemText(7), QStringLiteral("7 - Adapter 7"));
    EXPECT_EQ(field<QComboBox>("RegType")->itemText(3), QStringLiteral("3 - 4xxxx (Hold Regs)"));
    EXPECT_EQ(field<QComboBox>("Function")->itemText(1), QStringLiteral("1 - Write Regs"));
    for (const char* list : {"Adapter", "RegType", "Function"})
        EXPECT_EQ(field<QComboBox>(list)->currentIndex(), 0) << list;
}

struct HelpCase {
    const char* field;
    const char* help;
};

class HelpLineTest : public PropertyPageTest, public ::testing::WithParamInterface<HelpCase> { };

TEST_P(HelpLineTest, FocusShowsTheFieldsHelp)
{
    QWidget* widget = page->findChild<QWidget*>(QLatin1String(GetParam().field));
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(4, 4));
    widget->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(page->helpText(), QLatin1String(GetParam().help));
    EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("helpLine"))->text(), QLatin1String(GetParam().help));
}

INSTANTIATE_TEST_SUITE_P(Fields, HelpLineTest,
    ::testing::Values(HelpCase{"Host", "IP Address of Gateway Server"},
        HelpCase{"Port", "UDP Port Number for Gateway Server"},
        HelpCase{"TimeToLive", "Max Time (secs.) to Wait for Server Reply"},
        HelpCase{"Adapter", "Logical Adapter to Use"}, HelpCase{"RoutePath", "PLC Network (Node) Address"},
        HelpCase{"RegType", "PLC Register Type to Read/Write"},
        HelpCase{"Address", "Starting Register Address (Offset) 1-65535"},
        HelpCase{"Function", "Type of Command to Execute"}, HelpCase{"Size", "Number of Data Points to Read/Write"},
        HelpCase{"SlaveReg", "Starting Register Address for Unsolicited Messages"}),
    [](const auto& info) { return std::string(info.param.field); });

TEST_F(PropertyPageTest, ListSelectionsShowTheHelpOfTheChoice)
{
    QComboBox* function = field<QComboBox>("Function");
    function->setFocus();
    QTest::keyClick(function, Qt::Key_Down);
    EXPECT_EQ(function->currentIndex(), 1);
    EXPECT_EQ(page->helpText(), QStringLiteral("Write a block of .RegType data points to PLC"));
    QTest::keyClick(function, Qt::Key_Up);
    EXPECT_EQ(page->helpText(), QStringLiteral("Read a block of .RegType data points from PLC"));

    QComboBox* regType = field<QComboBox>("RegType");
    regType->setCurrentIndex(2);
    EXPECT_EQ(page->helpText(), QStringLiteral("Operate on a block of PLC INPUT Registers (Analog Inputs)"));
    regType->setCurrentIndex(0);
    EXPECT_EQ(page->helpText(), QStringLiteral("Operate on a block of PLC COIL bits (Discrete Outputs)"));
}

struct RangeCase {
    const char* field;
    const char* value;
    bool accepted;
    const char* message; // shown when refused
};

class RangeTest : public PropertyPageTest, public ::testing::WithParamInterface<RangeCase> { };

TEST_P(RangeTest, ApplyChecksTheFieldRange)
{
    const RangeCase& c = GetParam();
    const PersistedProperties before = persistedProperties(control);
    // A valid edit of another field, which must not land when apply is refused.
    const bool probeIsSize = std::string(c.field) != "Size";
    type(probeIsSize ? "Size" : "RoutePath", probeIsSize ? QStringLiteral("77") : QStringLiteral("9.9"));
    type(c.field, QString::fromLatin1(c.value));
    const bool applied = page->apply();
    EXPECT_EQ(applied, c.accepted);
    if (c.accepted) {
        EXPECT_EQ(page->rangeMessage(), nullptr);
        if (probeIsSize) {
            EXPECT_EQ(control.Size(), 77);
        } else {
            EXPECT_EQ(control.RoutePath(), QStringLiteral("9.9"));
        }
        EXPECT_EQ(control.property(c.field).toString(), QString::fromLatin1(c.value));
        EXPECT_TRUE(control.isModified());
    } else {
        ASSERT_NE(page->rangeMessage(), nullptr);
        EXPECT_EQ(page->rangeMessage()->text(), QLatin1String(c.message));
        EXPECT_EQ(page->focusWidget(), field<QLineEdit>(c.field)) << "the refused field has the focus";
        EXPECT_EQ(persistedProperties(control), before) << "nothing is written";
        EXPECT_FALSE(control.isModified());
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, RangeTest,
    ::testing::Values(RangeCase{"TimeToLive", "32627", true, ""},
        RangeCase{"TimeToLive", "32700", false, "Please enter an integer between 1 and 32627."},
        RangeCase{"TimeToLive", "0", false, "Please enter an integer between 1 and 32627."},
        RangeCase{"Address", "0", false, "Please enter an integer between 1 and 65536."},
        RangeCase{"Address", "65536", true, ""},
        RangeCase{"Port", "0", false, "Please enter an integer between 1 and 65535."},
        RangeCase{"Port", "502", true, ""}, RangeCase{"Size", "2000", true, ""},
        RangeCase{"Size", "2001", false, "Please enter an integer between 1 and 2000."},
        RangeCase{"SlaveReg", "40000", false, "Please enter an integer between 40001 and 49999."},
        RangeCase{"SlaveReg", "49999", true, ""}, RangeCase{"Size", "12a", false, "Please enter an integer."},
        RangeCase{"Host", "abcdefghijklmnopqrstuvwxyz0123456", false, "Please enter no more than 32 characters."},
        RangeCase{"Host", "abcdefghijklmnopqrstuvwxyz012345", true, ""},
        RangeCase{"RoutePath", "1.2.3.4.5.1.2.3.4.5.1.2.3.4.5.1.2", false, "Please enter no more than 32 characters."}),
    [](const auto& info) {
        std::string name = std::string(info.param.field) + "_" + (info.param.accepted ? "accepts_" : "refuses_");
        for (const char* p = info.param.value; *p && name.size() < 40; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(PropertyPageTest, ApplyButtonWritesFieldsAndListIndexes)
{
    type("Host", QStringLiteral("10.1.2.3"));
    type("RoutePath", QStringLiteral("255.0.0.0.0"));
    field<QComboBox>("Adapter")->setCurrentIndex(5);
    field<QComboBox>("RegType")->setCurrentIndex(3);
    field<QComboBox>("Function")->setCurrentIndex(1);
    type("Port", QStringLiteral("65535"));
    auto* buttons = page->findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Apply), Qt::LeftButton);
    EXPECT_EQ(control.Host(), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(control.RoutePath(), QStringLiteral("255.0.0.0.0"));
    EXPECT_EQ(control.Adapter(), 5);
    EXPECT_EQ(control.RegType(), 3);
    EXPECT_EQ(control.Function(), 1);
    EXPECT_TRUE(page->isVisible());

    // The 16-bit Port shows as the port number on the next opening.
    PropertyPage again(control);
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("Port"))->text(), QStringLiteral("65535"));
}

TEST_F(PropertyPageTest, ClosingWithoutApplyChangesNothing)
{
    const PersistedProperties before = persistedProperties(control);
    type("Host", QStringLiteral("10.9.9.9"));
    type("Size", QStringLiteral("99"));
    field<QComboBox>("Adapter")->setCurrentIndex(2);
    auto* buttons = page->findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(persistedProperties(control), before);
    EXPECT_FALSE(control.isModified());
}

TEST_F(PropertyPageTest, OkWithAFieldOutOfRangeKeepsThePageOpen)
{
    type("Address", QStringLiteral("0"));
    auto* buttons = page->findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_TRUE(page->isVisible());
    ASSERT_NE(page->rangeMessage(), nullptr);
    page->rangeMessage()->close();
    QTest::qWait(10);
    EXPECT_EQ(page->focusWidget(), field<QLineEdit>("Address"));
    type("Address", QStringLiteral("100"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(control.Address(), 100);
}

TEST(PropertyPageValuesTest, ValuesTheListsCannotShowAreLeftAlone)
{
    Plctag control;
    control.setFunction(9);
    control.setRegType(6);
    control.setAdapter(-1);
    PropertyPage page(control);
    EXPECT_EQ(page.findChild<QComboBox*>(QStringLiteral("Function"))->currentIndex(), -1);
    ASSERT_TRUE(page.apply());
    EXPECT_EQ(control.Function(), 9);
    EXPECT_EQ(control.RegType(), 6);
    EXPECT_EQ(control.Adapter(), -1);
}

TEST(AboutBoxTest, ShowsAModalBoxWithProductAndVersionByNameAndDispid)
{
    Plctag control;
    for (int round = 0; round < 2; ++round) {
        chronel::test::ModalScript script;
        script.answer(QMessageBox::Ok);
        if (round == 0)
            control.AboutBox();
        else
            ASSERT_TRUE(invoke(control, dispid::AboutBox, DispatchKind::Method).ok());
        ASSERT_TRUE(script.wait());
        const QString shown = script.messages().value(0);
        EXPECT_TRUE(shown.contains(QStringLiteral("PLCTAG"))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QStringLiteral("4.0")));
    }
}

TEST(PropertyPageScreenshotTest, WritesThePageIntoTheBuildTree)
{
    Plctag control;
    control.setHost(QStringLiteral("192.168.0.40"));
    control.setRoutePath(QStringLiteral("255.0.0.0.0"));
    control.setRegType(3);
    control.setSize(100);
    PropertyPage page(control);
    page.show();
    QApplication::setActiveWindow(&page);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    page.findChild<QLineEdit*>(QStringLiteral("TimeToLive"))->setFocus();
    QTest::qWait(20);
    const QString path = chronel::test::ScreenshotPath(QStringLiteral("plctag_property_page.png"));
    ASSERT_FALSE(path.isEmpty());
    const QImage image = page.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 300);
    ASSERT_TRUE(image.save(path));
    EXPECT_FALSE(QImage(path).isNull());
}

} // namespace
} // namespace regaccess
