// The start-up status window on a widget application (offscreen platform):
// its fixed texts and layout, and one window per adapter start that is gone
// when the start is over.
#include "driver/driver_app.h"
#include "driver/status_window.h"
#include "driver_harness.h"
#include "platform/serial_port.h"
#include "pty_peer.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace drivertest;
using plcdrv::DriverApp;
using plcdrv::StatusWindow;

namespace {

std::vector<StatusWindow*> StatusWindows()
{
    std::vector<StatusWindow*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = dynamic_cast<StatusWindow*>(widget))
            found.push_back(window);
    }
    return found;
}

QString LabelText(QWidget* window, const char* name)
{
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

TEST(StatusWindow, ShowsItsTitleCaptionAndStatusCentredOnTheScreen)
{
    StatusWindow window;
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_EQ(LabelText(&window, "title"), QStringLiteral("Arvenco VEXA Modbus/Modbus Plus Driver"));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_TRUE(LabelText(&window, "status").isEmpty());

    window.setCaption(QStringLiteral("Starting Adapter 2 As COM7"));
    window.setStatusText(QStringLiteral("Initializing COM7:"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Starting Adapter 2 As COM7"));
    EXPECT_EQ(window.statusText(), QStringLiteral("Initializing COM7:"));
    EXPECT_EQ(LabelText(&window, "status"), QStringLiteral("Initializing COM7:"));

    EXPECT_EQ(window.size(), window.dialogUnits(0, 0, 227, 42).size());
    auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->geometry(), window.dialogUnits(7, 22, 213, 10));
    EXPECT_EQ(status->frameShadow(), QFrame::Sunken);
    const QPoint offCentre =
        window.frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
}

TEST(StatusWindow, FactoryGivesNothingOffTheGuiThread)
{
    const auto factory = plcdrv::StatusWindowFactory();
    bool created = true;
    std::thread worker([&] { created = factory() != nullptr; });
    worker.join();
    EXPECT_FALSE(created);
    EXPECT_NE(factory(), nullptr);
}

TEST(StatusWindow, OneWindowPerAdapterStartEachGoneWhenItsStartIsOver)
{
    PtyPair first, second, held;
    ASSERT_TRUE(first.ok() && second.ok() && held.ok());
    platform::SerialPort other;
    ASSERT_TRUE(other.open(held.slavePath()));
    IniFile ini(IniFile::ports({{1, first.slavePath()}, {2, second.slavePath()}, {3, held.slavePath()}}) +
        IniFile::serial(1, 1) + IniFile::serial(2, 2) + IniFile::serial(4, 3));

    // What was on the screen whenever the driver had something to say, and
    // each window as it went.
    std::vector<std::string> seen;
    const auto realFactory = plcdrv::StatusWindowFactory();
    struct Watcher final : plcdrv::StartupDisplay {
        Watcher(std::unique_ptr<plcdrv::StartupDisplay> real, std::vector<std::string>& seen)
            : real(std::move(real)), seen(seen)
        {
        }
        ~Watcher() override
        {
            auto* window = dynamic_cast<StatusWindow*>(real.get());
            seen.push_back("closing '" + window->windowTitle().toStdString() + "' status '" +
                window->statusText().toStdString() + "' visible " + (window->isVisible() ? "1" : "0"));
        }
        void setCaption(const QString& c) override { real->setCaption(c); }
        void setStatusText(const QString& t) override { real->setStatusText(t); }
        std::unique_ptr<plcdrv::StartupDisplay> real;
        std::vector<std::string>& seen;
    };
    DriverApp app(DriverApp::Environment{
        [&](const QString& text) {
            const auto windows = StatusWindows();
            seen.push_back("message '" + text.toStdString() + "' over " + std::to_string(windows.size()) +
                " window(s) showing '" +
                (windows.empty() ? std::string() : LabelText(windows[0], "status").toStdString()) + "'");
        },
        [&]() -> std::unique_ptr<plcdrv::StartupDisplay> {
            auto real = realFactory();
            return real ? std::make_unique<Watcher>(std::move(real), seen) : nullptr;
        }});
    ASSERT_TRUE(app.start(ini.path()));

    EXPECT_EQ(seen,
        (std::vector<std::string>{
            "closing 'Starting Adapter 1 As COM1' status 'Starting COM1: Asynchronous I/O' visible 1",
            "closing 'Starting Adapter 2 As COM2' status 'Starting COM2: Asynchronous I/O' visible 1",
            "message 'Error Opening COM3: - Error Code 00000010' over 1 window(s) showing "
            "'Initializing COM3:'",
            "closing 'Starting Adapter 4 As COM3' status 'Initializing COM3:' visible 1",
        }));
    EXPECT_TRUE(StatusWindows().empty());
    EXPECT_EQ(app.runningAdapters(), (std::vector<int>{1, 2}));
}

TEST(StatusWindow, NoneWhenDialogShowIsZero)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    IniFile ini(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1));
    int created = 0;
    const auto realFactory = plcdrv::StatusWindowFactory();
    DriverApp app(DriverApp::Environment{nullptr, [&] {
                                             ++created;
                                             return realFactory();
                                         }});
    ASSERT_TRUE(app.start(ini.path()));
    EXPECT_EQ(created, 0);
    EXPECT_EQ(app.runningAdapters(), std::vector<int>{1});
}

} // namespace
